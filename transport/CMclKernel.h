#pragma once
#include "platform/Win32.h"
#include "transport/CMclWaitableObject.h"

// A named, cross-process kernel object. Its constructor (in a subclass) creates the object or
// opens the one another process created, and records which in `m_status`: 0 created (or
// unnamed), 183 opened. Failure raises the Win32 code.
class CMclKernel : public CMclWaitableObject {
  public:
    CMclKernel(const CMclKernel&) = delete;
    CMclKernel& operator=(const CMclKernel&) = delete;

    virtual HANDLE getHandle() const { return m_handle; }
    virtual DWORD getStatus() const { return m_status; }
    ~CMclKernel() override = 0;

    // Returns the wait result unchanged: 0, 128 (abandoned mutex), 258 (time-out) or WAIT_FAILED.
    DWORD waitFor(DWORD milliseconds) const;

  protected:
    CMclKernel() = default;
    // Records the outcome of a create call that returned `handle`; raises on failure.
    void adoptCreated(HANDLE handle, bool named);
    // For a mutex or a semaphore: finds the object behind the handle once, so that waits and
    // releases do not look the handle up each time.
    void resolveSyncObject();
    [[noreturn]] void raiseStatus() const;

    HANDLE m_handle = nullptr;
    PSYNC_OBJECT m_syncObject = nullptr;
    DWORD m_status = ERROR_INVALID_HANDLE;
};
