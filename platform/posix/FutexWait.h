#pragma once
// What every futex-based object here waits with: the futex call, a pause for spinning, and
// deadlines on the monotonic clock.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "platform/Win32.h"

namespace quorvane::platform {

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

constexpr long kNanosecondsPerSecond = 1'000'000'000L;

// The monotonic clock `nanoseconds` from now.
inline timespec monotonicAfter(long long nanoseconds) {
    timespec at{};
    ::clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_sec += static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
    at.tv_nsec += static_cast<long>(nanoseconds % kNanosecondsPerSecond);
    if (at.tv_nsec >= kNanosecondsPerSecond) {
        at.tv_sec += 1;
        at.tv_nsec -= kNanosecondsPerSecond;
    }
    return at;
}

inline timespec deadlineAfter(DWORD milliseconds) {
    return monotonicAfter(milliseconds * 1'000'000LL);
}

inline bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

inline long futex(void* address, int operation, int value, const timespec* timeout,
                  std::uint32_t mask) {
    return ::syscall(SYS_futex, address, operation, value, timeout, nullptr, mask);
}

}  // namespace quorvane::platform
