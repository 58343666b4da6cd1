// The mailbox: construction, the ring in order, full and empty, a stopped guard holder, and
// several sender processes at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/transport/MailboxTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/CMclMutex.h"

using mailboxtest::guardName;
using mailboxtest::HeaderView;
using mailboxtest::kSlotSize;
using mailboxtest::raisedBy;
using mailboxtest::record;
using mailboxtest::Slot;
using quorvane::test::ChildProcess;
using quorvane::test::uniqueName;

namespace {

TEST(MailboxConstruction, CreatorWritesHeaderAndOpenerInAnotherProcessLeavesIt) {
    std::string name = uniqueName("mbx");
    CMclMailbox creator(8, kSlotSize, name.c_str());
    EXPECT_TRUE(creator.isCreator());
    EXPECT_EQ(creator.getStatus(), 0u);
    HeaderView header(8, name);
    EXPECT_EQ(header->slotCount, 8u);
    EXPECT_EQ(header->slotSize, kSlotSize);
    EXPECT_EQ(header->dataOffset, 20u);
    EXPECT_EQ(header->readIndex, 0u);
    EXPECT_EQ(header->writeIndex, 0u);
    ASSERT_TRUE(creator.post(record(1, 1).data(), 0));

    ChildProcess opener([&](ChildProcess&) {
        CMclMailbox mailbox(8, kSlotSize, name.c_str());
        if (mailbox.isCreator()) return 1;
        Slot got{};
        if (!mailbox.receive(got.data(), 1000) || got != record(1, 1)) return 2;
        return 0;
    });
    EXPECT_EQ(opener.wait(), 0);
    EXPECT_EQ(header->slotCount, 8u);
    EXPECT_EQ(header->readIndex, 1u);
}

TEST(MailboxConstruction, GeometryMismatchRaises87AndLeavesNothingOpen) {
    std::string name = uniqueName("geometry");
    {
        CMclMailbox creator(8, kSlotSize, name.c_str());
        EXPECT_EQ(raisedBy([&] { CMclMailbox(9, kSlotSize, name.c_str()); }),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(raisedBy([&] { CMclMailbox(8, kSlotSize + 4, name.c_str()); }),
                  ERROR_INVALID_PARAMETER);
        // The guard was released: the creator's ring still works.
        Slot got{};
        ASSERT_TRUE(creator.post(record(2, 2).data(), 0));
        EXPECT_TRUE(creator.receive(got.data(), 0));
    }
    // The refused openers held nothing: the name is free for a fresh ring of another geometry.
    CMclMailbox fresh(9, kSlotSize, name.c_str());
    EXPECT_TRUE(fresh.isCreator());
}

TEST(MailboxConstruction, StoppedGuardHolderMakesOpenersGiveUpInTimeNamingIt) {
    std::string name = uniqueName("stopped");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ChildProcess holder([&](ChildProcess& self) {
        CMclMutex guard(FALSE, guardName(name).c_str());
        guard.waitFor(INFINITE);
        self.signal();
        ::raise(SIGSTOP);
        return 0;
    });
    ASSERT_EQ(holder.awaitSignal(), 'x');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(raisedBy([&] { CMclMailbox(4, kSlotSize, name.c_str(), nullptr, 100); }),
              ERROR_TIMEOUT);
    EXPECT_LT(quorvane::test::secondsSince(start), 5.0);
    EXPECT_EQ(CMclMailbox::guardHolderProcessId(name.c_str()), static_cast<DWORD>(holder.pid()));
    // Posting and receiving stay bounded too, and lose nothing.
    Slot got{};
    EXPECT_FALSE(mailbox.post(record(2, 1).data(), 20));
    EXPECT_FALSE(mailbox.receive(got.data(), 20));
    holder.kill();
    holder.wait();
    EXPECT_EQ(CMclMailbox::guardHolderProcessId(name.c_str()), 0u);
    CMclMailbox reopened(4, kSlotSize, name.c_str(), nullptr, 1000);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(reopened.post(record(3, i).data(), 0));
    EXPECT_FALSE(reopened.post(record(3, 9).data(), 0));
}

TEST(MailboxConstruction, BadArgumentsRaiseBeforeAnythingIsCreated) {
    std::string longest = uniqueName("long");
    longest.resize(CMclMailbox::kMaxNameLength, 'm');
    EXPECT_EQ(raisedBy([&] { CMclMailbox(2, kSlotSize, (longest + "x").c_str()); }),
              ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(raisedBy([&] { CMclMailbox(2, kSlotSize, longest.c_str()); }), 0u);
    EXPECT_EQ(raisedBy([&] { CMclMailbox(0x10000, 0x10000, "huge"); }), ERROR_INVALID_PARAMETER);
    // Slot count 0 fails at the free-count semaphore, whose maximum would be 0.
    EXPECT_EQ(raisedBy([&] { CMclMailbox(0, kSlotSize, uniqueName("none").c_str()); }),
              ERROR_INVALID_PARAMETER);
}

TEST(MailboxRing, ReceiveOnEmptyRingTimesOutAndLeavesBufferUntouched) {
    CMclMailbox mailbox(4, kSlotSize, uniqueName("empty").c_str());
    Slot buffer;
    buffer.fill(0xAB);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mailbox.receive(buffer.data(), 50));
    EXPECT_GE(quorvane::test::secondsSince(start), 0.049);
    for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xAB);
}

TEST(MailboxRing, RecordsComeOutInPostingOrderAcrossWrapAround) {
    std::string name = uniqueName("wrap");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    HeaderView header(4, name);
    std::uint32_t posted = 0, received = 0;
    for (int batch : {3, 4, 1, 4, 2}) {
        for (int i = 0; i < batch; ++i) ASSERT_TRUE(mailbox.post(record(0, posted++).data(), 0));
        for (int i = 0; i < batch; ++i) {
            Slot got{};
            ASSERT_TRUE(mailbox.receive(got.data(), 0));
            EXPECT_EQ(got, record(0, received++));
        }
    }
    EXPECT_EQ(header->readIndex, 14u % 4);
    EXPECT_EQ(header->writeIndex, 14u % 4);
}

TEST(MailboxRing, ReceiveManyTakesUpToItsMostButNeverAWholeRingInOrderAcrossWrapAround) {
    std::string name = uniqueName("many");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    std::uint32_t posted = 0, received = 0;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(mailbox.post(record(0, posted++).data(), 0));
    Slot got[8]{};
    ASSERT_EQ(mailbox.receiveMany(got, 2, 0), 2u);
    ASSERT_EQ(mailbox.receiveMany(got + 2, 8, 0), 1u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], record(0, received++));
    // Now the read index is 3 of 4: four records wrap around the ring's end.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(mailbox.post(record(0, posted++).data(), 0));
    EXPECT_FALSE(mailbox.post(record(0, 99).data(), 0)) << "the ring should be full";
    const Slot untouched = record(7, 7);
    std::fill(std::begin(got), std::end(got), untouched);
    // A whole full ring is never taken at once: a repair must still tell it from an empty one.
    ASSERT_EQ(mailbox.receiveMany(got, 8, 0), 3u);
    EXPECT_EQ(got[3], untouched);
    ASSERT_EQ(mailbox.receiveMany(got + 3, 8, 0), 1u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], record(0, received++));
    EXPECT_EQ(got[4], untouched);
    EXPECT_EQ(mailbox.receiveMany(got, 8, 0), 0u);
    // Every slot is free again.
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(mailbox.post(record(0, posted++).data(), 0));
}

