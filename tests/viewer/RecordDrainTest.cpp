// One drain slice over a real mailbox: records in order, numbered on from slice to slice, a run
// at a time, no more than a hold's worth under one hold of the guard; and the pause between looks
// at an idle mailbox.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMclMailbox.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/live/RecordDrain.h"

namespace {

using viewertest::rows;

constexpr DWORD kSlots = 1024;
// Long enough that a slice ends because the ring ran dry, never because its time was up.
constexpr int kAmpleSliceMs = 60000;

class RecordDrainTest : public ::testing::Test {
  protected:
    // Posts `count` records of sender 5, whose texts number them from 1 across the whole test.
    void post(std::uint32_t count, std::int32_t depthDelta = 0) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string text = std::to_string(++posted);
            const TraceRecord record =
                viewertest::makeRecord("r", text.c_str(), "o", 5, depthDelta);
            ASSERT_TRUE(mailbox.post(&record, 0));
        }
    }

    // The line of record `text` shown as line `number`, `tabs` deep.
    static std::string line(std::uint32_t number, std::uint32_t text, int tabs = 0) {
        char start[32];
        std::snprintf(start, sizeof start, "%.5u\t5\t10:00:00\to\t", number);
        return start + std::string(static_cast<std::size_t>(tabs), '\t') + "r(" +
               std::to_string(text) + ")";
    }

    CMclMailbox mailbox{kSlots, kTraceRecordSize, quorvane::test::uniqueName("drain").c_str()};
    CLogListModel model;
    RecordDrain drain;
    std::uint32_t posted = 0;
};

TEST_F(RecordDrainTest, ASliceShowsTheRingOldestFirstAndNumbersOnFromTheSliceBefore) {
    post(3);
    DrainSlice slice = drain.drainSlice(mailbox, model, false, kAmpleSliceMs);
    EXPECT_EQ(slice.taken, 3u);
    EXPECT_TRUE(slice.ranDry);
    EXPECT_EQ(rows(model), (std::vector<std::string>{line(1, 1), line(2, 2), line(3, 3)}));

    // On top the newest line comes first; the numbers go on.
    post(2);
    slice = drain.drainSlice(mailbox, model, true, kAmpleSliceMs);
    EXPECT_EQ(slice.taken, 2u);
    EXPECT_EQ(rows(model), (std::vector<std::string>{line(5, 5), line(4, 4), line(1, 1), line(2, 2),
                                                     line(3, 3)}));
    EXPECT_EQ(drain.lineCount(), 5u);

    // A held slice stages its lines; the next slice, not held, shows them with its own.
    drain.setHolding(true);
    post(1, +1);
    drain.drainSlice(mailbox, model, false, kAmpleSliceMs);
    EXPECT_EQ(model.size(), 5u);
    EXPECT_EQ(model.stagedCount(), 1u);
    drain.setHolding(false);

    // After a restart the numbers begin at 1 again, and the sender stays one level deep.
    drain.restartNumbering();
    post(1);
    slice = drain.drainSlice(mailbox, model, false, kAmpleSliceMs);
    EXPECT_EQ(slice.taken, 1u);
    EXPECT_EQ(model.stagedCount(), 0u);
    const std::vector<std::string> lines = rows(model);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], line(6, 6));
    EXPECT_EQ(lines[6], line(1, 7, 1));
    EXPECT_EQ(drain.lineCount(), 1u);

    slice = drain.drainSlice(mailbox, model, false, kAmpleSliceMs);
    EXPECT_EQ(slice.taken, 0u);
    EXPECT_TRUE(slice.ranDry);
}

TEST_F(RecordDrainTest, ASliceWithNoTimeLeftTakesOneRunAndTheNextSliceGoesOnFromIt) {
    constexpr std::uint32_t kRun = RecordDrain::kRunLength;
    post(2 * kRun + 10);
    for (int run = 0; run < 2; ++run) {
        const DrainSlice slice = drain.drainSlice(mailbox, model, false, 0);
        EXPECT_EQ(slice.taken, kRun) << "run " << run;
        EXPECT_FALSE(slice.ranDry) << "a full run may leave more in the ring";
        EXPECT_EQ(model.size(), (run + 1) * kRun) << "each slice shows its lines when it ends";
    }
    const DrainSlice last = drain.drainSlice(mailbox, model, false, 0);
    EXPECT_EQ(last.taken, 10u);
    EXPECT_TRUE(last.ranDry);
    const std::vector<std::string> lines = rows(model);
    ASSERT_EQ(lines.size(), posted);
    for (std::uint32_t number = 1; number <= posted; ++number) {
        ASSERT_EQ(lines[number - 1], line(number, number));
    }
}

TEST_F(RecordDrainTest, NoMoreThanAHoldsWorthIsTakenUnderOneHoldOfTheGuard) {
    constexpr std::uint32_t kHold = RecordDrain::kRecordsPerHold;
    post(3 * kHold);
    std::vector<TraceRecord> taken(RecordDrain::kRunLength);
    ASSERT_EQ(RecordDrain::takeRecords(mailbox, false, taken.data(), taken.size()), kHold);
    EXPECT_STREQ(taken[0].entryText, "1");
    EXPECT_STREQ(taken[kHold - 1].entryText, std::to_string(kHold).c_str());
    // Less room than a hold: no more than the room.
    ASSERT_EQ(RecordDrain::takeRecords(mailbox, true, taken.data(), 5), 5u);
    EXPECT_STREQ(taken[0].entryText, std::to_string(kHold + 1).c_str());
    ASSERT_EQ(RecordDrain::takeRecords(mailbox, false, taken.data(), taken.size()), kHold);
    EXPECT_STREQ(taken[0].entryText, std::to_string(kHold + 6).c_str());
    ASSERT_EQ(RecordDrain::takeRecords(mailbox, false, taken.data(), taken.size()), kHold - 5);
    EXPECT_EQ(RecordDrain::takeRecords(mailbox, false, taken.data(), taken.size()), 0u);
}

TEST(RecordDrain, LooksAtAnIdleMailboxBackOffToABoundAndComeBackSoonOnceRecordsFlow) {
    const DrainSlice fed{3, true};
    const DrainSlice empty{0, true};
    const int soon = idleLookAfter(fed, INT_MAX / 4);
    EXPECT_GT(soon, 0) << "a zero pause would spin the event loop";

    // While nothing comes each pause is at least the last, they grow, and they stop growing.
    std::vector<int> pauses{soon};
    for (int look = 0; look < 20; ++look) {
        pauses.push_back(idleLookAfter(empty, pauses.back()));
        EXPECT_GE(pauses.back(), pauses[pauses.size() - 2]) << "look " << look;
    }
    EXPECT_GT(pauses[1], soon) << "an idle mailbox is looked at less often";
    const int longest = pauses.back();
    EXPECT_EQ(pauses[pauses.size() - 5], longest) << "the pauses keep growing";
    // A look must still come before the next poll tick, or it would gain nothing on the tick.
    EXPECT_LT(longest, CQuorvaneDlg::kPollPeriodMs);

    // However long it was idle, or whatever pause came before, the bounds hold.
    EXPECT_EQ(idleLookAfter(empty, INT_MAX / 4), longest);
    EXPECT_GE(idleLookAfter(empty, 0), soon);
    EXPECT_GE(idleLookAfter(empty, -5), soon);
    EXPECT_EQ(idleLookAfter(fed, longest), soon) << "records bring the first pause back";
    EXPECT_EQ(idleLookAfter(fed, 0), soon);
}

}  // namespace
