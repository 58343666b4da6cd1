// Sentences for the failures of named objects whose cause the error number alone does not name.
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Win32.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/Namespace.h"
#include "platform/posix/NamespaceLock.h"

namespace quorvane::platform {
namespace {

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    std::string text = "user " + std::to_string(uid);
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        text += std::string(" (") + found->pw_name + ")";
    return text;
}

std::string describeDirectory(const std::string& directory) {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) return directory + ": " + std::strerror(errno);
    if (S_ISLNK(info.st_mode))
        return directory + " is a symbolic link, not a directory of your own; remove it";
    if (!S_ISDIR(info.st_mode)) return directory + " is not a directory; remove it";
    if (info.st_uid != ::geteuid())
        return directory + " belongs to " + userName(info.st_uid) + ", not to you; remove it or " +
               "set XDG_RUNTIME_DIR";
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return directory + " is open to other users (mode " + mode + "); it must be 0700";
    }
    return {};
}

// The process holding a flock on the file of `inode`, from /proc/locks; 0 when none is seen.
long flockHolder(ino_t inode) {
    std::FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) return 0;
    char line[256];
    long holder = 0;
    const std::string suffix = ":" + std::to_string(inode) + " ";
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        long pid = 0;
        char kind[16] = {};
        char type[16] = {};
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5678 0 EOF"
        if (std::sscanf(line, "%*d: %15s %*s %15s %ld", kind, type, &pid) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(type, "WRITE") == 0 &&
            std::strstr(line, suffix.c_str()) != nullptr && pid != ::getpid())
            holder = pid;
    }
    std::fclose(locks);
    return holder;
}

std::string processName(long pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char name[64] = {};
    if (fd.get() < 0 || ::read(fd.get(), name, sizeof name - 1) <= 0) return {};
    name[std::strcspn(name, "\n")] = '\0';
    return std::string(" (") + name + ")";
}

std::string describeNamespaceLock() {
    const std::string path = namespaceLockPath(namespaceDirectoryPath());
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    const long holder = flockHolder(info.st_ino);
    if (holder == 0) return {};
    return "the lock " + path + " of the shared objects is held by process " +
           std::to_string(holder) + processName(holder) +
           ", which does not let go (stopped or hung)";
}

std::string describeFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    return "too many open files: this process may have at most " + std::to_string(limit.rlim_cur) +
           " (ulimit -n), or the system's limit is reached";
}

}  // namespace
}  // namespace quorvane::platform

std::string DescribeObjectError(DWORD error) {
    using namespace quorvane::platform;
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return describeDirectory(namespaceDirectoryPath());
        case ERROR_TIMEOUT:
            return describeNamespaceLock();
        case ERROR_TOO_MANY_OPEN_FILES:
            return describeFileLimit();
        default:
            return {};
    }
}
