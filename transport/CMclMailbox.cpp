#include "transport/CMclMailbox.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "transport/CMclError.h"

namespace {

constexpr const char* kSourceName = "CMclMailbox";

// Checks what must hold before anything is created: a name whose composed object names fit the
// name buffer, and a section size that fits in 32 bits.
DWORD checkedSectionSize(DWORD slotCount, DWORD slotSize, LPCSTR name) {
    if (name == nullptr) raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, __LINE__);
    if (std::strlen(name) > CMclMailbox::kMaxNameLength)
        raiseMclError(ERROR_FILENAME_EXCED_RANGE, kSourceName, __LINE__);
    std::uint64_t size = static_cast<std::uint64_t>(slotCount) * slotSize + kMailboxDataOffset;
    if (size > UINT32_MAX) raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, __LINE__);
    return static_cast<DWORD>(size);
}

struct ObjectName {
    char text[CMclMailbox::kNameBufferSize];
    ObjectName(const char* prefix, const char* mailboxName) {
        std::snprintf(text, sizeof text, "%s::%s", prefix, mailboxName);
    }
};

template <typename T>
T* allocated(T* object, int line) {
    if (object == nullptr) raiseMclError(ERROR_OUTOFMEMORY, kSourceName, line);
    return object;
}

// Bytes mapped from `view` on; 0 when unknown.
std::uint64_t viewSize(const void* view) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view, &info, sizeof info) == 0) return 0;
    return info.RegionSize;
}

constexpr std::size_t kCacheLineSize = 64;

// Starts loading a slot's cache lines before the guard is taken, so that the copy made while
// holding it waits less. The index is read without the guard: it is only a hint, and a stale
// one costs nothing but the prefetch.
template <int kForWrite>
void prefetchSlot(const std::uint32_t* sharedIndex, const unsigned char* data, DWORD slotCount,
                  DWORD slotSize) {
    std::uint32_t index = __atomic_load_n(sharedIndex, __ATOMIC_RELAXED);
    if (index >= slotCount) return;
    const unsigned char* slot = data + static_cast<std::size_t>(index) * slotSize;
    for (std::size_t offset = 0; offset < slotSize; offset += kCacheLineSize)
        __builtin_prefetch(slot + offset, kForWrite);
}

// Moves a semaphore's count to `target`. Only for a guard holder: every other change of the
// ring's counts also happens under the guard, so nothing moves the count meanwhile.
void setCount(CMclSemaphore& semaphore, LONG target) {
    LONG count = semaphore.count();
    if (count < target) semaphore.release(target - count);
    while (count > target && semaphore.tryAcquire()) --count;
}

// A ring whose read index is out of range stays unreadable until a process mends it, while its
// record stays announced: a receive then waits out its time-out as on an empty ring, so that a
// caller that paces itself by receiving does not spin. Without a limit it waits this long.
constexpr DWORD kScribbledRingWaitMs = 1000;

void waitOutScribbledRing(DWORD timeoutMs) {
    if (timeoutMs != 0) Sleep(timeoutMs == INFINITE ? kScribbledRingWaitMs : timeoutMs);
}

// How long a receiver that has been finding records naps when the ring runs empty, before it
// sleeps announced: long enough for a sender in full flow to post a batch without a single wake
// call, short enough that a reader never lags the records by much (100, 200 and 400 us measured
// alike for a traced program; 200 us leaves the least lag of the fastest).
constexpr DWORD kNapMicroseconds = 200;

// A time limit that reads the clock only when there is one.
class Deadline {
  public:
    explicit Deadline(DWORD timeoutMs) : m_timeoutMs(timeoutMs) {
        if (timeoutMs != 0 && timeoutMs != INFINITE)
            m_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
    DWORD remainingMs() const {
        if (m_timeoutMs == 0 || m_timeoutMs == INFINITE) return m_timeoutMs;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(m_end - std::chrono::steady_clock::now());
        return left.count() <= 0 ? 0 : static_cast<DWORD>(left.count());
    }

  private:
    DWORD m_timeoutMs;
    std::chrono::steady_clock::time_point m_end{};
};

}  // namespace

