// Win32 kernel objects over POSIX shared memory.
//
// A mutex is a futex word holding its owner's thread id. A waiter that finds the owner thread
// gone (its process killed, or the thread ended) takes the mutex over and reports
// WAIT_ABANDONED. A semaphore is an atomic count with a futex: it holds no lock that a killed
// process could leave behind. Uncontended waits and releases are one atomic instruction in user
// space; a release makes a system call only when a waiter sleeps.
//
// Owners are recognised by kernel thread id, so processes sharing objects must share a pid
// name space, as processes of one user on one machine normally do.

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "platform/Win32.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/Namespace.h"

namespace quorvane::platform {

// A mutex is its owner's thread id in one futex word (0 when free), with a bit that says a
// waiter may sleep. The recursion count is touched only by the owner.
struct MutexState {
    std::atomic<std::uint32_t> word;
    std::uint32_t recursion;
};

// A semaphore is one futex word: the count in the low 31 bits and, on top, a bit that says a
// waiter may sleep. A release that finds the bit clears it and wakes every sleeper; a waiter
// that sleeps again sets it again. A waiter killed while asleep thus leaves at most one
// needless wake behind, never a count that stays raised.
struct SemaphoreState {
    std::atomic<std::uint32_t> word;
    std::int32_t maximum;
};
static_assert(sizeof(MutexState) + kStateOffset <= kPageSize);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

namespace {

// Rounds of polling on a semaphore's count before the wait goes to sleep: enough to catch a
// release already under way. Longer polling measured slower: it keeps a sender and a receiver
// on two cores in lock-step over the same cache lines.
constexpr int kSpinRounds = 50;

thread_local DWORD t_lastError = ERROR_SUCCESS;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

constexpr long kNanosecondsPerSecond = 1'000'000'000L;

// The monotonic clock `nanoseconds` from now.
timespec monotonicAfter(long long nanoseconds) {
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

timespec deadlineAfter(DWORD milliseconds) {
    return monotonicAfter(milliseconds * 1'000'000LL);
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

long futex(void* address, int operation, int value, const timespec* timeout, std::uint32_t mask) {
    return ::syscall(SYS_futex, address, operation, value, timeout, nullptr, mask);
}

BOOL fail(DWORD error) {
    t_lastError = error;
    return FALSE;
}

HANDLE failHandle(DWORD error) {
    t_lastError = error;
    return nullptr;
}

// ---- creation

HANDLE createObject(ObjectKind kind, LPCSTR name, std::uint64_t sectionSize,
                    const StateInitializer& initialize, bool& created) {
    auto object = std::unique_ptr<KernelObject>(new (std::nothrow) KernelObject);
    if (!object) return failHandle(ERROR_NOT_ENOUGH_MEMORY);
    object->kind = kind;
    DWORD status;
    if (name == nullptr || name[0] == '\0')
        status = createAnonymous(kind, sectionSize, initialize, object->file);
    else
        status =
            createOrOpenNamed(kind, std::string_view(name), sectionSize, initialize, object->file);
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) return failHandle(status);
    object->state = static_cast<char*>(object->file.headerPage) + kStateOffset;
    created = status == ERROR_SUCCESS;
    HANDLE handle = registerHandle(object.get());
    if (handle == nullptr) return failHandle(ERROR_TOO_MANY_OPEN_FILES);
    object.release();  // the handle table's reference now
    t_lastError = status;
    return handle;
}

KernelObject* objectOf(HANDLE handle, ObjectKind kind) {
    KernelObject* object = lookupHandle(handle);
    if (object == nullptr || object->kind != kind) {
        t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return object;
}

// ---- mutex

constexpr std::uint32_t kOwnerMask = 0x3FFFFFFF;  // thread ids fit in 30 bits (PID_MAX_LIMIT)
constexpr std::uint32_t kSleepersBit = 0x80000000u;
// How often a sleeping waiter checks that the owner still lives: the latency of noticing an
// owner that died while holding the mutex.
constexpr long kOwnerCheckIntervalNs = 10'000'000;
// Rounds of pausing, without touching the lock, before a waiter queues on a held mutex (a few
// microseconds).
constexpr int kContendedBackoffRounds = 200;

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
        for (int round = 0; round < kContendedBackoffRounds; ++round) cpuRelax();
        word = 0;
        if (state->word.compare_exchange_strong(word, self, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
            state->recursion = 1;
            return WAIT_OBJECT_0;
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

// ---- semaphore

constexpr std::uint32_t kCountMask = 0x7FFFFFFFu;
constexpr std::uint32_t kWaitersBit = 0x80000000u;
// The longest a waiter sleeps before it looks at the count again by itself, so that a releaser
// killed between raising the count and waking nobody can strand a sleeper for longer.
constexpr long kSemaphoreSleepSliceNs = 100'000'000;

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

void wakeSemaphoreSleepers(SemaphoreState* state) {
    futex(&state->word, FUTEX_WAKE, INT_MAX, nullptr, 0);
}

BOOL releaseSemaphore(SemaphoreState* state, LONG releaseCount, LPLONG previousCount) {
    bool wakeOwed = false;
    if (!raiseSemaphore(state, releaseCount, previousCount, wakeOwed)) return FALSE;
    if (wakeOwed) wakeSemaphoreSleepers(state);
    return TRUE;
}

// ---- views

struct View {
    KernelObject* section;
    std::size_t length;
};

std::mutex& viewsMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<const void*, View>& views() {
    static std::map<const void*, View> map;
    return map;
}

}  // namespace
}  // namespace quorvane::platform

using namespace quorvane::platform;

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

DWORD win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
        case EOVERFLOW:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EIO:
            return ERROR_WRITE_FAULT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

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
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    bool owed = false;
    const BOOL raised =
        raiseSemaphore(static_cast<SemaphoreState*>(object->state), releaseCount, nullptr, owed);
    if (wakeOwed != nullptr) *wakeOwed = owed ? TRUE : FALSE;
    return raised;
}

BOOL WakeSemaphoreSleepers(HANDLE semaphore) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return FALSE;
    wakeSemaphoreSleepers(static_cast<SemaphoreState*>(object->state));
    return TRUE;
}

DWORD WaitForSemaphoreAvailable(HANDLE semaphore, DWORD milliseconds) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr) return WAIT_FAILED;
    return waitSemaphore(static_cast<SemaphoreState*>(object->state), milliseconds, false);
}

