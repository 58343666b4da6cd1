#include "platform/posix/Namespace.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/HeldFiles.h"
#include "platform/posix/NamespaceLock.h"
#include "platform/posix/ObjectHandles.h"

namespace quorvane::platform {
namespace {

constexpr std::uint32_t kObjectMagic = 0x4F4B5651;  // "QVKO"
constexpr std::uint32_t kLayoutVersion = 1;
// Positions tried for names whose file names collide; a 128-bit hash makes a second one rare.
constexpr int kCollisionChainLength = 4;

struct ObjectHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t kind;
    std::uint32_t nameLength;
    std::uint64_t sectionSize;
    char name[kMaxStoredNameLength];
};
static_assert(sizeof(ObjectHeader) <= kStateOffset);

bool flockRetrying(int fd, int operation) {
    for (;;) {
        if (::flock(fd, operation) == 0) return true;
        if (errno != EINTR) return false;
    }
}

std::uint64_t fnv1a(std::string_view text, std::uint64_t seed) {
    std::uint64_t hash = seed;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string objectPath(const std::string& directory, std::string_view name, int chainPosition) {
    char fileName[64];
    std::snprintf(fileName, sizeof fileName, "/o-%016llx%016llx-%d",
                  static_cast<unsigned long long>(fnv1a(name, 0xCBF29CE484222325ull)),
                  static_cast<unsigned long long>(fnv1a(name, 0x84222325CBF29CE4ull)),
                  chainPosition);
    return directory + fileName;
}

DWORD verifyPrivateDirectory(const std::string& directory) {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) return win32ErrorFromErrno(errno);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// Maps the header page of an open object file.
DWORD mapHeaderPage(int fd, void*& page) {
    void* mapped = ::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return win32ErrorFromErrno(errno);
    page = mapped;
    return ERROR_SUCCESS;
}

bool headerNames(const ObjectHeader* header, std::string_view name) {
    return header->magic == kObjectMagic && header->version == kLayoutVersion &&
           header->nameLength == name.size() &&
           std::memcmp(header->name, name.data(), name.size()) == 0;
}

// Fills a new object file: header page, section space, state. Runs under the name-space lock
// with the file held exclusively, so nobody sees it half made.
DWORD initializeFile(int fd, ObjectKind kind, std::string_view name, std::uint64_t sectionSize,
                     const StateInitializer& initialize, void*& page) {
    if (::ftruncate(fd, 0) != 0) return win32ErrorFromErrno(errno);
    std::uint64_t total = kPageSize;
    if (kind == ObjectKind::Section) total += sectionSize;
    // Reserve the memory now: on a full tmpfs a lazily backed page would fault with SIGBUS later.
    int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(total));
    if (rc != 0) return rc == ENOSPC ? ERROR_NOT_ENOUGH_MEMORY : win32ErrorFromErrno(rc);
    if (DWORD error = mapHeaderPage(fd, page); error != ERROR_SUCCESS) return error;
    auto* header = static_cast<ObjectHeader*>(page);
    header->version = kLayoutVersion;
    header->kind = static_cast<std::uint32_t>(kind);
    header->nameLength = static_cast<std::uint32_t>(name.size());
    header->sectionSize = kind == ObjectKind::Section ? sectionSize : 0;
    if (!name.empty()) std::memcpy(header->name, name.data(), name.size());
    if (initialize) initialize(static_cast<char*>(page) + kStateOffset);
    // The magic goes last: a file without it was never finished.
    __atomic_store_n(&header->magic, kObjectMagic, __ATOMIC_RELEASE);
    return ERROR_SUCCESS;
}

// Removes what sits where an object file should: anything but a directory is unlinked, a
// directory only when empty. Returns whether the place is free now.
bool removeForeignEntry(const std::string& path, const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return ::rmdir(path.c_str()) == 0;
    return ::unlink(path.c_str()) == 0;
}

// Records the file's identity and holds it.
DWORD adopt(FileDescriptor& fd, void* page, std::uint64_t sectionSize, std::string path,
            NamedObjectFile& out) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return win32ErrorFromErrno(errno);
    out.fd = fd.release();
    out.headerPage = page;
    out.sectionSize = sectionSize;
    out.path = std::move(path);
    out.ownerPid = ::getpid();
    out.device = info.st_dev;
    out.inode = info.st_ino;
    if (!out.path.empty()) holdFile(&out);
    return ERROR_SUCCESS;
}

void prepareFork() {
    lockNamespaceForFork();
    lockHeldFilesForFork();
    lockHandleTableForFork();
    lockViewsForFork();
}

void resumeParent() {
    unlockViewsAfterFork();
    unlockHandleTableAfterFork();
    unlockHeldFilesInParent();
    unlockNamespaceAfterFork();
}

void resumeChild() {
    unlockViewsAfterFork();
    unlockHandleTableAfterFork();
    settleHeldFilesInChild();
    unlockNamespaceAfterFork();
}

[[maybe_unused]] const bool g_forkHandlers = (RegisterForkHandlers(), true);

}  // namespace

std::string namespaceDirectoryPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string loginRuntime = "/run/user/" + std::to_string(::geteuid());
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/quorvane";
    // What XDG_RUNTIME_DIR names in a login session: a program started without it (a cron job,
    // a service) still meets the programs of the user's desktop.
    if (verifyPrivateDirectory(loginRuntime) == ERROR_SUCCESS) return loginRuntime + "/quorvane";
    struct stat info {};
    const char* base =
        (::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode)) ? "/dev/shm" : "/tmp";
    return std::string(base) + "/quorvane-" + std::to_string(::geteuid());
}