CMclMailbox::CMclMailbox(DWORD slotCount, DWORD slotSize, LPCSTR name,
                         LPSECURITY_ATTRIBUTES securityAttributes, DWORD openTimeoutMs)
    : m_sharedMemory(checkedSectionSize(slotCount, slotSize, name), name, securityAttributes),
      m_slotCount(slotCount),
      m_slotSize(slotSize),
      m_napWakeAt(std::max<LONG>(1, static_cast<LONG>(slotCount / 2))) {
    // If anything below raises, the members unwind in reverse order: the semaphores, the guard
    // (released, then closed) and the section, which is the teardown order.
    m_status = ERROR_SUCCESS;
    m_isCreator = false;

    m_guardMutex.reset(allocated(
        new (std::nothrow) CMclMutex(TRUE, ObjectName(kGuardPrefix, name).text, securityAttributes),
        __LINE__));
    bool abandoned = false;
    if (m_guardMutex->getStatus() == ERROR_ALREADY_EXISTS) {
        // The creator holds the guard until the header is written. A holder that does not let
        // go in time has stopped or hangs: give up rather than hang with it.
        const DWORD wait = m_guardMutex->waitFor(openTimeoutMs);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            m_status = ERROR_TIMEOUT;
            raiseMclError(ERROR_TIMEOUT, kSourceName, __LINE__);
        }
        abandoned = wait == WAIT_ABANDONED;
        m_isCreator = false;
    } else {
        m_isCreator = true;
    }

    m_freeCountSemaphore.reset(
        allocated(new (std::nothrow)
                      CMclSemaphore(static_cast<LONG>(slotCount), static_cast<LONG>(slotCount),
                                    ObjectName(kFreeCountPrefix, name).text, securityAttributes),
                  __LINE__));
    m_pendingCountSemaphore.reset(
        allocated(new (std::nothrow)
                      CMclSemaphore(0, static_cast<LONG>(slotCount),
                                    ObjectName(kPendingCountPrefix, name).text, securityAttributes),
                  __LINE__));

    auto* base = static_cast<unsigned char*>(m_sharedMemory.getView());
    m_header = reinterpret_cast<MailboxHeader*>(base);
    m_data = base + kMailboxDataOffset;
    // An existing section of that name keeps its own size: it must really hold our ring.
    const bool fits =
        viewSize(base) >= static_cast<std::uint64_t>(slotCount) * slotSize + kMailboxDataOffset;

    // A header never written means its creator died before writing it: finish the ring. Only a
    // section that holds the whole ring gets a header, even when this process made the guard: a
    // section of that name may be older than the guard and of another size.
    const bool unwritten =
        m_header->slotCount == 0 && m_header->slotSize == 0 && m_header->dataOffset == 0;
    if (unwritten) m_isCreator = true;
    // Counts made here meet a ring whose last other holders of the counts have gone while the
    // section and the guard lived on (held by a reader that was opening them meanwhile): their
    // fresh values know nothing of the records in it, so they are set from the indices.
    const bool countsMadeHere = m_freeCountSemaphore->getStatus() != ERROR_ALREADY_EXISTS ||
                                m_pendingCountSemaphore->getStatus() != ERROR_ALREADY_EXISTS;
    if (m_isCreator && fits) {
        *m_header = MailboxHeader{slotCount, slotSize, kMailboxDataOffset, 0, 0};
        setCount(*m_pendingCountSemaphore, 0);
        setCount(*m_freeCountSemaphore, static_cast<LONG>(slotCount));
    } else if ((abandoned || countsMadeHere) && fits) {
        repairCounts();
    }

    m_guardMutex->release();

    if (!fits ||
        (!m_isCreator && (m_header->slotCount != slotCount || m_header->slotSize != slotSize))) {
        m_status = ERROR_INVALID_PARAMETER;
        raiseMclError(ERROR_INVALID_PARAMETER, kSourceName, __LINE__);
    }
}

CMclMailbox::~CMclMailbox() = default;

DWORD CMclMailbox::guardHolderProcessId(LPCSTR name) {
    if (name == nullptr || std::strlen(name) > kMaxNameLength) return 0;
    const DWORD savedError = GetLastError();
    HANDLE guard = CreateMutexA(nullptr, FALSE, ObjectName(kGuardPrefix, name).text);
    const DWORD holder = guard == nullptr ? 0 : GetMutexOwnerProcessId(guard);
    if (guard != nullptr) CloseHandle(guard);
    SetLastError(savedError);
    return holder;
}

