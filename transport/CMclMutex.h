#pragma once
#include "transport/CMclKernel.h"

// A mutex owned by a thread. Destruction releases it first (so the destroying owner releases
// rather than abandons it), then closes it.
class CMclMutex : public CMclKernel {
  public:
    CMclMutex(BOOL initialOwner, LPCSTR name, LPSECURITY_ATTRIBUTES securityAttributes = nullptr);
    ~CMclMutex() override;

    BOOL release();
    // Takes the mutex if it is free now; a held one, even by a dead owner, is left alone.
    bool tryTake() { return TryTakeMutexObject(m_syncObject) != FALSE; }
    // The process whose thread owns the mutex; 0 when it is free.
    DWORD ownerProcessId() const { return GetMutexOwnerProcessId(m_handle); }
};
