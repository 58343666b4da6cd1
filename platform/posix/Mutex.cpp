// Named mutexes: a futex word holding the owner's thread id. A waiter that finds the owner
// thread gone (its process killed, or the thread ended) takes the mutex over and reports
// WAIT_ABANDONED. Uncontended, waiting and releasing are one atomic instruction each.
//
// Owners are recognised by kernel thread id, so processes sharing objects must share a pid
// name space, as processes of one user on one machine normally do.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Win32.h"
#include "platform/posix/CancellationOff.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/FutexWait.h"
#include "platform/posix/ObjectHandles.h"
#include "platform/posix/ObjectWait.h"

namespace quorvane::platform {

// A mutex is its owner's thread id in one futex word (0 when free), with a bit that says a
// waiter may sleep. The recursion count is touched only by the owner.
struct MutexState {
    std::atomic<std::uint32_t> word;
    std::uint32_t recursion;
};
static_assert(sizeof(MutexState) + kStateOffset <= kPageSize);

namespace {

constexpr std::uint32_t kOwnerMask = 0x3FFFFFFF;  // thread ids fit in 30 bits (PID_MAX_LIMIT)
constexpr std::uint32_t kSleepersBit = 0x80000000u;
// How often a sleeping waiter checks that the owner still lives: the latency of noticing an
// owner that died while holding the mutex.
constexpr long kOwnerCheckIntervalNs = 10'000'000;
// Rounds of pausing, without touching the lock, before a waiter tries a held mutex again (a few
// microseconds), and how many such tries it makes before it sleeps on it. A receiver draining a
// batch while a sender posts takes and lets go of the guard every few hundred nanoseconds; one
// try found it taken again often enough that both sides slept and woke each other through the
// kernel (about 5,600 futex calls per million records; four tries, about 1,600).
constexpr int kContendedBackoffRounds = 200;
constexpr int kContendedBackoffAttempts = 4;

thread_local std::uint32_t t_threadId = 0;

std::uint32_t currentThreadId() {
    if (t_threadId == 0) t_threadId = static_cast<std::uint32_t>(::gettid());
    return t_threadId;
}

// A forked child's thread has a new id.
[[maybe_unused]] const int g_forkHook = ::pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; });

// Whether the thread `threadId` still runs. An ended thread is gone, or a zombie while it was
// its process's main thread and nobody has reaped it yet.
bool threadAlive(std::uint32_t threadId) {
    if (::syscall(SYS_tkill, static_cast<pid_t>(threadId), 0) != 0 && errno == ESRCH) return false;
    const CancellationOff cancellationOff;  // open() and read() are cancellation points
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%u/stat", threadId);
    FileDescriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno != ENOENT;
    char text[512];
    ssize_t length = ::read(fd.get(), text, sizeof text - 1);
    if (length <= 0) return true;
    text[length] = '\0';
    // "pid (name) S ...": the name may itself hold parentheses, the state follows the last one.
    const char* close = std::strrchr(text, ')');
    if (close == nullptr || close[1] != ' ') return true;
    return close[2] != 'Z' && close[2] != 'X';
}

