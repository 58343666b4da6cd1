// What dead and faulty processes leave in a mailbox: a creator killed before writing the header,
// guard holders killed half-way through a step, sections of another size, scribbled headers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

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

TEST(MailboxRecovery, ARecordCompletedByASenderKilledHoldingTheGuardIsCountedWithoutWaiting) {
    // The sender died after moving the write index past its record and before announcing it:
    // the ring holds one record more than its pending count says, and one slot less is free.
    // The next receiver finds the guard abandoned on its first look, which does not wait, and
    // must set the counts right there.
    std::string name = uniqueName("quickrepair");
    CMclMailbox mailbox(4, kSlotSize, name.c_str());
    ASSERT_TRUE(mailbox.post(record(9, 1).data(), 0));
    ChildProcess sender([&](ChildProcess& self) {
        CMclMutex guard(FALSE, guardName(name).c_str());
        CMclSemaphore freeCount(4, 4, freeCountName(name).c_str());
        HeaderView header(4, name);
        if (guard.waitFor(INFINITE) != WAIT_OBJECT_0 || !freeCount.tryAcquire()) return 1;
        const Slot second = record(9, 2);
        std::memcpy(header.slot(header->writeIndex), second.data(), kSlotSize);
        header->writeIndex = (header->writeIndex + 1) % 4;
        self.signal();
        ::pause();
        return 0;
    });
    ASSERT_EQ(sender.awaitSignal(), 'x');
    sender.kill();
    sender.wait();

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

}  // namespace
