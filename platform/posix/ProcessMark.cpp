// Marks as files in the "marks" directory of the user's name space, one per process and group:
// "m-<hash of the group>-<pid>", holding the process id, the program and the group, each ended
// by a NUL. The owner holds an exclusive flock on its file; a file whose lock can be taken
// belongs to a process that has ended. Placing a mark and looking for marks both run under the
// name space's lock, so a file is never taken for stale between its creation and its lock.
#include "platform/ProcessMark.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/CancellationOff.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/Namespace.h"
#include "platform/posix/NamespaceLock.h"

using quorvane::platform::CancellationOff;
using quorvane::platform::FileDescriptor;
using quorvane::platform::NamespaceLock;

namespace {

// The most a mark file can hold: a process id, a program name and a group name.
constexpr std::size_t kMaxMarkBytes = 4096;

std::uint64_t hashOf(std::string_view text, std::uint64_t seed) {
    std::uint64_t hash = seed;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

// What every mark file of `group` starts its name with.
std::string groupPrefix(std::string_view group) {
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "m-%016llx%016llx-",
                  static_cast<unsigned long long>(hashOf(group, 0xCBF29CE484222325ull)),
                  static_cast<unsigned long long>(hashOf(group, 0x84222325CBF29CE4ull)));
    return prefix;
}

// The marks directory, made on first use; its parent is the private name-space directory.
DWORD marksDirectory(std::string& namespacePath, std::string& marksPath) {
    if (DWORD error = quorvane::platform::namespaceDirectory(namespacePath); error != ERROR_SUCCESS)
        return error;
    marksPath = namespacePath + "/marks";
    if (::mkdir(marksPath.c_str(), 0700) != 0 && errno != EEXIST) return win32ErrorFromErrno(errno);
    struct stat info {};
    if (::lstat(marksPath.c_str(), &info) != 0) return win32ErrorFromErrno(errno);
    if (!S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

bool processRuns(DWORD processId) {
    return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

// Reads a held mark of `group`; false when it is not one (another group that hashes alike, or
// a file cut short).
bool readMark(int fd, std::string_view group, MarkedProcess& found) {
    std::string text(kMaxMarkBytes, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got =
            ::pread(fd, text.data() + length, text.size() - length, static_cast<off_t>(length));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    text.resize(length);
    const std::size_t pidEnd = text.find('\0');
    if (pidEnd == std::string::npos) return false;
    const std::size_t programEnd = text.find('\0', pidEnd + 1);
    if (programEnd == std::string::npos || text.size() < programEnd + 2 || text.back() != '\0' ||
        std::string_view(text).substr(programEnd + 1, text.size() - programEnd - 2) != group)
        return false;
    found.processId = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
    found.program = text.substr(pidEnd + 1, programEnd - pidEnd - 1);
    return found.processId != 0;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        written += static_cast<std::size_t>(put);
    }
    return true;
}

// The marks of `group` in `marksPath` held by running processes other than this one, sorted by
// process id; removes the marks of ended processes. Runs under the name space's lock.
std::vector<MarkedProcess> scanMarks(const std::string& marksPath, std::string_view group) {
    std::vector<MarkedProcess> found;
    DIR* directory = ::opendir(marksPath.c_str());
    if (directory == nullptr) return found;
    const std::string prefix = groupPrefix(group);
    const DWORD self = static_cast<DWORD>(::getpid());
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name(entry->d_name);
        if (name.substr(0, prefix.size()) != prefix) continue;
        const std::string path = marksPath + "/" + std::string(name);
        FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (fd.get() < 0) continue;
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) {
            // Nobody holds it: the process that placed it has ended.
            ::unlink(path.c_str());
            continue;
        }
        MarkedProcess process;
        if (!readMark(fd.get(), group, process) || process.processId == self) continue;
        // Held only by a child that process forked: the process itself has ended.
        if (!processRuns(process.processId)) continue;
        found.push_back(std::move(process));
    }
    ::closedir(directory);
    std::sort(found.begin(), found.end(), [](const MarkedProcess& a, const MarkedProcess& b) {
        return a.processId < b.processId;
    });
    return found;
}

}  // namespace

ProcessMark::~ProcessMark() {
    remove();
}

DWORD ProcessMark::place(std::string_view group, std::string_view program,
                         std::vector<MarkedProcess>* othersFound) {
    remove();
    if (group.find('\0') != std::string_view::npos || program.find('\0') != std::string_view::npos)
        return ERROR_INVALID_PARAMETER;
    const std::string text =
        std::to_string(::getpid()) + '\0' + std::string(program) + '\0' + std::string(group) + '\0';
    if (text.size() > kMaxMarkBytes) return ERROR_FILENAME_EXCED_RANGE;
    const CancellationOff cancellationOff;
    std::string namespacePath;
    std::string marksPath;
    if (DWORD error = marksDirectory(namespacePath, marksPath); error != ERROR_SUCCESS)
        return error;
    NamespaceLock lock(namespacePath);
    if (lock.error() != ERROR_SUCCESS) return lock.error();
    if (othersFound != nullptr) *othersFound = scanMarks(marksPath, group);
    std::string path = marksPath + "/" + groupPrefix(group) + std::to_string(::getpid());
    // A file of this name belongs to an ended process that had this id (or a child it forked).
    ::unlink(path.c_str());
    FileDescriptor fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) return win32ErrorFromErrno(errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || !writeAll(fd.get(), text)) {
        const DWORD error = win32ErrorFromErrno(errno);
        ::unlink(path.c_str());
        return error;
    }
    m_fd = fd.release();
    m_ownerPid = ::getpid();
    m_path = std::move(path);
    return ERROR_SUCCESS;
}

void ProcessMark::remove() {
    if (m_fd < 0) return;
    // A forked child closes its copy but leaves the file to the process that placed it.
    if (m_ownerPid == ::getpid()) ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

std::vector<MarkedProcess> FindMarkedProcesses(std::string_view group) {
    const CancellationOff cancellationOff;
    std::string namespacePath;
    std::string marksPath;
    if (marksDirectory(namespacePath, marksPath) != ERROR_SUCCESS) return {};
    NamespaceLock lock(namespacePath);
    if (lock.error() != ERROR_SUCCESS) return {};
    return scanMarks(marksPath, group);
}