BOOL GetSemaphoreCount(HANDLE semaphore, LPLONG count) {
    KernelObject* object = objectOf(semaphore, ObjectKind::Semaphore);
    if (object == nullptr || count == nullptr) return fail(ERROR_INVALID_HANDLE);
    auto* state = static_cast<SemaphoreState*>(object->state);
    *count = static_cast<LONG>(state->word.load(std::memory_order_acquire) & kCountMask);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    KernelObject* object = lookupHandle(handle);
    if (object == nullptr) {
        t_lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    switch (object->kind) {
        case ObjectKind::Mutex:
            return waitMutex(static_cast<MutexState*>(object->state), milliseconds);
        case ObjectKind::Semaphore:
            return waitSemaphore(static_cast<SemaphoreState*>(object->state), milliseconds, true);
        case ObjectKind::Section:
            break;
    }
    t_lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
}

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE) return failHandle(ERROR_INVALID_HANDLE);
    if (protect != PAGE_READWRITE) return failHandle(ERROR_INVALID_PARAMETER);
    std::uint64_t size = (static_cast<std::uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0) return failHandle(ERROR_INVALID_PARAMETER);
    bool created = false;
    return createObject(ObjectKind::Section, name, size, nullptr, created);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytesToMap) {
    KernelObject* object = objectOf(mapping, ObjectKind::Section);
    if (object == nullptr) return nullptr;
    std::uint64_t size = object->file.sectionSize;
    if (offsetHigh != 0 || offsetLow != 0 || bytesToMap > size) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    std::size_t length = bytesToMap == 0 ? size : bytesToMap;
    void* view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, object->file.fd,
                        static_cast<off_t>(kPageSize));
    if (view == MAP_FAILED) {
        t_lastError = win32ErrorFromErrno(errno);
        return nullptr;
    }
    retainObject(object);  // a view keeps its section alive after the handle is closed
    std::lock_guard<std::mutex> guard(viewsMutex());
    views().emplace(view, View{object, length});
    return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    View view{};
    {
        std::lock_guard<std::mutex> guard(viewsMutex());
        auto found = views().find(baseAddress);
        if (found == views().end()) return fail(ERROR_INVALID_ADDRESS);
        view = found->second;
        views().erase(found);
    }
    ::munmap(const_cast<void*>(baseAddress), view.length);
    releaseObject(view.section);
    return TRUE;
}

SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length) {
    if (buffer == nullptr || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        t_lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::lock_guard<std::mutex> guard(viewsMutex());
    auto after = views().upper_bound(address);
    if (after != views().begin()) {
        auto found = std::prev(after);
        auto* base = static_cast<const char*>(found->first);
        auto* at = static_cast<const char*>(address);
        if (at < base + found->second.length) {
            buffer->BaseAddress = const_cast<char*>(at);
            buffer->AllocationBase = const_cast<char*>(base);
            buffer->RegionSize = found->second.length - static_cast<std::size_t>(at - base);
            return sizeof(MEMORY_BASIC_INFORMATION);
        }
    }
    t_lastError = ERROR_INVALID_PARAMETER;
    return 0;
}

BOOL CloseHandle(HANDLE handle) {
    KernelObject* object = unregisterHandle(handle);
    if (object == nullptr) return fail(ERROR_INVALID_HANDLE);
    releaseObject(object);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
