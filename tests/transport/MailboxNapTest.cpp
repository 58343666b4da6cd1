// A receiver that naps between batches while records flow, caught napping and killed there,
// leaves every record it had not taken to the next receiver and the ring whole. (That a napping
// receiver gets every record once and in order while senders fill the ring is MailboxStress's.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <new>
#include <string>

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

// A receiver process: takes records one by one, each the next in order; 2 when a receive gives
// up although records are still to come, 3 on a record torn or out of order.
int receiveInOrder(const std::string& name, std::atomic<std::uint32_t>* count) {
    CMclMailbox mailbox(kSlots, kSlotSize, name.c_str());
    Slot got{};
    for (;;) {
        if (!mailbox.receive(got.data(), 10000)) return 2;
        if (got != record(1, count->fetch_add(1))) return 3;
    }
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
    ChildProcess reader([&](ChildProcess&) { return receiveInOrder(name, taken); });
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

}  // namespace
