// What dead and faulty processes leave in a mailbox: a creator killed before writing the header,
// guard holders killed half-way through a step, sections of another size, scribbled headers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/ProcessSupport.h"
#include "tests/transport/MailboxTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/CMclMutex.h"
#include "transport/CMclSemaphore.h"
#include "transport/CMclSharedMemory.h"

using mailboxtest::freeCountName;
using mailboxtest::guardName;
using mailboxtest::HeaderView;
using mailboxtest::kSlotSize;
using mailboxtest::pendingCountName;
using mailboxtest::raisedBy;
using mailboxtest::record;
using mailboxtest::Slot;
using quorvane::test::ChildProcess;
using quorvane::test::uniqueName;

namespace {

TEST(MailboxConstruction, CreatorKilledBeforeWritingTheHeaderLeavesTheRingToTheNextOpener) {
    // The creator's guard and section survive it while another process still holds them.
    std::string name = uniqueName("zero");
    CMclSharedMemory section(4 * kSlotSize + kMailboxDataOffset, name.c_str());
    CMclMutex bystanderGuard(FALSE, guardName(name).c_str());
    ChildProcess creator([&](ChildProcess& self) {
        CMclMutex guard(TRUE, guardName(name).c_str());
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(creator.awaitSignal(), 'x');
    creator.kill();
    creator.wait();

    CMclMailbox opener(4, kSlotSize, name.c_str());
    EXPECT_TRUE(opener.isCreator());
    auto* header = static_cast<MailboxHeader*>(section.getView());
    EXPECT_EQ(header->slotCount, 4u);
    EXPECT_EQ(header->slotSize, kSlotSize);
    for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(opener.post(record(1, i).data(), 0));
    EXPECT_FALSE(opener.post(record(1, 9).data(), 0));
    Slot got{};
    for (std::uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(opener.receive(got.data(), 0));
        EXPECT_EQ(got, record(1, i));
    }
}

TEST(MailboxConstruction, SectionSmallerThanItsHeaderClaimsIsRefused) {
    std::string name = uniqueName("small");
    CMclSharedMemory section(kMailboxDataOffset + kSlotSize, name.c_str());
    CMclMutex guard(FALSE, guardName(name).c_str());
    *static_cast<MailboxHeader*>(section.getView()) = MailboxHeader{1000, kSlotSize, 20, 0, 0};
    EXPECT_EQ(raisedBy([&] { CMclMailbox(1000, kSlotSize, name.c_str()); }),
              ERROR_INVALID_PARAMETER);
}

TEST(MailboxConstruction, AnAllZeroSectionTooSmallForTheRingIsRefusedAndLeftUnwritten) {
    // A section of that name made for a smaller ring whose creator died before writing its
    // header. Whether its guard outlived it or this opener makes a new one, the opener must not
    // write a header that claims more memory than the section has.
    for (const bool guardSurvives : {true, false}) {
        const std::string name = uniqueName("zerosmall");
        CMclSharedMemory section(kMailboxDataOffset + 2 * kSlotSize, name.c_str());
        std::unique_ptr<CMclMutex> survivingGuard;
        if (guardSurvives)
            survivingGuard = std::make_unique<CMclMutex>(FALSE, guardName(name).c_str());
        EXPECT_EQ(raisedBy([&] { CMclMailbox(64, kSlotSize, name.c_str()); }),
                  ERROR_INVALID_PARAMETER)
            << "guard survives: " << guardSurvives;
        const auto* header = static_cast<const MailboxHeader*>(section.getView());
        EXPECT_EQ(header->slotCount, 0u) << "guard survives: " << guardSurvives;
        EXPECT_EQ(header->slotSize, 0u);
        EXPECT_EQ(header->dataOffset, 0u);
        // The refused opener let the guard go: a ring the section holds is finished as usual.
        CMclMailbox fitting(2, kSlotSize, name.c_str());
        EXPECT_TRUE(fitting.isCreator());
        EXPECT_EQ(header->slotCount, 2u);
        ASSERT_TRUE(fitting.post(record(4, 1).data(), 0));
        ASSERT_TRUE(fitting.post(record(4, 2).data(), 0));
        EXPECT_FALSE(fitting.post(record(4, 3).data(), 0));
    }
}

TEST(MailboxRecovery, GuardHolderKilledLeavesCompleteRecordToTheNextReceive) {
    std::string name = uniqueName("killguard");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ChildProcess sender([&](ChildProcess& self) {
        CMclMailbox own(4, kSlotSize, name.c_str());
        own.post(record(9, 1).data(), 0);
        CMclMutex guard(FALSE, guardName(name).c_str());
        guard.waitFor(INFINITE);
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(sender.awaitSignal(), 'x');
    sender.kill();
    sender.wait();
    Slot got{};
    ASSERT_TRUE(mailbox.receive(got.data(), 1000));
    EXPECT_EQ(got, record(9, 1));
    for (std::uint32_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(mailbox.post(record(9, 2 + i).data(), 0));
        ASSERT_TRUE(mailbox.receive(got.data(), 0));
        EXPECT_EQ(got, record(9, 2 + i));
    }
}

// The counts are gone with their last holder while the section and the guard live on (a reader
// was opening them): the next opener makes the counts afresh and must set them from the ring.
TEST(MailboxRecovery, CountsMadeAfreshForALiveRingAreSetFromItsIndices) {
    std::string name = uniqueName("freshcounts");
    CMclSharedMemory section(4 * kSlotSize + kMailboxDataOffset, name.c_str());
    CMclMutex guard(FALSE, guardName(name).c_str());
    ChildProcess sender([&](ChildProcess&) {
        CMclMailbox own(4, kSlotSize, name.c_str());
        return own.post(record(3, 1).data(), 0) && own.post(record(3, 2).data(), 0) ? 0 : 1;
    });
    ASSERT_EQ(sender.wait(), 0);
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    EXPECT_FALSE(mailbox.isCreator());
    Slot got{};
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_EQ(got, record(3, 1));
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_EQ(got, record(3, 2));
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
    // The ring is empty again: four posts fit its four slots, a fifth does not.
    for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(mailbox.post(record(3, 3 + i).data(), 0));
    EXPECT_FALSE(mailbox.post(record(3, 7).data(), 0));
}

TEST(MailboxRecovery, AllHoldersKilledMakesTheNextConstructorAFreshCreator) {
    std::string name = uniqueName("killall");
    ChildProcess holder([&](ChildProcess& self) {
        CMclMailbox mailbox(4, kSlotSize, name.c_str());
        mailbox.post(record(1, 1).data(), 0);
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(holder.awaitSignal(), 'x');
    holder.kill();
    holder.wait();
    CMclMailbox mailbox(8, kSlotSize, name.c_str());  // another geometry is fine now
    EXPECT_TRUE(mailbox.isCreator());
    Slot got{};
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
}

TEST(MailboxRecovery, HostileHeaderScribblesCauseNoStrayAccess) {
    std::string name = uniqueName("hostile");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    HeaderView header(4, name);
    ASSERT_TRUE(mailbox.post(record(6, 1).data(), 0));

    header->readIndex = 0xFFFFFFF0u;
    header->writeIndex = 4;
    header->slotSize = 0x7FFFFFFF;
    header->slotCount = 1;
    Slot got;
    got.fill(0xCD);
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
    EXPECT_FALSE(mailbox.post(record(6, 2).data(), 0));
    for (unsigned char byte : got) ASSERT_EQ(byte, 0xCD);

    // Repaired indices: the announced record is still there, nothing was lost to the refusals.
    header->readIndex = 0;
    header->writeIndex = 1;
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_EQ(got, record(6, 1));
}

// A sender of a four-slot ring that dies after moving the write index past `second` and
// before announcing it: the ring then holds one record more than its pending count says, and
// one slot less is free. The child holds the guard once it has signalled.
std::unique_ptr<ChildProcess> senderDyingBeforeItAnnounces(const std::string& name,
                                                           const Slot& second) {
    return std::make_unique<ChildProcess>([&name, second](ChildProcess& self) {
        CMclMutex guard(FALSE, guardName(name).c_str());
        CMclSemaphore freeCount(4, 4, freeCountName(name).c_str());
        HeaderView header(4, name);
        if (guard.waitFor(INFINITE) != WAIT_OBJECT_0 || !freeCount.tryAcquire()) return 1;
        std::memcpy(header.slot(header->writeIndex), second.data(), kSlotSize);
        header->writeIndex = (header->writeIndex + 1) % 4;
        self.signal();
        ::pause();
        return 0;
    });
}

// The state letter of one of this process's threads ('S' while it sleeps), 0 when unknown.
char threadState(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    return nameEnd == std::string::npos || nameEnd + 2 >= text.size() ? 0 : text[nameEnd + 2];
}

TEST(MailboxRecovery, ARecordCompletedByASenderKilledHoldingTheGuardIsCountedWithoutWaiting) {
    // The first look of a receive, which does not wait, finds the guard abandoned and must set
    // the counts right there.
    std::string name = uniqueName("quickrepair");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ASSERT_TRUE(mailbox.post(record(9, 1).data(), 0));
    auto sender = senderDyingBeforeItAnnounces(name, record(9, 2));
    ASSERT_EQ(sender->awaitSignal(), 'x');
    sender->kill();
    sender->wait();

    Slot got{};
    ASSERT_TRUE(mailbox.receive(got.data(), 0));
    EXPECT_EQ(got, record(9, 1));
    ASSERT_TRUE(mailbox.receive(got.data(), 0)) << "the dead sender's record was not counted";
    EXPECT_EQ(got, record(9, 2));
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
    // And every slot is free again.
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(mailbox.post(record(9, 3 + i).data(), 0));
    EXPECT_FALSE(mailbox.post(record(9, 7).data(), 0));
}

TEST(MailboxRecovery, AReceiverWaitingForTheGuardSetsTheCountsRightWhenItsHolderDies) {
    std::string name = uniqueName("slowrepair");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ASSERT_TRUE(mailbox.post(record(9, 1).data(), 0));
    auto sender = senderDyingBeforeItAnnounces(name, record(9, 2));
    ASSERT_EQ(sender->awaitSignal(), 'x');

    std::atomic<pid_t> waiterId{0};
    Slot first{};
    bool received = false;
    std::thread waiter([&] {
        waiterId = ::gettid();
        received = mailbox.receive(first.data(), 20000);
    });
    // Once the waiter sleeps, its first look (which found the guard held) is behind it.
    const auto start = std::chrono::steady_clock::now();
    while ((waiterId == 0 || threadState(waiterId) != 'S') &&
           quorvane::test::secondsSince(start) < 10.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sender->kill();
    sender->wait();
    waiter.join();

    ASSERT_TRUE(received);
    EXPECT_EQ(first, record(9, 1));
    Slot got{};
    ASSERT_TRUE(mailbox.receive(got.data(), 0)) << "the dead sender's record was not counted";
    EXPECT_EQ(got, record(9, 2));
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(mailbox.post(record(9, 3 + i).data(), 0));
}

TEST(MailboxRecovery, AFullRingWhoseReceiverDiedHoldingTheGuardIsStillFull) {
    // The receiver died after taking a record's count and before moving the read index: the
    // indices are equal, as in an empty ring, but the counts still lean towards full.
    std::string name = uniqueName("fullrepair");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(mailbox.post(record(8, i).data(), 0));
    ChildProcess receiver([&](ChildProcess& self) {
        CMclMutex guard(FALSE, guardName(name).c_str());
        CMclSemaphore pendingCount(0, 4, pendingCountName(name).c_str());
        if (guard.waitFor(INFINITE) != WAIT_OBJECT_0 || !pendingCount.tryAcquire()) return 1;
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(receiver.awaitSignal(), 'x');
    receiver.kill();
    receiver.wait();

    Slot got{};
    for (std::uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(mailbox.receive(got.data(), 0)) << "record " << i << " was lost";
        EXPECT_EQ(got, record(8, i));
    }
    EXPECT_FALSE(mailbox.receive(got.data(), 0));
}

}  // namespace
