#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "bench/BaselineFormatter.h"
#include "bench/RecordMix.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"

namespace {

constexpr std::size_t kRecords = 4000;
constexpr std::uint32_t kSeed = 7;

TEST(RecordMix, InterleavesNestedSendersWithTextsOfTheStatedLengths) {
    const std::vector<TraceRecord> mix = makeRecordMix(kRecords, kSeed);
    ASSERT_EQ(mix.size(), kRecords);

    std::map<std::uint32_t, std::int32_t> depth;
    std::int32_t deepest = 0;
    std::size_t shortest = kMaxTextLength;
    std::size_t longest = 0;
    for (const TraceRecord& record : mix) {
        depth[record.senderKey] += record.depthDelta;
        EXPECT_GE(depth[record.senderKey], 0);
        deepest = std::max(deepest, depth[record.senderKey]);
        const std::size_t length = strnlen(record.entryText, sizeof record.entryText);
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
    }
    EXPECT_EQ(depth.size(), kMixSenders);
    EXPECT_GE(deepest, 3);
    for (const auto& [sender, finalDepth] : depth) EXPECT_EQ(finalDepth, 0) << sender;
    EXPECT_GE(shortest, kMinTextLength);
    EXPECT_LE(longest, kMaxTextLength);
    EXPECT_GT(longest - shortest, (kMaxTextLength - kMinTextLength) / 2);
    EXPECT_EQ(mix.back().timestamp - mix.front().timestamp,
              static_cast<std::int64_t>((kRecords - 1) / kRecordsPerClockTick));
}

TEST(RecordMix, ATextRangeOfItsOwnBoundsEveryTextAndKeepsTheNesting) {
    constexpr std::size_t kShortest = 20;
    constexpr std::size_t kLongest = 72;
    const std::vector<TraceRecord> mix = makeRecordMix(kRecords, kSeed, kShortest, kLongest);
    std::map<std::uint32_t, std::int32_t> depth;
    std::set<std::size_t> lengths;
    for (const TraceRecord& record : mix) {
        depth[record.senderKey] += record.depthDelta;
        ASSERT_GE(depth[record.senderKey], 0);
        lengths.insert(strnlen(record.entryText, sizeof record.entryText));
    }
    for (const auto& [sender, finalDepth] : depth) EXPECT_EQ(finalDepth, 0) << sender;
    EXPECT_EQ(*lengths.begin(), kShortest);
    EXPECT_EQ(*lengths.rbegin(), kLongest);
}

TEST(RecordMix, TheSameSeedGivesTheSameRecords) {
    const std::vector<TraceRecord> first = makeRecordMix(500, kSeed);
    const std::vector<TraceRecord> again = makeRecordMix(500, kSeed);
    const std::vector<TraceRecord> other = makeRecordMix(500, kSeed + 1);
    EXPECT_EQ(std::memcmp(first.data(), again.data(), first.size() * sizeof(TraceRecord)), 0);
    EXPECT_NE(std::memcmp(first.data(), other.data(), first.size() * sizeof(TraceRecord)), 0);
}

// The peer must do the same work: its lines are LineFormatter's lines, byte for byte, over two
// passes of the mix (line numbers past five digits, depths carried from pass to pass).
TEST(BaselineFormatter, BuildsExactlyTheLinesOfLineFormatter) {
    const std::vector<TraceRecord> mix = makeRecordMix(kRecords, kSeed);
    DepthTable depths;
    LineFormatter formatter(depths);
    BaselineFormatter baseline;
    const std::uint32_t firstLine = 99'000;
    for (std::uint32_t i = 0; i < 2 * kRecords; ++i) {
        const TraceRecord& record = mix[i % kRecords];
        const std::string expected(formatter.formatLine(record, firstLine + i));
        ASSERT_EQ(baseline.formatLine(record, firstLine + i), expected) << "record " << i;
        formatter.storeDepth();
        baseline.storeDepth();
    }
}

TEST(BaselineFormatter, IndentsBySenderDepthAndBoundsUnterminatedFields) {
    BaselineFormatter baseline;
    TraceRecord record{};
    std::strcpy(record.entryName, "open");
    record.senderKey = 9;
    record.depthDelta = 1;
    record.timestamp = 0;
    const std::string opening = baseline.formatLine(record, 1);
    baseline.storeDepth();
    EXPECT_EQ(opening.substr(0, 8), "00001\t9\t");
    EXPECT_EQ(opening.substr(opening.size() - 7), "\topen()");

    record.depthDelta = 0;
    std::memset(record.originName, 'o', sizeof record.originName);
    std::memset(record.entryText, 'x', sizeof record.entryText);
    const std::string inner = baseline.formatLine(record, 2);
    EXPECT_NE(inner.find(std::string(TraceRecord::kOriginNameSize, 'o') + "\t\topen("),
              std::string::npos);
    EXPECT_EQ(inner.substr(inner.size() - 2), "x)");
    EXPECT_EQ(std::count(inner.begin(), inner.end(), 'x'),
              static_cast<long>(TraceRecord::kEntryTextSize));
}

}  // namespace