void CMclMailbox::repairCounts() {
    const std::uint32_t readIndex = m_header->readIndex;
    const std::uint32_t writeIndex = m_header->writeIndex;
    if (readIndex >= m_slotCount || writeIndex >= m_slotCount) return;  // scribbled: leave it
    std::uint32_t records = (writeIndex + m_slotCount - readIndex) % m_slotCount;
    // Equal indices mean empty or full. A dead holder was at most one step from a consistent
    // state, so the counts still lean clearly towards the one it was in.
    if (records == 0 && m_pendingCountSemaphore->count() > m_freeCountSemaphore->count())
        records = m_slotCount;
    setCount(*m_pendingCountSemaphore, static_cast<LONG>(records));
    setCount(*m_freeCountSemaphore, static_cast<LONG>(m_slotCount - records));
}

bool CMclMailbox::takeUnderGuard(CMclSemaphore& counter, DWORD timeoutMs, bool countSeen) {
    // The common case first, without reading the clock: a count is there and the guard free.
    // The count is looked at before the guard is taken, so that a receiver on an empty ring
    // (or a sender on a full one) reads a shared line instead of taking the guard from the
    // other side. A guard held by the other side is not probed for a dead owner here (that
    // reads /proc, several system calls): a caller that may wait finds a dead owner in the wait
    // below.
    if (countSeen || counter.waitUntilAvailable(0) == WAIT_OBJECT_0) {
        const DWORD quickGuard = m_guardMutex->tryTake() ? WAIT_OBJECT_0
                                 : timeoutMs == 0        ? m_guardMutex->waitFor(0)
                                                         : WAIT_TIMEOUT;
        if (quickGuard == WAIT_OBJECT_0 || quickGuard == WAIT_ABANDONED) {
            if (quickGuard == WAIT_ABANDONED) repairCounts();
            if (counter.tryAcquireLocked()) return true;
            m_guardMutex->release();
        }
    }
    if (timeoutMs == 0) return false;
    const Deadline deadline(timeoutMs);
    for (;;) {
        if (counter.waitUntilAvailable(deadline.remainingMs()) != WAIT_OBJECT_0) return false;
        const DWORD guard = m_guardMutex->waitFor(deadline.remainingMs());
        if (guard == WAIT_ABANDONED) {
            repairCounts();
        } else if (guard != WAIT_OBJECT_0) {
            return false;
        }
        if (counter.tryAcquireLocked()) return true;
        // Another process took the count between the look and the guard.
        m_guardMutex->release();
        if (deadline.remainingMs() == 0) return false;
    }
}

DWORD CMclMailbox::napOn(CMclSemaphore& counter, DWORD timeoutMs, bool& countThere) {
    const Deadline deadline(timeoutMs);
    const auto nap =
        static_cast<DWORD>(std::min<std::uint64_t>(kNapMicroseconds, timeoutMs * 1000ULL));
    countThere = counter.napUntilAvailable(nap) == WAIT_OBJECT_0;
    return deadline.remainingMs();
}

bool CMclMailbox::takeRecordsUnderGuard(DWORD timeoutMs) {
    bool recordsThere = m_pendingCountSemaphore->count() > 0;
    if (!recordsThere) {
        const bool nap = timeoutMs != 0 && m_recordsFlowing.load(std::memory_order_relaxed) &&
                         m_takenSinceEmpty.load(std::memory_order_relaxed) <
                             static_cast<std::uint32_t>(m_napWakeAt);
        m_takenSinceEmpty.store(0, std::memory_order_relaxed);
        if (nap) timeoutMs = napOn(*m_pendingCountSemaphore, timeoutMs, recordsThere);
    }
    m_recordsFlowing.store(recordsThere, std::memory_order_relaxed);
    return takeUnderGuard(*m_pendingCountSemaphore, timeoutMs, recordsThere);
}

