#pragma once
#include "transport/CMclKernel.h"

// A mutex owned by a thread. Destruction releases it first (so the destroying owner releases
// rather than abandons it), then closes it.
class CMclMutex : public CMclKernel {
  public:
    CMclMutex(BOOL initialOwner, LPCSTR name, LPSECURITY_ATTRIBUTES securityAttributes = nullptr);
    ~CMclMutex() override;

    BOOL release();
    // The process whose thread owns the mutex; 0 when it is free.
    DWORD ownerProcessId() const { return GetMutexOwnerProcessId(m_handle); }
};
