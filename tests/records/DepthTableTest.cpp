#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "records/DepthTable.h"

namespace {

TEST(DepthTable, UnknownSenderIsAbsentAndLeavesDepthUntouched) {
    DepthTable table;
    std::int32_t depth = 42;
    EXPECT_FALSE(table.lookup(7, depth));
    EXPECT_FALSE(table.lookup(0, depth));
    EXPECT_EQ(depth, 42);
    EXPECT_EQ(table.size(), 0u);
}

TEST(DepthTable, StoreCreatesThenReplacesOneEntryPerSender) {
    DepthTable table;
    for (const std::uint32_t key : {0u, 1u, 4294967295u}) {
        table.store(key, -3);
        table.store(key, static_cast<std::int32_t>(key % 1000) + 5);
    }
    EXPECT_EQ(table.size(), 3u);
    std::int32_t depth = 0;
    ASSERT_TRUE(table.lookup(0, depth));
    EXPECT_EQ(depth, 5);
    ASSERT_TRUE(table.lookup(1, depth));
    EXPECT_EQ(depth, 6);
    ASSERT_TRUE(table.lookup(4294967295u, depth));
    EXPECT_EQ(depth, 300);
    EXPECT_FALSE(table.lookup(2, depth));
}

TEST(DepthTable, KeepsEverySenderAcrossManyGrowths) {
    DepthTable table;
    constexpr std::uint32_t kSenders = 50000;
    // Strided keys, including ones that differ only in their high bits.
    for (std::uint32_t i = 0; i < kSenders; ++i) {
        table.store(i * 65536u + i, -static_cast<int>(i) - 1);
    }
    EXPECT_EQ(table.size(), kSenders);
    for (std::uint32_t i = 0; i < kSenders; ++i) {
        std::int32_t depth = 1;
        ASSERT_TRUE(table.lookup(i * 65536u + i, depth)) << i;
        ASSERT_EQ(depth, -static_cast<int>(i) - 1);
    }
    std::int32_t depth = 0;
    EXPECT_FALSE(table.lookup(kSenders * 65536u + kSenders, depth));
}

TEST(DepthTable, ReserveKeepsExistingEntries) {
    DepthTable table(2);
    table.store(11, 1);
    table.store(12, 2);
    table.reserve(1000);
    std::int32_t depth = 0;
    ASSERT_TRUE(table.lookup(11, depth));
    EXPECT_EQ(depth, 1);
    ASSERT_TRUE(table.lookup(12, depth));
    EXPECT_EQ(depth, 2);
    EXPECT_EQ(table.size(), 2u);
}

TEST(DepthTable, DepthZeroRemovesTheEntryAndReadsAsAbsent) {
    DepthTable table;
    for (const std::uint32_t key : {0u, 5u}) {
        table.store(key, 3);
        table.store(key, 0);
        std::int32_t depth = 42;
        EXPECT_FALSE(table.lookup(key, depth)) << key;
        EXPECT_EQ(depth, 42);
        table.store(key, 0);
        EXPECT_FALSE(table.lookup(key, depth)) << "storing 0 for an absent key adds nothing";
    }
    EXPECT_EQ(table.size(), 0u);
}

// Every step stores into the table and into std::unordered_map, which drops a sender at depth
// 0. Phases that mostly enter alternate with phases that mostly leave, so the table grows and
// shrinks many times and removals shift entries back through crowded probe runs.
TEST(DepthTable, RandomStoresAgreeWithAnUnorderedMapThroughGrowingAndShrinking) {
    std::mt19937 random(20240611);
    std::vector<std::uint32_t> pool = {0u, 1u, 4294967295u};
    for (std::uint32_t i = 1; i <= 1500; ++i) pool.push_back(i * 65536u);  // only high bits differ
    while (pool.size() < 3000) pool.push_back(static_cast<std::uint32_t>(random()));
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<std::int32_t> nonZeroDepth(-3, 3);
    std::uniform_int_distribution<int> percent(0, 99);

    DepthTable table;
    const std::size_t minimum = table.capacity();
    std::unordered_map<std::uint32_t, std::int32_t> expected;
    std::size_t largest = 0;
    const auto agree = [&](std::uint32_t key) {
        std::int32_t depth = 0;
        const auto found = expected.find(key);
        if (found == expected.end()) return !table.lookup(key, depth);
        return table.lookup(key, depth) && depth == found->second;
    };

    constexpr int kPhases = 16;
    constexpr int kStepsPerPhase = 20000;
    for (int phase = 0; phase < kPhases; ++phase) {
        const int zeroPercent = phase % 2 == 0 ? 15 : 90;
        for (int step = 0; step < kStepsPerPhase; ++step) {
            const std::uint32_t key = pool[pick(random)];
            std::int32_t depth = 0;
            if (percent(random) >= zeroPercent) {
                while (depth == 0) depth = nonZeroDepth(random);
            }
            table.store(key, depth);
            if (depth == 0) {
                expected.erase(key);
            } else {
                expected[key] = depth;
            }
            ASSERT_TRUE(agree(key)) << "phase " << phase << " step " << step << " key " << key;
            const std::uint32_t other = pool[pick(random)];
            ASSERT_TRUE(agree(other)) << "phase " << phase << " step " << step << " key " << other;
            ASSERT_EQ(table.size(), expected.size());
            // Never more than half full; below an eighth only at the minimum.
            ASSERT_LE(table.size() * 2, table.capacity() + 2);
            ASSERT_TRUE(table.capacity() == minimum || table.capacity() <= 8 * table.size());
            largest = std::max(largest, table.capacity());
        }
        for (const std::uint32_t key : pool) ASSERT_TRUE(agree(key)) << "key " << key;
    }
    EXPECT_GE(largest, 4096u) << "the entering phases must have grown the table";
}

TEST(DepthTable, SendersBackAtDepthZeroGiveBackEveryGrownSlot) {
    DepthTable table;
    const std::size_t minimum = table.capacity();
    constexpr std::uint32_t kSenders = 200000;
    for (std::uint32_t key = 0; key < kSenders; ++key) table.store(key * 2654435761u, 1);
    EXPECT_GE(table.capacity(), 2 * kSenders);
    for (std::uint32_t key = 0; key < kSenders; ++key) table.store(key * 2654435761u, 0);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.capacity(), minimum);

    // Reserved room stays: shrinking stops at the reserved count.
    DepthTable reserved;
    reserved.reserve(1000);
    const std::size_t reservedSlots = reserved.capacity();
    EXPECT_GT(reservedSlots, minimum);
    for (std::uint32_t key = 1; key <= 5000; ++key) reserved.store(key, 2);
    for (std::uint32_t key = 1; key <= 5000; ++key) reserved.store(key, 0);
    EXPECT_EQ(reserved.capacity(), reservedSlots);
}

}  // namespace
