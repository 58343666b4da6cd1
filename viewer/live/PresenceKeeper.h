#pragma once
#include <QTimer>
#include <vector>

#include "platform/Registry.h"
#include "platform/Win32.h"
#include "transport/ReaderPresence.h"

// Tells clients that a viewer runs: the presence mutex, held while the viewer runs, and the
// registry flag, 1 while a viewer runs. Both ride on the viewer's ReaderPresence, which also
// names the viewer to readers of its mailbox that start later, and finds those already running.
//
// At start the mutex is tried six times with pauses (once only when a reader that is no viewer,
// quorvane-tail, holds it: it keeps it as long as it runs); a viewer that still finds it held by
// another keeps trying once a second without waiting, and takes it (setting the flag again) when
// that viewer ends. At the end the flag becomes 0 when no other viewer holds the mutex, and
// otherwise gets back the value read at start. All calls belong to the thread that made it.
class PresenceKeeper {
  public:
    static constexpr int kStartAttempts = 6;
    static constexpr DWORD kStartRetryMs = 500;
    static constexpr int kRetryPeriodMs = 1000;
    static constexpr const char* kMutexName = "QuorvaneMutex_Alive";
    // How the viewer is named to other readers.
    static constexpr const char* kReaderProgram = "quorvane-viewer";

    PresenceKeeper();
    PresenceKeeper(const PresenceKeeper&) = delete;
    PresenceKeeper& operator=(const PresenceKeeper&) = delete;
    // Withdraws.
    ~PresenceKeeper();

    // Finds the other readers of the trace mailbox and joins them, then takes the mutex (pausing
    // between attempts) and sets the flag.
    void announce();
    // One attempt at the mutex without waiting, made by the retry timer; true when it is held.
    bool retry();
    // Releases the mutex and leaves the flag as described above; later calls do nothing.
    void withdraw();

    bool holdsMutex() const { return m_reader.holdsPresence(); }
    bool isRetrying() const { return m_retryTimer.isActive(); }
    // The pauses announce() made waiting for the mutex.
    int startPauses() const { return m_startPauses; }
    // The readers of the same mailbox found running when the viewer announced itself.
    const std::vector<MarkedProcess>& otherReaders() const { return m_otherReaders; }

  private:
    void writeFlag(DWORD value);
    // True when the mutex is held by one of the other readers that is no viewer.
    bool heldByReaderOfAnotherKind() const;

    ReaderPresence m_reader;
    std::vector<MarkedProcess> m_otherReaders;
    HKEY m_key = nullptr;
    // The flag as read at start; 0 when it was absent.
    DWORD m_savedFlag = 0;
    QTimer m_retryTimer;
    int m_startPauses = 0;
};
