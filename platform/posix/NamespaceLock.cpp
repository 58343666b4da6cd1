#include "platform/posix/NamespaceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/posix/CancellationOff.h"

namespace quorvane::platform {
namespace {

// How long opening or closing an object waits for the name space's lock. It is held only for
// the few file operations of one open or close; a holder stopped in the middle (a debugger, a
// SIGSTOP) must not hang everyone else.
constexpr long kNamespaceLockTimeoutMs = 250;
constexpr long kLockPollFirstUs = 50;
constexpr long kLockPollLongestUs = 5000;

// Never destroyed: objects closed from static destructors still take it.
std::timed_mutex& processMutex() {
    static auto* const mutex = new std::timed_mutex;
    return *mutex;
}

}  // namespace

std::string namespaceLockPath(const std::string& directory) {
    return directory + "/.lock";
}

NamespaceLock::NamespaceLock(const std::string& directory) {
    // open() and usleep() are cancellation points: a cancelled thread must not unwind from here.
    const CancellationOff cancellationOff;
    if (!processMutex().try_lock_for(std::chrono::milliseconds(kNamespaceLockTimeoutMs))) {
        m_error = ERROR_TIMEOUT;
        return;
    }
    m_ownsMutex = true;
    const std::string path = namespaceLockPath(directory);
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_error = win32ErrorFromErrno(errno);
        return;
    }
    // flock has no time-out: poll it, with pauses that grow from 50 us to 5 ms.
    long pauseUs = kLockPollFirstUs;
    long waitedUs = 0;
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_error = win32ErrorFromErrno(errno);
            return;
        }
        if (waitedUs >= kNamespaceLockTimeoutMs * 1000) {
            m_error = ERROR_TIMEOUT;
            return;
        }
        ::usleep(static_cast<useconds_t>(pauseUs));
        waitedUs += pauseUs;
        pauseUs = std::min(pauseUs * 2, kLockPollLongestUs);
    }
}

NamespaceLock::~NamespaceLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing drops the flock, before the mutex lets fork go on
    if (m_ownsMutex) processMutex().unlock();
}

void lockNamespaceForFork() {
    processMutex().lock();
}

void unlockNamespaceAfterFork() {
    processMutex().unlock();
}

}  // namespace quorvane::platform
