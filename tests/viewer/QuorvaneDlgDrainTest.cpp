// The dialog's polling and its list: order, Clear, numbering across drains, the poll timer.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimerEvent>
#include <cstdio>

#include "tests/viewer/QuorvaneDlgFixture.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

using viewertest::drainNow;
using viewertest::Lines;
using viewertest::makeRecord;
using viewertest::postFromChild;
using viewertest::QuorvaneDlgTest;
using viewertest::waitForValue;

TEST_F(QuorvaneDlgTest, NewestLineGoesOnTopByDefaultAndFreezesTheOrder) {
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    EXPECT_TRUE(dialog->reverseCheck().isEnabled());
    post({makeRecord("First", "a", "orig", 42)});
    drainNow(*dialog);
    post({makeRecord("Second", "b", "orig", 42)});
    drainNow(*dialog);
    EXPECT_EQ(shown(), Lines({"00002\t42\t10:00:00\torig\tSecond(b)",
                              "00001\t42\t10:00:00\torig\tFirst(a)"}));
    EXPECT_EQ(dialog->lineCount(), 2u);
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
}

TEST_F(QuorvaneDlgTest, OrderClearedBeforeTheFirstLineAppendsLines) {
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_FALSE(dialog->reverseCheck().isChecked());
    EXPECT_FALSE(dialog->reverse());
    EXPECT_FALSE(dialog->reverseLocked());
    post({makeRecord("First", "", "orig", 7), makeRecord("Second", "", "orig", 7)});
    drainNow(*dialog);
    EXPECT_EQ(shown(),
              Lines({"00001\t7\t10:00:00\torig\tFirst()", "00002\t7\t10:00:00\torig\tSecond()"}));
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_FALSE(dialog->reverseCheck().isChecked());
}

TEST_F(QuorvaneDlgTest, OrderCannotChangeOnceALineIsShown) {
    post({makeRecord("First", "", "o", 1)});
    drainNow(*dialog);
    // The box is disabled: a click does nothing.
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    // Even a change that reaches the handler is taken back.
    dialog->reverseCheck().setEnabled(true);
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverse());
    EXPECT_TRUE(dialog->reverseLocked());
    post({makeRecord("Second", "", "o", 1)});
    drainNow(*dialog);
    EXPECT_EQ(shown().front(), "00002\t1\t10:00:00\to\tSecond()");
}

TEST_F(QuorvaneDlgTest, ClearEmptiesTheListRestartsNumbersKeepsDepthsAndReopensTheOrder) {
    post({makeRecord("Open", "", "o", 5, +1), makeRecord("Inner", "", "o", 5, 0)});
    drainNow(*dialog);
    ASSERT_EQ(shown().front(), "00002\t5\t10:00:00\to\t\tInner()");
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(dialog->logList().model().bytesHeld(), 0u);
    EXPECT_EQ(dialog->lineCount(), 0u);
    EXPECT_TRUE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverseCheck().isChecked()) << "Clear leaves the choice as it was";

    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    post({makeRecord("After", "", "o", 5, 0), makeRecord("Later", "", "o", 5, -1)});
    drainNow(*dialog);
    // Sender 5 is still one level deep after Clear; its closing line comes back to depth 0.
    EXPECT_EQ(shown(),
              Lines({"00001\t5\t10:00:00\to\t\tAfter()", "00002\t5\t10:00:00\to\tLater()"}));
}

TEST_F(QuorvaneDlgTest, RecordsPostedBetweenTicksArriveInOneTickNumberedInPostingOrder) {
    post(
        {makeRecord("A", "1", "o", 9), makeRecord("B", "2", "o", 9), makeRecord("C", "3", "o", 9)});
    dialog->OnTimer(CQuorvaneDlg::POLL_TIMER_ID);
    EXPECT_FALSE(dialog->isDraining()) << "three records fit in one slice";
    EXPECT_EQ(shown(), Lines({"00003\t9\t10:00:00\to\tC(3)", "00002\t9\t10:00:00\to\tB(2)",
                              "00001\t9\t10:00:00\to\tA(1)"}));
}

TEST_F(QuorvaneDlgTest, ManyRunsOfRecordsAcrossDrainsAreNumberedInPostingOrder) {
    // More records than one run takes, twice, with a drain in between; each record carries its
    // posting number in its text.
    constexpr std::uint32_t kPerPost = RecordDrain::kRunLength * 3 + 17;
    std::uint32_t posted = 0;
    for (int post = 0; post < 2; ++post) {
        std::vector<TraceRecord> records;
        for (std::uint32_t i = 0; i < kPerPost; ++i) {
            records.push_back(makeRecord("Run", std::to_string(++posted).c_str(), "o", 4));
        }
        ASSERT_TRUE(postFromChild(records));
        drainNow(*dialog);
        ASSERT_EQ(dialog->lineCount(), posted);
    }
    const Lines lines = shown();
    ASSERT_EQ(lines.size(), posted);
    for (std::uint32_t number = 1; number <= posted; ++number) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.5u\t4\t10:00:00\to\tRun(%u)", number, number);
        // Newest on top: line `number` is `number` rows from the bottom.
        ASSERT_EQ(lines[posted - number], expected);
    }
}

TEST_F(QuorvaneDlgTest, ATimerOtherThanThePollTimerDoesNotDrain) {
    post({makeRecord("Waiting", "", "o", 3)});
    dialog->OnTimer(CQuorvaneDlg::POLL_TIMER_ID + 1);
    QTimerEvent foreign(CQuorvaneDlg::POLL_TIMER_ID - 1);
    QCoreApplication::sendEvent(dialog.get(), &foreign);
    EXPECT_TRUE(shown().empty());
    EXPECT_FALSE(dialog->isDraining());
    drainNow(*dialog);
    EXPECT_EQ(shown(), Lines({"00001\t3\t10:00:00\to\tWaiting()"}));
}

TEST_F(QuorvaneDlgTest, TheDialogDrainsTheMailboxOnItsOwn) {
    post({makeRecord("Tick", "", "o", 3)});
    ASSERT_TRUE(waitForValue(
        "lines drained by the timers", [&] { return dialog->lineCount(); }, 1u, 3000));
    EXPECT_EQ(shown(), Lines({"00001\t3\t10:00:00\to\tTick()"}));
}

}  // namespace
