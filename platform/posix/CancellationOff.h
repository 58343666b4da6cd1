#pragma once
// Turns the calling thread's cancellation off for a scope. The layers above promise that a
// thread cancelled during one of their calls leaves no lock held and is not aborted; their calls
// are noexcept, so the unwinding of a cancellation must never start inside them. Only slow paths
// (file operations, sleeps) reach cancellation points, so only they pay for this.
#include <pthread.h>

namespace quorvane::platform {

class CancellationOff {
  public:
    CancellationOff() { ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_previous); }
    CancellationOff(const CancellationOff&) = delete;
    CancellationOff& operator=(const CancellationOff&) = delete;
    ~CancellationOff() { ::pthread_setcancelstate(m_previous, nullptr); }

  private:
    int m_previous = PTHREAD_CANCEL_ENABLE;
};

}  // namespace quorvane::platform
