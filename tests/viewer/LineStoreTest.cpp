#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "viewer/lines/LineStore.h"

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

// A text built line by line, each line ended by LF or CR LF, with where each line lies in it.
struct Text {
    std::string bytes;
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // offset and length

    void add(std::size_t length, bool crLf) {
        lines.emplace_back(bytes.size(), length);
        bytes += patterned(length, lines.size());
        bytes += crLf ? "\r\n" : "\n";
    }
};

// Adds the lines of `text` in place, as a saved log's reader does, and checks each reads back as
// the very bytes of the text.
void expectLinesInPlace(const Text& text, LineStore& store) {
    for (const auto& [offset, length] : text.lines) {
        store.appendInPlace(std::string_view(text.bytes).substr(offset, length));
    }
    ASSERT_EQ(store.size(), text.lines.size());
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        const std::string_view line = store[i];
        ASSERT_EQ(line.data(), text.bytes.data() + text.lines[i].first) << "line " << i;
        ASSERT_EQ(line.size(), text.lines[i].second) << "line " << i;
    }
}

TEST(LineStoreInPlace, LinesReadBackWhereTheyLieAcrossPiecesOfEveryWidthAndTheirEdges) {
    constexpr std::size_t kPiece = LineStore::kEntriesPerPiece;
    Text text;
    // Empty lines, LF then CR LF; then only CR LF, reaching 2 * (kPiece - 1) = 32766.
    for (std::size_t i = 0; i < kPiece; ++i) {
        text.add(0, i >= kPiece / 2);
    }
    for (std::size_t i = 0; i < kPiece; ++i) {
        text.add(0, true);
    }
    // Reaching exactly 32767, the most a narrow entry holds, and then one byte more.
    for (const std::size_t reach : {std::size_t{32767}, std::size_t{32768}}) {
        for (std::size_t i = 0; i < kPiece - 1; ++i) {
            text.add(0, true);
        }
        text.add(reach - 2 * (kPiece - 1), true);
    }
    // Ordinary lines, a long one among them, and a last piece left part full.
    for (std::size_t i = 0; i < 2 * kPiece + 77; ++i) {
        text.add(i == kPiece + 5 ? 300'000 : 40 + i % 600, i % 3 == 0);
    }
    LineStore store;
    expectLinesInPlace(text, store);
}

TEST(LineStoreInPlace, APieceReachingPastTwoGibibytesKeepsWideEntries) {
    // Address space only: the store never reads the bytes of lines added in place.
    constexpr std::size_t kReserved = std::size_t{5} << 30;
    void* reserved =
        ::mmap(nullptr, kReserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(reserved, MAP_FAILED);
    const std::unique_ptr<void, void (*)(void*)> release(
        reserved, [](void* memory) { ::munmap(memory, std::size_t{5} << 30); });
    const char* at = static_cast<const char*>(reserved);
    std::vector<std::string_view> lines;
    const std::size_t huge = (std::size_t{3} << 30) + 7;
    for (std::size_t i = 0; i < 2 * LineStore::kEntriesPerPiece + 3; ++i) {
        const std::size_t length = i == LineStore::kEntriesPerPiece - 2 ? huge : i % 5;
        lines.emplace_back(at, length);
        at += length + 1 + i % 2;
    }
    LineStore store;
    for (const std::string_view line : lines) {
        store.appendInPlace(line);
    }
    ASSERT_EQ(store.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(store[i].data(), lines[i].data()) << "line " << i;
        ASSERT_EQ(store[i].size(), lines[i].size()) << "line " << i;
    }
}

}  // namespace
