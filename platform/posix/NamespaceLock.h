#pragma once
// The lock that opening and closing named objects serialise on: an exclusive flock of the name
// space's lock file, for other processes, under a mutex of this process, for its other threads
// and for fork(). A child never starts with the flock held by a thread it does not have: fork
// waits until the lock is let go.

#include <string>

#include "platform/Win32.h"

namespace quorvane::platform {

class NamespaceLock {
  public:
    // Takes the lock of `directory`, waiting a bounded time; error() says whether it was taken.
    explicit NamespaceLock(const std::string& directory);
    NamespaceLock(const NamespaceLock&) = delete;
    NamespaceLock& operator=(const NamespaceLock&) = delete;
    ~NamespaceLock();

    // ERROR_SUCCESS once held; ERROR_TIMEOUT when another process held it throughout the wait;
    // another Win32 code when the lock file could not be opened.
    DWORD error() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_ownsMutex = false;
    DWORD m_error = ERROR_SUCCESS;
};

// The lock file's path in `directory`.
std::string namespaceLockPath(const std::string& directory);

// For the fork handlers: held across fork() so that no thread is inside a NamespaceLock then.
void lockNamespaceForFork();
void unlockNamespaceAfterFork();

}  // namespace quorvane::platform
