#pragma once
#include "transport/CMclKernel.h"

// A counting semaphore with a maximum count.
class CMclSemaphore : public CMclKernel {
  public:
    CMclSemaphore(LONG initialCount, LONG maximumCount, LPCSTR name,
                  LPSECURITY_ATTRIBUTES securityAttributes = nullptr);
    ~CMclSemaphore() override;

    // Adds `count`; `previousCount`, when non-null, receives the count before a successful
    // release. A release past the maximum fails and changes nothing.
    BOOL release(LONG count, LONG* previousCount = nullptr);
    // release() in two halves: raise() adds `count` and returns whether sleepers are owed a
    // wake, which wakeSleepers() then gives (after a lock held meanwhile is let go).
    bool raise(LONG count, bool& wakeOwed, LONG* previousCount = nullptr);
    void wakeSleepers() { WakeSemaphoreObjectSleepers(m_syncObject); }
    // Takes one count if one is there, without waiting.
    bool tryAcquire() { return waitFor(0) == WAIT_OBJECT_0; }
    // tryAcquire() and raise() for the holder of the one lock every take and raise of this count
    // is made under (the mailbox's guard): cheaper, without a locked instruction while the count
    // is above zero.
    bool tryAcquireLocked() { return TakeSemaphoreObjectLocked(m_syncObject) != FALSE; }
    bool raiseLocked(LONG count, bool& wakeOwed, LONG* previousCount = nullptr) {
        BOOL owed = FALSE;
        const bool raised =
            RaiseSemaphoreObjectLocked(m_syncObject, count, &owed, previousCount) != FALSE;
        wakeOwed = raised && owed != FALSE;
        return raised;
    }
    // Waits until the count is above zero, taking nothing: WAIT_OBJECT_0 or WAIT_TIMEOUT.
    DWORD waitUntilAvailable(DWORD milliseconds) const;
    // Sleeps about `microseconds` while the count is zero without announcing a sleeper (releases
    // make no wake call meanwhile), then says WAIT_OBJECT_0 if the count is above zero.
    DWORD napUntilAvailable(DWORD microseconds) const {
        return NapOnSemaphoreObject(m_syncObject, microseconds);
    }
    // The current count (0 for a broken handle).
    LONG count() const;
};
