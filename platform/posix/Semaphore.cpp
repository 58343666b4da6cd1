// Named semaphores: one futex word with the count and a "someone may sleep" bit. They hold no
// lock a killed process could leave behind; a release makes a system call only when a waiter
// sleeps.
#include <atomic>
#include <cerrno>
#include <climits>
#include <new>

#include "platform/Win32.h"
#include "platform/posix/FutexWait.h"
#include "platform/posix/ObjectHandles.h"
#include "platform/posix/ObjectWait.h"

namespace quorvane::platform {

// A semaphore is one futex word: the count in the low 31 bits and, on top, a bit that says a
// waiter may sleep. A release that finds the bit clears it and wakes every sleeper; a waiter
// that sleeps again sets it again. A waiter killed while asleep thus leaves at most one
// needless wake behind, never a count that stays raised.
struct SemaphoreState {
    std::atomic<std::uint32_t> word;
    std::int32_t maximum;
};
static_assert(sizeof(SemaphoreState) + kStateOffset <= kPageSize);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

namespace {

// Rounds of polling on a semaphore's count before the wait goes to sleep: enough to catch a
// release already under way. Longer polling measured slower: it keeps a sender and a receiver
// on two cores in lock-step over the same cache lines.
constexpr int kSpinRounds = 50;

constexpr std::uint32_t kCountMask = 0x7FFFFFFFu;
constexpr std::uint32_t kWaitersBit = 0x80000000u;
// The longest a waiter sleeps before it looks at the count again by itself, so that a releaser
// killed between raising the count and waking nobody can strand a sleeper for longer.
constexpr long kSemaphoreSleepSliceNs = 100'000'000;
constexpr DWORD kMaxNapMicroseconds = 999'999;  // a nap's time fits one timespec's nanoseconds

bool tryTakeCount(SemaphoreState* state) {
    std::uint32_t word = state->word.load(std::memory_order_relaxed);
    while ((word & kCountMask) > 0) {
        if (state->word.compare_exchange_weak(word, word - 1, std::memory_order_acquire,
                                              std::memory_order_relaxed))
            return true;
    }
    return false;
}

bool countAvailable(const SemaphoreState* state) {
    return (state->word.load(std::memory_order_acquire) & kCountMask) > 0;
}

// Waits until the count is above zero, then takes one when `take` is set. Sleeps only while the
// count is zero, in slices, after setting the waiters bit.
DWORD waitSemaphore(SemaphoreState* state, DWORD milliseconds, bool take) {
    auto ready = [&] { return take ? tryTakeCount(state) : countAvailable(state); };
    if (ready()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    for (int round = 0; round < kSpinRounds; ++round) {
        cpuRelax();
        if (countAvailable(state) && ready()) return WAIT_OBJECT_0;
    }
    timespec deadline{};
    if (milliseconds != INFINITE) deadline = deadlineAfter(milliseconds);
    for (;;) {
        std::uint32_t word = state->word.load(std::memory_order_relaxed);
        if ((word & kCountMask) != 0) {
            if (ready()) return WAIT_OBJECT_0;
            continue;
        }
        if (milliseconds != INFINITE && !before(monotonicAfter(0), deadline)) return WAIT_TIMEOUT;
        if ((word & kWaitersBit) == 0 &&
            !state->word.compare_exchange_weak(word, kWaitersBit, std::memory_order_seq_cst,
                                               std::memory_order_relaxed))
            continue;
        timespec wakeAt = monotonicAfter(kSemaphoreSleepSliceNs);
        if (milliseconds != INFINITE && before(deadline, wakeAt)) wakeAt = deadline;
        futex(&state->word, FUTEX_WAIT_BITSET, static_cast<int>(kWaitersBit), &wakeAt,
              FUTEX_BITSET_MATCH_ANY);
    }
}

// Adds to the count and clears the waiters bit; `wakeOwed` tells whether it was set.
BOOL raiseSemaphore(SemaphoreState* state, LONG releaseCount, LPLONG previousCount,
                    bool& wakeOwed) {
    if (releaseCount <= 0) return fail(ERROR_INVALID_PARAMETER);
    std::uint32_t word = state->word.load(std::memory_order_relaxed);
    std::int32_t count = 0;
    do {
        count = static_cast<std::int32_t>(word & kCountMask);
        if (count > state->maximum - releaseCount) return fail(ERROR_TOO_MANY_POSTS);
    } while (
        !state->word.compare_exchange_weak(word, static_cast<std::uint32_t>(count + releaseCount),
                                           std::memory_order_seq_cst, std::memory_order_relaxed));
    wakeOwed = (word & kWaitersBit) != 0;
    if (previousCount != nullptr) *previousCount = count;
    return TRUE;
}

// A take and a raise for the holder of the one lock every take and raise of this semaphore is
// made under: while the count is above zero the waiters bit is clear and no waiter changes the
// word (a waiter sets its bit only on a zero count), so a plain store does what the atomic
// update would. A raise from zero still races a waiter setting its bit, and stays atomic.
bool takeCountLocked(SemaphoreState* state) {
    const std::uint32_t word = state->word.load(std::memory_order_relaxed);
    if ((word & kCountMask) == 0) return false;
    state->word.store(word - 1, std::memory_order_relaxed);
    return true;
}

BOOL raiseSemaphoreLocked(SemaphoreState* state, LONG releaseCount, LPLONG previousCount,
                          bool& wakeOwed) {
    const std::uint32_t word = state->word.load(std::memory_order_relaxed);
    const auto count = static_cast<std::int32_t>(word & kCountMask);
    if (count == 0 || releaseCount <= 0)
        return raiseSemaphore(state, releaseCount, previousCount, wakeOwed);
    if (count > state->maximum - releaseCount) return fail(ERROR_TOO_MANY_POSTS);
    state->word.store(static_cast<std::uint32_t>(count + releaseCount), std::memory_order_release);
    wakeOwed = false;
    if (previousCount != nullptr) *previousCount = count;
    return TRUE;
}

LONG countOf(const SemaphoreState* state) {
    return static_cast<LONG>(state->word.load(std::memory_order_acquire) & kCountMask);
}

// The object behind a handle, as the calls that take one find it; null for a bad handle, which
// the object calls then refuse.
PSYNC_OBJECT asSyncObject(HANDLE handle) {
    return reinterpret_cast<PSYNC_OBJECT>(lookupHandle(handle));
}

void wakeSemaphoreSleepers(SemaphoreState* state) {
    futex(&state->word, FUTEX_WAKE, INT_MAX, nullptr, 0);
}

// A timed futex wait on the word as it is, without the waiters bit: a release changes the word
// (so a nap that has not begun yet is skipped) but, finding no bit, makes no wake call.
DWORD napSemaphore(SemaphoreState* state, DWORD microseconds) {
    const std::uint32_t word = state->word.load(std::memory_order_acquire);
    if ((word & kCountMask) != 0) return WAIT_OBJECT_0;
    if (microseconds > kMaxNapMicroseconds) microseconds = kMaxNapMicroseconds;
    const timespec nap{0, static_cast<long>(microseconds) * 1000L};
    futex(&state->word, FUTEX_WAIT, static_cast<int>(word), &nap, 0);
    return countAvailable(state) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL releaseSemaphore(SemaphoreState* state, LONG releaseCount, LPLONG previousCount) {
    bool wakeOwed = false;
    if (!raiseSemaphore(state, releaseCount, previousCount, wakeOwed)) return FALSE;
    if (wakeOwed) wakeSemaphoreSleepers(state);
    return TRUE;
}

}  // namespace

DWORD waitSemaphoreState(void* state, DWORD milliseconds) {
    return waitSemaphore(static_cast<SemaphoreState*>(state), milliseconds, true);
}

}  // namespace quorvane::platform

using namespace quorvane::platform;

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount)
        return failHandle(ERROR_INVALID_PARAMETER);
    bool created = false;
    return createObject(
        ObjectKind::Semaphore, name, 0,
        [&](void* memory) {
            auto* state = new (memory) SemaphoreState;
            state->word.store(static_cast<std::uint32_t>(initialCount), std::memory_order_relaxed);
            state->maximum = maximumCount;
        },
        created);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    return releaseSemaphore(static_cast<SemaphoreState*>(object->state), releaseCount,
                            previousCount);
}

