#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "records/ScopeTimes.h"

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

// A record as the client library makes it: precise time, a sequence number and the marker.
TraceRecord timed(std::uint32_t sender, std::uint32_t sequence, std::int32_t delta,
                  const char* name, std::int64_t nanosecondsSinceEpoch) {
    TraceRecord record;
    std::memset(&record, 0, sizeof record);
    std::strncpy(record.entryName, name, sizeof record.entryName - 1);
    record.senderKey = sender;
    record.depthDelta = delta;
    record.timestamp = nanosecondsSinceEpoch / kSecond;
    record.nanoseconds = static_cast<std::uint32_t>(nanosecondsSinceEpoch % kSecond);
    record.sequence = sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    return record;
}

TEST(ScopeTimes, InterleavedSendersEachCloseTheirOwnScopesWithTheirOwnDurations) {
    ScopeTimes times;
    const std::int64_t base = 1'700'000'000 * kSecond;
    // Two threads enter "work" and "parse" in turns; each leave finds its own sender's entry.
    EXPECT_FALSE(times.follow(timed(1, 1, 1, "work", base), 1).closesScope);
    times.follow(timed(2, 1, 1, "work", base + 100), 2);
    times.follow(timed(1, 2, 1, "parse", base + 1'000), 3);
    times.follow(timed(2, 2, 0, "note", base + 1'500), 4);
    const ScopeTimes::Timing parse = times.follow(timed(1, 3, -1, "parse", base + 13'400'000), 5);
    ASSERT_TRUE(parse.closesScope);
    EXPECT_EQ(parse.entryLine, 3u);
    EXPECT_EQ(parse.duration, 13'400'000 - 1'000);
    const ScopeTimes::Timing work2 = times.follow(timed(2, 3, -1, "work", base + 2 * kSecond), 6);
    ASSERT_TRUE(work2.closesScope);
    EXPECT_EQ(work2.entryLine, 2u);
    EXPECT_EQ(work2.duration, 2 * kSecond - 100);
    EXPECT_EQ(work2.lostBefore, 0u);
    // Sender 1's "work" is still open, and only it.
    std::vector<std::uint32_t> open;
    times.forEachOpenScope([&](std::uint32_t, const ScopeTimes::OpenScope& scope) {
        open.push_back(scope.entryLine);
    });
    EXPECT_EQ(open, std::vector<std::uint32_t>{1});
}

TEST(ScopeTimes, ALostLeaveClosesTheInnerScopesUnfinishedAndAJumpCountsTheLostRecords) {
    ScopeTimes times;
    times.follow(timed(7, 10, 1, "outer", 5 * kSecond), 1);
    times.follow(timed(7, 11, 1, "inner", 5 * kSecond + 10), 2);
    times.follow(timed(7, 12, 1, "deepest", 5 * kSecond + 20), 3);
    // Records 13 and 14 (the two inner leaves) never arrived.
    const ScopeTimes::Timing outer = times.follow(timed(7, 15, -1, "outer", 6 * kSecond), 4);
    std::vector<std::uint32_t> unfinished;
    for (const ScopeTimes::OpenScope& scope : times.unfinished())
        unfinished.push_back(scope.entryLine);
    EXPECT_EQ(outer.lostBefore, 2u);
    ASSERT_TRUE(outer.closesScope);
    EXPECT_EQ(outer.entryLine, 1u);
    EXPECT_EQ(outer.duration, kSecond);
    EXPECT_EQ(outer.unfinishedScopes, 2u);
    EXPECT_EQ(unfinished, (std::vector<std::uint32_t>{2, 3}));
    // A leave with no open scope of its name closes nothing.
    EXPECT_FALSE(times.follow(timed(7, 16, -1, "outer", 7 * kSecond), 5).closesScope);
}

TEST(ScopeTimes, SequenceNumbersThatWrapCountOnAndOnesThatGoBackCountNothing) {
    ScopeTimes times;
    times.follow(timed(3, 0xFFFFFFFEu, 0, "a", kSecond), 1);
    EXPECT_EQ(times.follow(timed(3, 0xFFFFFFFFu, 0, "b", kSecond), 2).lostBefore, 0u);
    EXPECT_EQ(times.follow(timed(3, 2, 0, "c", kSecond), 3).lostBefore, 2u);  // 0 and 1 lost
    // A new process under a reused key starts again at 1.
    EXPECT_EQ(times.follow(timed(3, 1, 0, "d", kSecond), 4).lostBefore, 0u);
    EXPECT_EQ(times.follow(timed(3, 2, 0, "e", kSecond), 5).lostBefore, 0u);
}

// A record written by anything else may hold any bytes where ours keep time: it gets no timing
// and leaves the scopes of the same sender alone.
TEST(ScopeTimes, ForeignRecordsWithRandomBytesTakeNoPart) {
    ScopeTimes times;
    times.follow(timed(9, 1, 1, "scope", kSecond), 1);
    std::mt19937 random(5);
    for (std::uint32_t line = 2; line < 1000; ++line) {
        TraceRecord foreign = timed(9, 0, line % 2 == 0 ? 1 : -1, "scope", 0);
        foreign.nanoseconds = static_cast<std::uint32_t>(random());
        foreign.sequence = static_cast<std::uint32_t>(random());
        do {
            foreign.marker = static_cast<std::uint32_t>(random());
        } while (foreign.marker == quorvane::kPreciseTimeMarker);
        const ScopeTimes::Timing timing = times.follow(foreign, line);
        ASSERT_FALSE(timing.precise);
        ASSERT_FALSE(timing.closesScope);
    }
    // Our marker with a nanosecond count no clock gives is not ours either.
    TraceRecord bad = timed(9, 2, -1, "scope", 2 * kSecond);
    bad.nanoseconds = 1'000'000'000u;
    EXPECT_FALSE(times.follow(bad, 1000).precise);
    const ScopeTimes::Timing closing = times.follow(timed(9, 2, -1, "scope", 3 * kSecond), 1001);
    ASSERT_TRUE(closing.closesScope);
    EXPECT_EQ(closing.entryLine, 1u);
    EXPECT_EQ(closing.lostBefore, 0u);
}

TEST(ScopeTimes, AbandonedSendersHandBackTheirOpenScopes) {
    ScopeTimes times;
    times.follow(timed(4, 1, 1, "main", kSecond), 1);
    times.follow(timed(4, 2, 1, "load", kSecond), 2);
    const std::vector<ScopeTimes::OpenScope> abandoned = times.abandonSender(4);
    ASSERT_EQ(abandoned.size(), 2u);
    EXPECT_STREQ(abandoned[1].entryName, "load");
    EXPECT_EQ(times.senderCount(), 0u);
}

TEST(ScopeTimes, DurationsAndFractionsReadAsPeopleWriteThem) {
    char text[kDurationTextSize];
    const auto duration = [&](std::int64_t nanoseconds) {
        return std::string(text, formatDuration(nanoseconds, text));
    };
    EXPECT_EQ(duration(850), "850 ns");
    EXPECT_EQ(duration(1'234), "1.23 \u00b5s");
    EXPECT_EQ(duration(12'400'000), "12.4 ms");
    EXPECT_EQ(duration(999'999'999), "1.00 s");
    EXPECT_EQ(duration(999'400), "999 \u00b5s");
    EXPECT_EQ(duration(1'200'000'000), "1.20 s");
    EXPECT_EQ(duration(185 * kSecond), "3 min 05 s");
    EXPECT_EQ(duration(-5), "0 ns");
    char fraction[8];
    EXPECT_EQ(formatFraction(123'456'789, 3, fraction), ".123");
    EXPECT_EQ(formatFraction(5'000, 6, fraction), ".000005");
}

}  // namespace
