#pragma once
// What a trace call takes from the calling thread and the process besides its arguments: the
// sender key, the origin name, the time and the thread's record sequence number, and the mark
// that the thread is inside a trace call (which a signal handler tracing on it finds).
#include <atomic>
#include <cstdint>

class CQuorvane;

namespace quorvane {

// Set while this thread is inside a trace call. A signal handler that traces on the same
// thread finds it set and drops its record: going on would reach the ring's guard, which this
// thread already holds, and write into the slot the interrupted call is filling. Initial-exec,
// so that reading it never allocates, even in a library loaded with dlopen.
extern __attribute__((tls_model("initial-exec"))) thread_local bool t_inTraceCall;
// The calling thread's last record sequence number. Every call that makes a record takes the
// next one, also when its record is then dropped, so that the viewer sees the gap.
extern __attribute__((tls_model("initial-exec"))) thread_local std::uint32_t t_sequence;

// Marks the calling thread as inside a trace call for its lifetime, unless it already was.
class TraceCall {
  public:
    TraceCall() noexcept : m_entered(!t_inTraceCall) {
        if (m_entered) {
            t_inTraceCall = true;
            std::atomic_signal_fence(std::memory_order_seq_cst);
        }
    }
    TraceCall(const TraceCall&) = delete;
    TraceCall& operator=(const TraceCall&) = delete;
    ~TraceCall() {
        if (m_entered) {
            std::atomic_signal_fence(std::memory_order_seq_cst);
            t_inTraceCall = false;
        }
    }
    // True when this call interrupted another trace call of the same thread.
    bool interrupts() const noexcept { return !m_entered; }

  private:
    const bool m_entered;
};

// Stamps the time to the nanosecond and `sequence`.
void stampTime(CQuorvane& record, std::uint32_t sequence);
// Stamps the origin name; takes a lock only when the name changed since this thread last looked.
void stampOrigin(CQuorvane& record);

// For the fork handlers: the origin's lock is held across fork(), and a forked child's thread
// has a new id.
void lockOriginForFork();
void unlockOriginAfterFork();
void forgetThreadIdInChild();

}  // namespace quorvane