BOOL RaiseSemaphore(HANDLE semaphore, LONG releaseCount, BOOL* wakeOwed) {
    return RaiseSemaphoreObject(asSyncObject(semaphore), releaseCount, wakeOwed);
}

BOOL WakeSemaphoreSleepers(HANDLE semaphore) {
    return WakeSemaphoreObjectSleepers(asSyncObject(semaphore));
}

DWORD WaitForSemaphoreAvailable(HANDLE semaphore, DWORD milliseconds) {
    return WaitForSemaphoreObjectAvailable(asSyncObject(semaphore), milliseconds);
}

BOOL GetSemaphoreCount(HANDLE semaphore, LPLONG count) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr || count == nullptr) return fail(ERROR_INVALID_HANDLE);
    *count = countOf(static_cast<SemaphoreState*>(object->state));
    return TRUE;
}

BOOL RaiseSemaphoreObject(PSYNC_OBJECT semaphore, LONG releaseCount, BOOL* wakeOwed,
                          LPLONG previousCount) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    bool owed = false;
    const BOOL raised = raiseSemaphore(static_cast<SemaphoreState*>(object->state), releaseCount,
                                       previousCount, owed);
    if (wakeOwed != nullptr) *wakeOwed = owed ? TRUE : FALSE;
    return raised;
}

BOOL WakeSemaphoreObjectSleepers(PSYNC_OBJECT semaphore) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    wakeSemaphoreSleepers(static_cast<SemaphoreState*>(object->state));
    return TRUE;
}

DWORD WaitForSemaphoreObjectAvailable(PSYNC_OBJECT semaphore, DWORD milliseconds) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return WAIT_FAILED;
    return waitSemaphore(static_cast<SemaphoreState*>(object->state), milliseconds, false);
}

LONG GetSemaphoreObjectCount(PSYNC_OBJECT semaphore) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    return object == nullptr ? 0 : countOf(static_cast<SemaphoreState*>(object->state));
}

DWORD NapOnSemaphoreObject(PSYNC_OBJECT semaphore, DWORD microseconds) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return WAIT_FAILED;
    return napSemaphore(static_cast<SemaphoreState*>(object->state), microseconds);
}

BOOL TakeSemaphoreObjectLocked(PSYNC_OBJECT semaphore) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    return takeCountLocked(static_cast<SemaphoreState*>(object->state)) ? TRUE : FALSE;
}

BOOL RaiseSemaphoreObjectLocked(PSYNC_OBJECT semaphore, LONG releaseCount, BOOL* wakeOwed,
                                LPLONG previousCount) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    bool owed = false;
    const BOOL raised = raiseSemaphoreLocked(static_cast<SemaphoreState*>(object->state),
                                             releaseCount, previousCount, owed);
    if (wakeOwed != nullptr) *wakeOwed = owed ? TRUE : FALSE;
    return raised;
}
