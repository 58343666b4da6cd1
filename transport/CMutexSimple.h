#pragma once
#include "platform/Win32.h"

// A named mutex obtained for this process without waiting; an abandoned mutex counts as obtained.
// Ownership belongs to the thread that called getMutex(): releaseMutex() and the destructor
// must run on that thread to give it up (a mutex whose owner thread ends is abandoned).
class CMutexSimple {
  public:
    CMutexSimple() = default;
    CMutexSimple(const CMutexSimple&) = delete;
    CMutexSimple& operator=(const CMutexSimple&) = delete;
    // Releases the mutex if it is held.
    ~CMutexSimple();

    // Nonzero when the mutex `name` is now held by this object. A mutex held before is released
    // first. A mutex owned by another thread or process is not waited for.
    BOOL getMutex(const char* name);
    // Releases and closes the held mutex; zero when none was held or the release was refused.
    BOOL releaseMutex();
    bool isHeld() const { return m_handle != nullptr; }

  private:
    HANDLE m_handle = nullptr;
};
