// A receiver that naps between batches while records flow: caught napping and killed there, it
// leaves every record it had not taken to the next receiver and the ring whole; a receiver that
// naps while a sender fills the ring gets every record once, in order.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/transport/MailboxTestSupport.h"
#include "transport/CMclMailbox.h"

using mailboxtest::kSlotSize;
using mailboxtest::record;
using mailboxtest::Slot;
using quorvane::test::ChildProcess;
using quorvane::test::uniqueName;

namespace {

constexpr DWORD kSlots = 64;
// Records in one burst: fewer than half the ring, so that the receiver naps after each.
constexpr std::uint32_t kBurst = 16;

// How many records a receiver process took, all in order, in memory its parent reads after the
// child has died.
std::atomic<std::uint32_t>* sharedCount() {
    void* memory = ::mmap(nullptr, sizeof(std::atomic<std::uint32_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) std::atomic<std::uint32_t>(0);
}

// A receiver process: takes records one by one (or in runs), each the next in order, until it
// has `expected`; 2 when a receive gives up although records are still to come, 3 on a record
// torn or out of order.
int receiveInto(const std::string& name, std::atomic<std::uint32_t>* count, std::uint32_t expected,
                bool inRuns) {
    CMclMailbox mailbox(kSlots, kSlotSize, name.c_str());
    std::vector<Slot> got(kSlots);
    while (count->load() < expected) {
        const DWORD taken = inRuns ? mailbox.receiveMany(got.data(), kSlots, 10000)
                                   : (mailbox.receive(got.data(), 10000) ? 1 : 0);
        if (taken == 0) return 2;
        for (DWORD i = 0; i < taken; ++i)
            if (got[i] != record(1, count->fetch_add(1))) return 3;
    }
    return 0;
}

// Whether the process is inside a plain futex wait: the nap (the mailbox's sleeps and the
// guard's use FUTEX_WAIT_BITSET).
bool napping(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
    std::string number, address, operation;
    file >> number >> address >> operation;
    return number == "202" && operation == "0x0";
}

// Posts records one at a time a little apart, so that the receiver finds the ring empty between
// them and naps, and its naps find records. False when a post finds no room in time.
bool trickle(CMclMailbox& mailbox, std::uint32_t& posted, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i, ++posted) {
        if (!mailbox.post(record(1, posted).data(), 10000)) return false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(30);
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    return true;
}

TEST(MailboxNap, AReceiverKilledWhileNappingLeavesEveryOtherRecordToTheNextAndTheRingWhole) {
    const std::string name = uniqueName("nap-kill");
    CMclMailbox mailbox(kSlots, kSlotSize, name.c_str());
    std::atomic<std::uint32_t>* taken = sharedCount();
    ASSERT_NE(taken, nullptr);
    ChildProcess reader([&](ChildProcess&) { return receiveInto(name, taken, UINT32_MAX, false); });
    ASSERT_TRUE(reader.started());

    // Records trickle in until the reader, after at least 2,000, is seen napping; it is killed
    // there.
    std::uint32_t posted = 0;
    bool caught = false;
    while (!caught && posted < 100000) {
        ASSERT_TRUE(trickle(mailbox, posted, kBurst)) << posted;
        for (int look = 0; look < 20 && !caught && posted >= 2000; ++look) {
            if (napping(reader.pid())) {
                reader.kill();
                caught = true;
            }
        }
    }
    ASSERT_TRUE(caught) << "the reader never napped in " << posted << " records";
    EXPECT_EQ(reader.wait(), 128 + SIGKILL);

    // The records it had not taken come next, in order, none twice or torn.
    Slot got{};
    std::uint32_t next = taken->load();
    while (mailbox.receive(got.data(), 0)) ASSERT_EQ(got, record(1, next++));
    EXPECT_EQ(next, posted);

    // The ring is whole: every slot can be posted and taken again, and no more.
    for (DWORD i = 0; i < kSlots; ++i) EXPECT_TRUE(mailbox.post(record(1, i).data(), 0)) << i;
    EXPECT_FALSE(mailbox.post(record(1, kSlots).data(), 0));
    for (DWORD i = 0; i < kSlots; ++i) {
        ASSERT_TRUE(mailbox.receive(got.data(), 0)) << i;
        EXPECT_EQ(got, record(1, i));
    }
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
}

TEST(MailboxNap, AReceiverNappingWhileTheSenderFillsTheRingGetsEveryRecordOnceInOrder) {
    // Bursts with a pause after each (the receiver naps, then sleeps until the next), records
    // trickling in (its naps find some), then a flood that fills the ring; one by one and in
    // runs.
    constexpr std::uint32_t kBursts = 200;
    constexpr std::uint32_t kFlood = 20000;
    constexpr std::uint32_t kTrickle = 5000;
    constexpr std::uint32_t kTotal = kBursts * kBurst + kTrickle + kFlood;
    for (const bool inRuns : {false, true}) {
        SCOPED_TRACE(inRuns ? "receiveMany" : "receive");
        const std::string name = uniqueName("nap-flow");
        CMclMailbox mailbox(kSlots, kSlotSize, name.c_str());
        std::atomic<std::uint32_t>* taken = sharedCount();
        ASSERT_NE(taken, nullptr);
        ChildProcess reader(
            [&](ChildProcess&) { return receiveInto(name, taken, kTotal, inRuns); });
        ASSERT_TRUE(reader.started());
        std::uint32_t posted = 0;
        for (std::uint32_t burst = 0; burst < kBursts; ++burst) {
            for (std::uint32_t i = 0; i < kBurst; ++i, ++posted)
                ASSERT_TRUE(mailbox.post(record(1, posted).data(), 10000));
            ::usleep(1000);
        }
        ASSERT_TRUE(trickle(mailbox, posted, kTrickle)) << posted;
        while (posted < kTotal) {
            ASSERT_TRUE(mailbox.post(record(1, posted).data(), 10000)) << posted;
            ++posted;
        }
        EXPECT_EQ(reader.wait(), 0);
        EXPECT_EQ(taken->load(), kTotal);
    }
}

}  // namespace