TEST(MailboxRing, PostOnFullRingFailsUntilASlotIsFreed) {
    CMclMailbox mailbox(2, kSlotSize, uniqueName("full").c_str());
    ASSERT_TRUE(mailbox.post(record(0, 0).data(), 0));
    ASSERT_TRUE(mailbox.post(record(0, 1).data(), 0));
    EXPECT_FALSE(mailbox.post(record(0, 2).data(), 20));
    Slot got{};
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_TRUE(mailbox.post(record(0, 2).data(), 0));
    for (std::uint32_t expected : {1u, 2u}) {
        ASSERT_TRUE(mailbox.receive(got.data(), 0));
        EXPECT_EQ(got, record(0, expected));
    }
}

TEST(MailboxRing, GuardTimeOutKeepsTheRecordAnnounced) {
    std::string name = uniqueName("guardwait");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ASSERT_TRUE(mailbox.post(record(3, 3).data(), 0));
    ChildProcess holder([&](ChildProcess& self) {
        CMclMutex guard(FALSE, guardName(name).c_str());
        guard.waitFor(INFINITE);
        self.signal();
        self.awaitSignal();
        guard.release();
        return 0;
    });
    ASSERT_EQ(holder.awaitSignal(), 'x');
    Slot got{};
    EXPECT_FALSE(mailbox.receive(got.data(), 30));
    EXPECT_FALSE(mailbox.post(record(4, 4).data(), 30));
    holder.signal();
    EXPECT_EQ(holder.wait(), 0);
    // Neither failed call lost a count: the record is still announced and the slots still free.
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_EQ(got, record(3, 3));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(mailbox.post(record(5, i).data(), 0));
}

TEST(MailboxStress, FourSenderProcessesEveryRecordOnceInPerSenderOrder) {
    constexpr std::uint32_t kSenders = 4;
    constexpr std::uint32_t kEach = 100000;
    std::string name = uniqueName("stress");
    CMclMailbox mailbox(1024, kSlotSize, name.c_str());
    std::vector<std::unique_ptr<ChildProcess>> senders;
    for (std::uint32_t sender = 0; sender < kSenders; ++sender) {
        senders.push_back(std::make_unique<ChildProcess>([&, sender](ChildProcess&) {
            CMclMailbox own(1024, kSlotSize, name.c_str());
            for (std::uint32_t i = 0; i < kEach; ++i)
                if (!own.post(record(sender, i).data(), 10000)) return 1;
            return 0;
        }));
    }
    std::array<std::uint32_t, kSenders> next{};
    std::uint64_t total = 0, misordered = 0, corrupt = 0;
    Slot got{};
    while (total < std::uint64_t{kSenders} * kEach && mailbox.receive(got.data(), 5000)) {
        std::uint32_t sender, sequence;
        std::memcpy(&sender, got.data(), 4);
        std::memcpy(&sequence, got.data() + 4, 4);
        if (sender >= kSenders || got != record(sender, sequence)) {
            ++corrupt;
            continue;
        }
        if (sequence != next[sender]) ++misordered;
        next[sender] = sequence + 1;
        ++total;
    }
    for (auto& sender : senders) EXPECT_EQ(sender->wait(), 0);
    EXPECT_EQ(total, std::uint64_t{kSenders} * kEach);
    EXPECT_EQ(misordered, 0u);
    EXPECT_EQ(corrupt, 0u);
    for (std::uint32_t count : next) EXPECT_EQ(count, kEach);
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
}

}  // namespace