DWORD namespaceDirectory(std::string& directory) {
    directory = namespaceDirectoryPath();
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return win32ErrorFromErrno(errno);
    return verifyPrivateDirectory(directory);
}

DWORD createOrOpenNamed(ObjectKind kind, std::string_view name, std::uint64_t sectionSize,
                        const StateInitializer& initialize, NamedObjectFile& out) {
    if (name.size() > kMaxStoredNameLength) return ERROR_FILENAME_EXCED_RANGE;
    std::string directory;
    if (DWORD error = namespaceDirectory(directory); error != ERROR_SUCCESS) return error;
    NamespaceLock lock(directory);
    if (lock.error() != ERROR_SUCCESS) return lock.error();

    // First look for a live object of this name; remember the first place a new one could go.
    int freePosition = -1;
    for (int position = 0; position < kCollisionChainLength; ++position) {
        std::string path = objectPath(directory, name, position);
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) return win32ErrorFromErrno(errno);
            if (freePosition < 0) freePosition = position;
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            // No object of ours is anything but a regular file, and nobody can hold this one:
            // clear it away, or leave the place to it when it cannot be removed.
            if (removeForeignEntry(path, info) && freePosition < 0) freePosition = position;
            continue;
        }
        FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (fd.get() < 0) {
            if (errno == ENOENT) {
                if (freePosition < 0) freePosition = position;
                continue;
            }
            return win32ErrorFromErrno(errno);
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: its holders are gone. The place is free for a fresh object.
            ::unlink(path.c_str());
            if (freePosition < 0) freePosition = position;
            continue;
        }
        if (!flockRetrying(fd.get(), LOCK_SH)) return win32ErrorFromErrno(errno);
        // A held file cut shorter than its header page, or than the section its header
        // announces, would fault on first touch: refuse it instead.
        if (::fstat(fd.get(), &info) != 0) return win32ErrorFromErrno(errno);
        if (static_cast<std::uint64_t>(info.st_size) < kPageSize) return ERROR_FILE_CORRUPT;
        void* page = nullptr;
        if (DWORD error = mapHeaderPage(fd.get(), page); error != ERROR_SUCCESS) return error;
        auto* header = static_cast<ObjectHeader*>(page);
        if (!headerNames(header, name)) {
            ::munmap(page, kPageSize);
            continue;  // another name that hashes alike
        }
        if (header->kind != static_cast<std::uint32_t>(kind)) {
            ::munmap(page, kPageSize);
            return ERROR_INVALID_HANDLE;
        }
        const std::uint64_t sectionSize = header->sectionSize;
        if (kind == ObjectKind::Section &&
            (sectionSize == 0 ||
             static_cast<std::uint64_t>(info.st_size) - kPageSize < sectionSize)) {
            ::munmap(page, kPageSize);
            return ERROR_FILE_CORRUPT;
        }
        if (DWORD error = adopt(fd, page, sectionSize, std::move(path), out);
            error != ERROR_SUCCESS) {
            ::munmap(page, kPageSize);
            return error;
        }
        return ERROR_ALREADY_EXISTS;
    }
    if (freePosition < 0) return ERROR_NOT_ENOUGH_MEMORY;

    std::string path = objectPath(directory, name, freePosition);
    FileDescriptor fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) return win32ErrorFromErrno(errno);
    void* page = nullptr;
    DWORD error = initializeFile(fd.get(), kind, name, sectionSize, initialize, page);
    if (error == ERROR_SUCCESS && !flockRetrying(fd.get(), LOCK_SH))
        error = win32ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS)
        error = adopt(fd, page, kind == ObjectKind::Section ? sectionSize : 0, path, out);
    if (error != ERROR_SUCCESS) {
        if (page != nullptr) ::munmap(page, kPageSize);
        ::unlink(path.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD createAnonymous(ObjectKind kind, std::uint64_t sectionSize,
                      const StateInitializer& initialize, NamedObjectFile& out) {
    FileDescriptor fd(::memfd_create("quorvane", MFD_CLOEXEC));
    if (fd.get() < 0) return win32ErrorFromErrno(errno);
    void* page = nullptr;
    if (DWORD error = initializeFile(fd.get(), kind, {}, sectionSize, initialize, page);
        error != ERROR_SUCCESS) {
        if (page != nullptr) ::munmap(page, kPageSize);
        return error;
    }
    if (DWORD error = adopt(fd, page, kind == ObjectKind::Section ? sectionSize : 0, {}, out);
        error != ERROR_SUCCESS) {
        ::munmap(page, kPageSize);
        return error;
    }
    return ERROR_SUCCESS;
}

void closeNamed(NamedObjectFile& file) {
    if (file.headerPage != nullptr) {
        ::munmap(file.headerPage, kPageSize);
        file.headerPage = nullptr;
    }
    if (file.fd < 0) return;
    // A descriptor the program closed or reused is no longer ours to lock or close.
    const bool ours = descriptorStillOurs(file);
    if (!file.path.empty()) {
        releaseHeldFile(&file);
        if (ours && mayJudgeLastHolder(file)) {
            NamespaceLock lock(file.path.substr(0, file.path.rfind('/')));
            // Under the lock nobody opens or closes; if no other holder remains, the object goes.
            if (lock.error() == ERROR_SUCCESS && ::flock(file.fd, LOCK_EX | LOCK_NB) == 0)
                ::unlink(file.path.c_str());
        }
    }
    if (ours) ::close(file.fd);
    file.fd = -1;
}

}  // namespace quorvane::platform

void RegisterForkHandlers() {
    using namespace quorvane::platform;
    static const int registered = ::pthread_atfork(prepareFork, resumeParent, resumeChild);
    static_cast<void>(registered);
}
