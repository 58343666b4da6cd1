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
};
