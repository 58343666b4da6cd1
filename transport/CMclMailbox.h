#pragma once
#include <atomic>
#include <cstdint>

#include "platform/Win32.h"
#include "transport/CMclDerivedAutoPtr.h"
#include "transport/CMclMutex.h"
#include "transport/CMclSemaphore.h"
#include "transport/CMclSharedMemory.h"
#include "transport/MailboxHeader.h"

// A named, cross-process ring of fixed-size slots in shared memory. Every process that constructs
// a mailbox with the same name, slot count and slot size shares one ring; the first creates and
// initialises it. A guard mutex serialises access to the header and slots; a free-count and a
// pending-count semaphore count empty slots and waiting records. Both counts change only while
// the guard is held, so a process killed at any point leaves a ring that the next guard holder
// can set right (see RingRepair.md beside this file).
//
// The constructor raises a Win32 code on failure: the platform's code, 87 for a geometry that
// disagrees with the existing ring or does not fit in 32 bits, 206 for a name too long, 1460
// when another process held the guard for longer than `openTimeoutMs`.
class CMclMailbox {
  public:
    // Long enough for any healthy holder of the guard, short enough that a stopped one (a
    // debugger, Ctrl+Z) does not hang the opener.
    static constexpr DWORD kDefaultOpenTimeoutMs = 2000;

    CMclMailbox(DWORD slotCount, DWORD slotSize, LPCSTR name,
                LPSECURITY_ATTRIBUTES securityAttributes = nullptr,
                DWORD openTimeoutMs = kDefaultOpenTimeoutMs);
    CMclMailbox(const CMclMailbox&) = delete;
    CMclMailbox& operator=(const CMclMailbox&) = delete;
    virtual ~CMclMailbox();

    // Copies the oldest record into `destination` (slotSize bytes). Returns false, leaving
    // `destination` untouched, when no record could be taken within about `timeoutMs`; a ring
    // whose read index is out of range counts as empty, so a reader waits on it, not spins.
    bool receive(void* destination, DWORD timeoutMs);
    // Copies up to `maxRecords` of the oldest records, oldest first, into `destination`
    // (maxRecords * slotSize bytes) under one hold of the guard, waiting about `timeoutMs` at
    // most for the first. Returns how many were taken: 0 as receive() returns false, and never
    // more than slotCount - 1 (but 1 from a one-slot ring).
    DWORD receiveMany(void* destination, DWORD maxRecords, DWORD timeoutMs);

    // Copies slotSize bytes from `source` into the next free slot, waiting about `timeoutMs` at
    // most for a free slot and the guard. Returns whether the record was posted.
    bool post(const void* source, DWORD timeoutMs);

    // Whether a slot is free now, taking nothing: a hint for a sender that would rather drop.
    bool hasFreeSlot() const { return m_freeCountSemaphore->count() > 0; }

    DWORD getStatus() const { return m_status; }
    bool isCreator() const { return m_isCreator; }
    DWORD slotCount() const { return m_slotCount; }
    DWORD slotSize() const { return m_slotSize; }

    // The process holding the guard of the mailbox `name` now, 0 when none does or it cannot
    // be told: the one to name when opening timed out.
    static DWORD guardHolderProcessId(LPCSTR name);

    static constexpr const char* kGuardPrefix = "MailboxGuardMutex";
    static constexpr const char* kFreeCountPrefix = "MailboxFreeCountSemaphore";
    static constexpr const char* kPendingCountPrefix = "MailboxPendingCountSemaphore";
    static constexpr std::size_t kNameBufferSize = 260;
    // The longest mailbox name whose composed object names still fit the name buffer.
    static constexpr std::size_t kMaxNameLength = 229;

  private:
    // Sets both counts from the indices, under the guard, after a holder died with it.
    void repairCounts();
    // Takes one count of `counter` under the guard: waits for it to be available, then for the
    // guard, then takes it. On true the guard is held and the count taken. `countSeen` says the
    // caller has just seen the count above zero, so it is not looked at again before the guard.
    bool takeUnderGuard(CMclSemaphore& counter, DWORD timeoutMs, bool countSeen = false);
    // takeUnderGuard() for the waiting records. A receive that finds the ring empty while records
    // flow (the last look found some, and fewer than half a ring came since the ring was last
    // empty) first naps, taking and announcing nothing, so that the senders' posts meanwhile
    // make no wake call. Only a nap that finds nothing leads to the announced sleep, which the
    // next post ends at once. A sender that fills half the ring ends a nap early.
    bool takeRecordsUnderGuard(DWORD timeoutMs);
    // Naps on `counter` for the nap's time, or `timeoutMs` if shorter; says whether the count is
    // there now and returns what is left of `timeoutMs`.
    DWORD napOn(CMclSemaphore& counter, DWORD timeoutMs, bool& countThere);
    // Counts records taken for the nap's rule. Receivers sharing this object race here and may
    // lose a count, which only moves one nap: a locked add on every receive would cost more.
    void noteTaken(DWORD records) {
        m_takenSinceEmpty.store(m_takenSinceEmpty.load(std::memory_order_relaxed) + records,
                                std::memory_order_relaxed);
    }

    CMclSharedMemory m_sharedMemory;
    MailboxHeader* m_header = nullptr;
    unsigned char* m_data = nullptr;
    CMclDerivedAutoPtr<CMclMutex> m_guardMutex;
    CMclDerivedAutoPtr<CMclSemaphore> m_freeCountSemaphore;
    CMclDerivedAutoPtr<CMclSemaphore> m_pendingCountSemaphore;
    DWORD m_status = 0;
    bool m_isCreator = false;
    // Whether the last look of this process found records, and how many it took since it last
    // found the ring empty (see takeRecordsUnderGuard).
    std::atomic<bool> m_recordsFlowing{false};
    std::atomic<std::uint32_t> m_takenSinceEmpty{0};
    // Geometry as constructed: the shared header is never trusted for bounds.
    DWORD m_slotCount = 0;
    DWORD m_slotSize = 0;
    // Half the ring: the count of waiting records at which a post ends a receiver's nap, and the
    // batch after which a receiver that finds the ring empty sleeps rather than naps: a sender
    // that fast makes few wake calls anyway, and with both processes on one core napping after
    // whole-ring batches measured slower (8.4-8.8 against 10.7-11.2 M records/s).
    LONG m_napWakeAt = 0;
};
