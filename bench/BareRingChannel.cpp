#include "bench/BareRingChannel.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr std::uint32_t kSleepersBit = 0x80000000u;
constexpr std::size_t kHeaderBytes = 4096;

// A wait gives up after this many slices of kSliceNs, so that a run whose other side died fails
// instead of hanging.
constexpr int kWaitSlices = 100;
constexpr long kSliceNs = 100'000'000;

long futex(std::atomic<std::uint32_t>& word, int operation, std::uint32_t value,
           const timespec* timeout = nullptr) {
    return ::syscall(SYS_futex, &word, operation, value, timeout, nullptr, 0);
}

}  // namespace

struct BareRing {
    alignas(64) std::atomic<std::uint32_t> guard{0};
    alignas(64) std::atomic<std::uint32_t> freeSlots{0};
    alignas(64) std::atomic<std::uint32_t> waitingRecords{0};
    alignas(64) std::uint32_t readIndex = 0;
    std::uint32_t writeIndex = 0;
};
static_assert(sizeof(BareRing) <= kHeaderBytes);

namespace {

unsigned char* slotsOf(BareRing* ring) {
    return reinterpret_cast<unsigned char*>(ring) + kHeaderBytes;
}

void lock(BareRing* ring) {
    std::uint32_t expected = 0;
    while (!ring->guard.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                              std::memory_order_relaxed)) {
        expected = 0;
        ::sched_yield();
    }
}

void unlock(BareRing* ring) {
    ring->guard.store(0, std::memory_order_release);
}

// Sleeps while the count is zero, with the sleepers bit set so that the raise from zero wakes;
// false when it stayed zero for all slices.
bool waitForCount(std::atomic<std::uint32_t>& count) {
    const timespec slice{0, kSliceNs};
    for (int slices = 0; slices < kWaitSlices;) {
        std::uint32_t word = count.load(std::memory_order_acquire);
        if ((word & ~kSleepersBit) != 0) return true;
        if ((word & kSleepersBit) == 0 &&
            !count.compare_exchange_weak(word, kSleepersBit, std::memory_order_seq_cst,
                                         std::memory_order_relaxed))
            continue;
        if (futex(count, FUTEX_WAIT, kSleepersBit, &slice) != 0 && errno == ETIMEDOUT) ++slices;
    }
    return false;
}

// Takes one count and the guard; on true the guard is held.
bool takeUnderGuard(BareRing* ring, std::atomic<std::uint32_t>& count) {
    for (;;) {
        if (!waitForCount(count)) return false;
        lock(ring);
        const std::uint32_t word = count.load(std::memory_order_relaxed);
        if ((word & ~kSleepersBit) != 0) {
            count.store(word - 1, std::memory_order_relaxed);
            return true;
        }
        unlock(ring);
    }
}

// Adds one under the guard; says whether a sleeper is owed a wake. Above zero no waiter touches
// the word, so a plain store will do; a raise from zero races a waiter setting its bit.
bool raiseUnderGuard(std::atomic<std::uint32_t>& count) {
    const std::uint32_t word = count.load(std::memory_order_relaxed);
    if ((word & ~kSleepersBit) == 0) return (count.exchange(1) & kSleepersBit) != 0;
    count.store(word + 1, std::memory_order_release);
    return false;
}

}  // namespace

BareRingChannel::BareRingChannel(std::size_t slotCount) : m_slotCount(slotCount) {}

BareRingChannel::~BareRingChannel() {
    destroy();
}

std::string BareRingChannel::label() const {
    return "bare guard and counts (" + std::to_string(m_slotCount) + ")";
}

bool BareRingChannel::create(std::string& reason) {
    destroy();
    m_mappedBytes = kHeaderBytes + m_slotCount * kRecordBytes;
    // Made before the fork, so that sender and receiver share it without a name.
    void* memory =
        ::mmap(nullptr, m_mappedBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        reason = std::string("mmap: ") + std::strerror(errno);
        return false;
    }
    m_ring = new (memory) BareRing;
    m_ring->freeSlots.store(static_cast<std::uint32_t>(m_slotCount), std::memory_order_relaxed);
    return true;
}

bool BareRingChannel::send(const void* record) {
    if (!takeUnderGuard(m_ring, m_ring->freeSlots)) return false;
    std::memcpy(slotsOf(m_ring) + m_ring->writeIndex * kRecordBytes, record, kRecordBytes);
    m_ring->writeIndex = static_cast<std::uint32_t>((m_ring->writeIndex + 1) % m_slotCount);
    const bool wake = raiseUnderGuard(m_ring->waitingRecords);
    unlock(m_ring);
    if (wake) futex(m_ring->waitingRecords, FUTEX_WAKE, INT_MAX);
    return true;
}

bool BareRingChannel::receive(void* record) {
    if (!takeUnderGuard(m_ring, m_ring->waitingRecords)) return false;
    std::memcpy(record, slotsOf(m_ring) + m_ring->readIndex * kRecordBytes, kRecordBytes);
    m_ring->readIndex = static_cast<std::uint32_t>((m_ring->readIndex + 1) % m_slotCount);
    const bool wake = raiseUnderGuard(m_ring->freeSlots);
    unlock(m_ring);
    if (wake) futex(m_ring->freeSlots, FUTEX_WAKE, INT_MAX);
    return true;
}

void BareRingChannel::destroy() {
    if (m_ring == nullptr) return;
    m_ring->~BareRing();
    ::munmap(m_ring, m_mappedBytes);
    m_ring = nullptr;
}
