#include "platform/posix/HeldFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/NamespaceLock.h"

namespace quorvane::platform {
namespace {

// Shared by a process and every child forked from it (a page mapped shared and anonymous before
// the first fork): how many forks happened while files were held, and how many of those children
// gave every inherited file a description of its own. While the two differ, some description may
// still be shared, and no process of the family judges by its own lock alone.
struct ForkCounts {
    std::atomic<std::uint64_t> forks;
    std::atomic<std::uint64_t> settled;
};

class HeldFiles {
  public:
    void add(NamedObjectFile* file) {
        std::lock_guard guard(m_mutex);
        if (!m_exitHookInstalled) m_exitHookInstalled = std::atexit(removeOwnLeftovers) == 0;
        if (m_forkCounts.load(std::memory_order_relaxed) == nullptr) {
            void* page = ::mmap(nullptr, sizeof(ForkCounts), PROT_READ | PROT_WRITE,
                                MAP_SHARED | MAP_ANONYMOUS, -1, 0);
            if (page != MAP_FAILED)
                m_forkCounts.store(new (page) ForkCounts{{0}, {0}}, std::memory_order_release);
        }
        m_files.push_back(file);
    }
    void remove(NamedObjectFile* file) {
        std::lock_guard guard(m_mutex);
        std::erase(m_files, file);
    }

    // Without the shared page a fork cannot be followed: the family counts as unsettled.
    bool familySettled() const {
        const ForkCounts* counts = m_forkCounts.load(std::memory_order_acquire);
        return counts != nullptr && counts->settled.load(std::memory_order_acquire) ==
                                        counts->forks.load(std::memory_order_acquire);
    }

    // Only a fork that copies held files counts; the child sees the same list and agrees.
    void lockForFork() {
        m_mutex.lock();
        if (ForkCounts* counts = m_forkCounts.load(std::memory_order_relaxed);
            counts != nullptr && !m_files.empty())
            counts->forks.fetch_add(1, std::memory_order_acq_rel);
    }
    void unlockInParent() { m_mutex.unlock(); }
    void settleInChild();

  private:
    static void removeOwnLeftovers();

    std::mutex m_mutex;
    std::vector<NamedObjectFile*> m_files;
    bool m_exitHookInstalled = false;
    std::atomic<ForkCounts*> m_forkCounts{nullptr};
};

// Never destroyed: the exit hook and late closers may still use it after static destruction.
HeldFiles& heldFiles() {
    static HeldFiles* const files = new HeldFiles;
    return *files;
}

// Runs in the child between fork() and its return, so only system calls: the inherited
// description is reopened through /proc (which reaches the file even if unlinked), locked
// shared, and put in place of the inherited descriptor under the same number.
void HeldFiles::settleInChild() {
    bool settled = true;
    const int self = ::getpid();
    for (NamedObjectFile* file : m_files) {
        if (file->fd < 0 || !descriptorStillOurs(*file)) continue;
        char path[48];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", file->fd);
        const int own = ::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (own < 0) {
            settled = false;
            continue;
        }
        struct stat info {};
        if (::fstat(own, &info) != 0 || info.st_dev != file->device || info.st_ino != file->inode ||
            ::flock(own, LOCK_SH | LOCK_NB) != 0 || ::dup3(own, file->fd, O_CLOEXEC) < 0) {
            ::close(own);
            settled = false;
            continue;
        }
        ::close(own);
        file->ownerPid = self;
    }
    ForkCounts* counts = m_forkCounts.load(std::memory_order_relaxed);
    if (settled && counts != nullptr && !m_files.empty())
        counts->settled.fetch_add(1, std::memory_order_acq_rel);
    m_mutex.unlock();
}

void HeldFiles::removeOwnLeftovers() {
    HeldFiles& self = heldFiles();
    std::vector<std::string> directories;
    {
        std::lock_guard guard(self.m_mutex);
        for (const NamedObjectFile* file : self.m_files) {
            std::string directory = file->path.substr(0, file->path.rfind('/'));
            if (std::find(directories.begin(), directories.end(), directory) == directories.end())
                directories.push_back(std::move(directory));
        }
    }
    for (const std::string& directory : directories) {
        // The name-space lock first, as an opener takes it before registering its file.
        NamespaceLock lock(directory);
        if (lock.error() != ERROR_SUCCESS) continue;
        std::lock_guard guard(self.m_mutex);
        // Several handles of this process on one object each hold a lock of their own: drop all
        // but one per file, so that the last-holder test below sees only the other processes.
        // The lock is dropped, not the descriptor: a mapped header page would keep it alive. The
        // views stay mapped, so threads still tracing keep working until the process is gone.
        std::vector<NamedObjectFile*> kept;
        for (NamedObjectFile* file : self.m_files) {
            if (file->path.compare(0, directory.size() + 1, directory + "/") != 0 ||
                !mayJudgeLastHolder(*file) || !descriptorStillOurs(*file))
                continue;
            const bool seen = std::any_of(kept.begin(), kept.end(), [&](NamedObjectFile* other) {
                return other->path == file->path;
            });
            if (seen) {
                ::flock(file->fd, LOCK_UN);
            } else {
                kept.push_back(file);
            }
        }
        for (NamedObjectFile* file : kept) {
            if (::flock(file->fd, LOCK_EX | LOCK_NB) != 0) continue;
            ::unlink(file->path.c_str());
            // A close after this must not remove a new object made under the same name.
            file->path.clear();
        }
    }
}

}  // namespace

void holdFile(NamedObjectFile* file) {
    heldFiles().add(file);
}

void releaseHeldFile(NamedObjectFile* file) {
    heldFiles().remove(file);
}

bool descriptorStillOurs(const NamedObjectFile& file) {
    struct stat info {};
    return file.fd >= 0 && ::fstat(file.fd, &info) == 0 && info.st_dev == file.device &&
           info.st_ino == file.inode;
}

bool mayJudgeLastHolder(const NamedObjectFile& file) {
    return file.ownerPid == ::getpid() && heldFiles().familySettled();
}

void lockHeldFilesForFork() {
    heldFiles().lockForFork();
}

void unlockHeldFilesInParent() {
    heldFiles().unlockInParent();
}

void settleHeldFilesInChild() {
    heldFiles().settleInChild();
}

}  // namespace quorvane::platform
