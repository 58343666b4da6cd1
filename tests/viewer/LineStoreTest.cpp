#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/LineStore.h"

namespace {

// A line of `length` bytes whose content depends on `seed`, so a line read from the wrong place
// differs from the one expected.
std::string patterned(std::size_t length, std::size_t seed) {
    std::string line(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        line[i] = static_cast<char>('!' + (seed * 7 + i) % 90);
    }
    return line;
}

TEST(LineStore, LinesOfEveryLengthReadBackExactlyAcrossBlocksAndIndexPieces) {
    const std::vector<std::size_t> lengths = {
        0,
        1,
        300,
        LineStore::kOwnBlockLength - 1,
        LineStore::kOwnBlockLength,
        0,
        LineStore::kOwnBlockLength + 1,
        LineStore::kBlockSize,
        0,
        LineStore::kBlockSize + 1,
        77,
    };
    LineStore store;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        expected.push_back(patterned(lengths[i], i));
        store.append(expected.back());
    }
    // Enough ordinary lines to fill several blocks and index pieces, with empty ones among them
    // and one that fills a block to its last byte.
    for (std::size_t i = 0; expected.size() < 3 * LineStore::kEntriesPerPiece; ++i) {
        expected.push_back(patterned(i % 13 == 0 ? 0 : 200 + i % 700, i));
        store.append(expected.back());
    }
    ASSERT_EQ(store.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(store[i], expected[i])
            << "line " << i << " of " << expected[i].size() << " bytes";
    }
}

TEST(LineStore, AddingLinesNeverMovesTheBytesOfEarlierLinesAndCostsEightBytesEach) {
    LineStore store;
    const std::string first = patterned(120, 1);
    store.append(first);
    const char* firstBytes = store[0].data();
    constexpr std::size_t kLines = 200'000;
    constexpr std::size_t kLength = 100;
    for (std::size_t i = 1; i < kLines; ++i) {
        store.append(patterned(kLength, i));
    }
    EXPECT_EQ(store[0].data(), firstBytes);
    EXPECT_EQ(store[0], first);
    EXPECT_EQ(store[kLines - 1], patterned(kLength, kLines - 1));
    // Blocks hold the bytes; the index adds one 8-byte entry per line, in whole pieces.
    const std::size_t bytes = first.size() + (kLines - 1) * kLength;
    EXPECT_GE(store.bytesHeld(), bytes + kLines * 8);
    EXPECT_LE(store.bytesHeld(),
              bytes + kLines * 8 + LineStore::kBlockSize + LineStore::kEntriesPerPiece * 8 + 4096);
}

}  // namespace