DWORD waitMutex(MutexState* state, DWORD milliseconds) {
    const std::uint32_t self = currentThreadId();
    std::uint32_t word = state->word.load(std::memory_order_relaxed);
    if ((word & kOwnerMask) == self) {
        ++state->recursion;
        return WAIT_OBJECT_0;
    }
    word = 0;
    if (state->word.compare_exchange_strong(word, self, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
        state->recursion = 1;
        return WAIT_OBJECT_0;
    }
    timespec deadline{};
    if (milliseconds != INFINITE) deadline = deadlineAfter(milliseconds);
    if (milliseconds != 0) {
        // Stay off the lock for a moment before queueing on it. Handing it over at every release
        // keeps a sender and a receiver on two cores bouncing the same cache lines record by
        // record; backing off lets the holder run through a batch of slots on its own (one
        // sender to one receiver: 2.4 M records/s handing over, about 6 M/s backing off).
        for (int attempt = 0; attempt < kContendedBackoffAttempts; ++attempt) {
            for (int round = 0; round < kContendedBackoffRounds; ++round) cpuRelax();
            word = 0;
            if (state->word.compare_exchange_strong(word, self, std::memory_order_acquire,
                                                    std::memory_order_relaxed)) {
                state->recursion = 1;
                return WAIT_OBJECT_0;
            }
        }
    }
    // Once a waiter has slept, whoever takes the mutex must assume others still sleep.
    std::uint32_t acquired = self | kSleepersBit;
    // Looking for a dead owner costs system calls: do it for a probe, and whenever a sleep ran
    // its full slice without a release waking it.
    bool checkOwner = milliseconds == 0;
    for (;;) {
        word = state->word.load(std::memory_order_relaxed);
        if (word == 0) {
            if (state->word.compare_exchange_weak(word, acquired, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) {
                state->recursion = 1;
                return WAIT_OBJECT_0;
            }
            continue;
        }
        if (checkOwner && !threadAlive(word & kOwnerMask)) {
            // Its owner ended without releasing it: take it over and say so.
            if (state->word.compare_exchange_strong(word, self | (word & kSleepersBit),
                                                    std::memory_order_acquire,
                                                    std::memory_order_relaxed)) {
                state->recursion = 1;
                return WAIT_ABANDONED;
            }
            continue;
        }
        if (milliseconds == 0 || (milliseconds != INFINITE && !before(monotonicAfter(0), deadline)))
            return WAIT_TIMEOUT;
        if ((word & kSleepersBit) == 0 &&
            !state->word.compare_exchange_weak(word, word | kSleepersBit, std::memory_order_relaxed,
                                               std::memory_order_relaxed))
            continue;
        timespec wakeAt = monotonicAfter(kOwnerCheckIntervalNs);
        if (milliseconds != INFINITE && before(deadline, wakeAt)) wakeAt = deadline;
        long rc = futex(&state->word, FUTEX_WAIT_BITSET, static_cast<int>(word | kSleepersBit),
                        &wakeAt, FUTEX_BITSET_MATCH_ANY);
        checkOwner = rc != 0 && errno == ETIMEDOUT;
    }
}

BOOL releaseMutex(MutexState* state) {
    const std::uint32_t self = currentThreadId();
    if ((state->word.load(std::memory_order_relaxed) & kOwnerMask) != self)
        return fail(ERROR_NOT_OWNER);
    if (--state->recursion > 0) return TRUE;
    if (state->word.exchange(0, std::memory_order_release) & kSleepersBit)
        futex(&state->word, FUTEX_WAKE, 1, nullptr, 0);
    return TRUE;
}

// A mutex created with an initial owner is owned before any other process can open it.
void initializeMutex(void* memory, bool owned) {
    auto* state = new (memory) MutexState;
    state->word.store(owned ? currentThreadId() : 0, std::memory_order_relaxed);
    state->recursion = owned ? 1 : 0;
}

// The process of a thread, read from its status; 0 when the thread is gone.
DWORD processOfThread(std::uint32_t threadId) {
    const CancellationOff cancellationOff;
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%u/status", threadId);
    FileDescriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return 0;
    char text[1024];
    ssize_t length = ::read(fd.get(), text, sizeof text - 1);
    if (length <= 0) return 0;
    text[length] = '\0';
    const char* field = std::strstr(text, "\nTgid:");
    return field == nullptr ? 0 : static_cast<DWORD>(std::strtoul(field + 6, nullptr, 10));
}

}  // namespace

DWORD waitMutexState(void* state, DWORD milliseconds) {
    return waitMutex(static_cast<MutexState*>(state), milliseconds);
}

}  // namespace quorvane::platform

using namespace quorvane::platform;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    bool created = false;
    return createObject(
        ObjectKind::Mutex, name, 0,
        [owned = initialOwner != FALSE](void* memory) { initializeMutex(memory, owned); }, created);
}

DWORD GetMutexOwnerProcessId(HANDLE mutex) {
    KernelObject* object = objectOf(mutex, ObjectKind::Mutex);
    if (object == nullptr) return 0;
    auto* state = static_cast<MutexState*>(object->state);
    const std::uint32_t owner = state->word.load(std::memory_order_relaxed) & kOwnerMask;
    return owner == 0 ? 0 : processOfThread(owner);
}

BOOL ReleaseMutex(HANDLE mutex) {
    KernelObject* object = objectOf(mutex, ObjectKind::Mutex);
    if (object == nullptr) return FALSE;
    return releaseMutex(static_cast<MutexState*>(object->state));
}

BOOL TryTakeMutexObject(PSYNC_OBJECT mutex) {
    KernelObject* object = objectOf(mutex, ObjectKind::Mutex);
    if (object == nullptr) return FALSE;
    auto* state = static_cast<MutexState*>(object->state);
    std::uint32_t word = 0;
    if (!state->word.compare_exchange_strong(word, currentThreadId(), std::memory_order_acquire,
                                             std::memory_order_relaxed))
        return FALSE;
    state->recursion = 1;
    return TRUE;
}

BOOL ReleaseMutexObject(PSYNC_OBJECT mutex) {
    KernelObject* object = objectOf(mutex, ObjectKind::Mutex);
    if (object == nullptr) return FALSE;
    return releaseMutex(static_cast<MutexState*>(object->state));
}
