#include <gtest/gtest.h>

#include <vector>

#include "viewer/live/RecordDrain.h"

namespace {

TEST(RecordDrain, IdleLooksBackOffToTheLongestPauseAndComeBackSoonAfterRecords) {
    const DrainSlice empty{0, true};
    int pause = kFirstIdleLookMs;
    std::vector<int> pauses;
    for (int look = 0; look < 6; ++look) {
        pause = idleLookAfter(empty, pause);
        pauses.push_back(pause);
    }
    EXPECT_EQ(pauses,
              (std::vector<int>{2 * kFirstIdleLookMs, 4 * kFirstIdleLookMs, kLongestIdleLookMs,
                                kLongestIdleLookMs, kLongestIdleLookMs, kLongestIdleLookMs}));
    EXPECT_EQ(idleLookAfter(DrainSlice{3, true}, kLongestIdleLookMs), kFirstIdleLookMs);
}

}  // namespace