bool CMclMailbox::receive(void* destination, DWORD timeoutMs) {
    prefetchSlot<0>(&m_header->readIndex, m_data, m_slotCount, m_slotSize);
    if (!takeRecordsUnderGuard(timeoutMs)) return false;
    const std::uint32_t readIndex = m_header->readIndex;
    if (readIndex >= m_slotCount) {
        // Written by a faulty process: touch nothing outside the ring; the record stays announced.
        m_pendingCountSemaphore->release(1);
        m_guardMutex->release();
        waitOutScribbledRing(timeoutMs);
        return false;
    }
    std::memcpy(destination, m_data + static_cast<std::size_t>(readIndex) * m_slotSize, m_slotSize);
    m_header->readIndex = (readIndex + 1) % m_slotCount;
    noteTaken(1);
    // The count moves under the guard; a sleeping sender is woken once the guard is free, so
    // that it does not wake only to queue on the guard.
    bool wakeSenders = false;
    m_freeCountSemaphore->raiseLocked(1, wakeSenders);
    m_guardMutex->release();
    if (wakeSenders) m_freeCountSemaphore->wakeSleepers();
    return true;
}

DWORD CMclMailbox::receiveMany(void* destination, DWORD maxRecords, DWORD timeoutMs) {
    if (maxRecords == 0) return 0;
    prefetchSlot<0>(&m_header->readIndex, m_data, m_slotCount, m_slotSize);
    if (!takeRecordsUnderGuard(timeoutMs)) return 0;
    const std::uint32_t readIndex = m_header->readIndex;
    if (readIndex >= m_slotCount) {
        m_pendingCountSemaphore->release(1);
        m_guardMutex->release();
        waitOutScribbledRing(timeoutMs);
        return 0;
    }
    // The count changes only under the guard, so what is there now can all be taken; but never
    // a whole full ring at once, so that a repair after this receiver's death still tells a full
    // ring from an empty one (RingRepair.md).
    const DWORD most = std::min(maxRecords, std::max<DWORD>(1, m_slotCount - 1));
    DWORD taken = 1;
    while (taken < most && m_pendingCountSemaphore->tryAcquireLocked()) ++taken;
    // The ring's indices move only once every record is copied: a receiver killed while copying
    // leaves its records in the ring for the next one.
    auto* out = static_cast<unsigned char*>(destination);
    const DWORD beforeWrap = std::min<DWORD>(taken, m_slotCount - readIndex);
    std::memcpy(out, m_data + static_cast<std::size_t>(readIndex) * m_slotSize,
                static_cast<std::size_t>(beforeWrap) * m_slotSize);
    std::memcpy(out + static_cast<std::size_t>(beforeWrap) * m_slotSize, m_data,
                static_cast<std::size_t>(taken - beforeWrap) * m_slotSize);
    m_header->readIndex = (readIndex + taken) % m_slotCount;
    noteTaken(taken);
    bool wakeSenders = false;
    m_freeCountSemaphore->raiseLocked(static_cast<LONG>(taken), wakeSenders);
    m_guardMutex->release();
    if (wakeSenders) m_freeCountSemaphore->wakeSleepers();
    return taken;
}

bool CMclMailbox::post(const void* source, DWORD timeoutMs) {
    prefetchSlot<1>(&m_header->writeIndex, m_data, m_slotCount, m_slotSize);
    if (!takeUnderGuard(*m_freeCountSemaphore, timeoutMs)) return false;
    const std::uint32_t writeIndex = m_header->writeIndex;
    if (writeIndex >= m_slotCount) {
        m_freeCountSemaphore->release(1);  // the slot stays free
        m_guardMutex->release();
        return false;
    }
    std::memcpy(m_data + static_cast<std::size_t>(writeIndex) * m_slotSize, source, m_slotSize);
    m_header->writeIndex = (writeIndex + 1) % m_slotCount;
    bool wakeReceivers = false;
    LONG waiting = 0;
    m_pendingCountSemaphore->raiseLocked(1, wakeReceivers, &waiting);
    m_guardMutex->release();
    // A receiver asleep is owed a wake; one napping between two batches announced nothing, and
    // the record that fills half the ring ends its nap, so that a fast sender never waits out
    // a nap on a full ring.
    if (wakeReceivers || waiting + 1 == m_napWakeAt) m_pendingCountSemaphore->wakeSleepers();
    return true;
}
