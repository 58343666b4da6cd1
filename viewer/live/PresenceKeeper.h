#pragma once
#include <QTimer>

#include "platform/Registry.h"
#include "platform/Win32.h"
#include "transport/CMutexSimple.h"

// Tells clients that a viewer runs: the presence mutex, held while the viewer runs, and the
// registry flag, 1 while a viewer runs.
//
// At start the mutex is tried six times with pauses; a viewer that still finds it held by
// another keeps trying once a second without waiting, and takes it (setting the flag again) when
// that viewer ends. At the end the flag becomes 0 when no other viewer holds the mutex, and
// otherwise gets back the value read at start. All calls belong to the thread that made it.
class PresenceKeeper {
  public:
    static constexpr int kStartAttempts = 6;
    static constexpr DWORD kStartRetryMs = 500;
    static constexpr int kRetryPeriodMs = 1000;
    static constexpr const char* kMutexName = "QuorvaneMutex_Alive";

    PresenceKeeper();
    PresenceKeeper(const PresenceKeeper&) = delete;
    PresenceKeeper& operator=(const PresenceKeeper&) = delete;
    // Withdraws.
    ~PresenceKeeper();

    // Takes the mutex (pausing between attempts) and sets the flag.
    void announce();
    // One attempt at the mutex without waiting, made by the retry timer; true when it is held.
    bool retry();
    // Releases the mutex and leaves the flag as described above; later calls do nothing.
    void withdraw();

    bool holdsMutex() const { return m_mutex.isHeld(); }
    bool isRetrying() const { return m_retryTimer.isActive(); }

  private:
    void writeFlag(DWORD value);

    CMutexSimple m_mutex;
    HKEY m_key = nullptr;
    // The flag as read at start; 0 when it was absent.
    DWORD m_savedFlag = 0;
    QTimer m_retryTimer;
};
