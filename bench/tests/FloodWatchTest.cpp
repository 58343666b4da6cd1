#include <gtest/gtest.h>

#include "bench/FloodWatch.h"

namespace {

constexpr std::size_t kLines = 1000;
constexpr std::size_t kWindow = 200;

TEST(FloodWatch, RatesComeFromBatchBoundariesAndLeaveOutTheIdleEndedLastBatch) {
    FloodWatch watch(kLines, kWindow);
    watch.start(10.0);
    // 100 lines every 0.1 s from 10.5 s on, then a final batch after a long idle wait.
    double now = 10.5;
    for (std::size_t count = 100; count <= 900; count += 100, now += 0.1) {
        watch.linesShown(now, count);
    }
    EXPECT_FALSE(watch.complete());
    watch.linesShown(now + 0.4, kLines);
    ASSERT_TRUE(watch.complete());

    const double end = now + 0.4;  // 11.8 s
    EXPECT_NEAR(watch.endToEndRate(), kLines / (end - 10.0), 1e-6);
    EXPECT_NEAR(watch.firstLineDelay(), 0.5, 1e-9);
    EXPECT_NEAR(watch.sustainedRate(), 900 / (end - 10.5), 1e-6);
    // From the first batch (100) to the first holding 200 more lines (300): 0.2 s.
    EXPECT_NEAR(watch.firstWindowRate(), 1000.0, 1e-6);
    // The final batch is left out: from 700 to 900, 0.2 s.
    EXPECT_NEAR(watch.lastWindowRate(), 1000.0, 1e-6);
}

TEST(FloodWatch, ASlowerListShowsAsALowerLastWindowRate) {
    FloodWatch watch(kLines, kWindow);
    watch.start(0.0);
    double now = 0.0;
    double step = 0.1;
    for (std::size_t count = 100; count <= 900; count += 100) {
        now += step;
        step *= 1.5;  // every batch of 100 lines takes longer than the one before
        watch.linesShown(now, count);
    }
    watch.linesShown(now + 1.0, kLines);
    EXPECT_LT(watch.lastWindowRate(), watch.firstWindowRate() * 0.5);
}

TEST(FloodWatch, LongestGapSpansStartToEndOnlyAndCountsTheWaitBeforeTheFirstTick) {
    FloodWatch watch(kLines, kWindow);
    watch.timerTick(1.0);  // before the start: ignored
    watch.start(5.0);
    watch.timerTick(5.3);  // 0.3 s after the start
    watch.timerTick(5.31);
    watch.linesShown(5.35, 500);
    watch.timerTick(5.36);
    watch.linesShown(5.5, kLines);  // 0.14 s after the last tick
    watch.timerTick(9.0);           // after the end: ignored
    EXPECT_NEAR(watch.longestGapSeconds(), 0.3, 1e-9);
}

TEST(FloodWatch, AnIncompleteFloodHasNoRates) {
    FloodWatch watch(kLines, kWindow);
    watch.start(0.0);
    watch.linesShown(0.1, 10);
    watch.linesShown(0.05, 10);  // no new lines: not a batch
    EXPECT_FALSE(watch.complete());
    EXPECT_EQ(watch.endToEndRate(), 0.0);
    EXPECT_EQ(watch.sustainedRate(), 0.0);
    EXPECT_EQ(watch.firstWindowRate(), 0.0);
    EXPECT_EQ(watch.lastWindowRate(), 0.0);
}

}  // namespace
