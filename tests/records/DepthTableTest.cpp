#include <gtest/gtest.h>

#include <cstdint>

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
    for (std::uint32_t i = 0; i < kSenders; ++i) table.store(i * 65536u + i, -static_cast<int>(i));
    EXPECT_EQ(table.size(), kSenders);
    for (std::uint32_t i = 0; i < kSenders; ++i) {
        std::int32_t depth = 1;
        ASSERT_TRUE(table.lookup(i * 65536u + i, depth)) << i;
        ASSERT_EQ(depth, -static_cast<int>(i));
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

}  // namespace
