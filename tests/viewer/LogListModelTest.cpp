#include <gtest/gtest.h>
#include <unistd.h>

#include <QSignalSpy>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/MemoryRelease.h"
#include "viewer/list/RowSelection.h"

namespace {

using viewertest::rows;

TEST(LogListModel, LinesPutOnTopShowNewestFirstAndAppendedLinesOldestFirst) {
    CLogListModel top;
    top.insertLine("one", true);
    top.insertLine("two", true);
    top.insertLine("three", true);
    EXPECT_EQ(rows(top), (std::vector<std::string>{"three", "two", "one"}));
    EXPECT_EQ(top.topCount(), 3u);

    CLogListModel bottom;
    bottom.insertLine("one", false);
    bottom.insertLine("two", false);
    EXPECT_EQ(rows(bottom), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(bottom.topCount(), 0u);
    EXPECT_EQ(bottom.rowCount(), 2);
}

TEST(LogListModel, LineReturnsTheBytesUnchangedAndDisplayDataDecodesThem) {
    CLogListModel model;
    const std::string bytes("a\tb\t\t\xff\xe9 \x01z", 9);
    const std::string empty;
    model.insertLine(bytes, false);
    model.insertLine(empty, false);
    EXPECT_EQ(model.line(0), bytes);
    EXPECT_EQ(model.line(1), empty);
    // A field that is no UTF-8 reads as Latin-1, beside one that is.
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(),
              QStringLiteral("a\tb\t\t\u00ff\u00e9 \u0001"));
    model.insertLine("caf\xc3\xa9\tcaf\xe9", false);
    EXPECT_EQ(model.data(model.index(2), Qt::DisplayRole).toString(),
              QStringLiteral("caf\u00e9\tcaf\u00e9"));
    EXPECT_FALSE(model.data(model.index(5), Qt::DisplayRole).isValid());
}

TEST(LogListModel, LinesLongerThanAStorageBlockAndManyLinesAcrossBlocksSurvive) {
    CLogListModel model;
    const std::string huge(5u << 20, 'x');
    model.insertLine("before", false);
    model.insertLine(huge, false);
    std::string line;
    for (int i = 0; i < 20000; ++i) {
        line = "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 300), '\t');
        model.stageLine(line, true);
    }
    model.commitStaged();
    model.insertLine("after", false);
    ASSERT_EQ(model.size(), 20003u);
    EXPECT_EQ(model.line(0).substr(0, 10), "line 19999");
    EXPECT_EQ(model.line(19999), "line 0");
    EXPECT_EQ(model.line(20000), "before");
    EXPECT_EQ(model.line(20001).size(), huge.size());
    EXPECT_EQ(model.line(20002), "after");
    EXPECT_EQ(model.line(10000), "line 9999" + std::string(9999 % 300, '\t'));
}

TEST(LogListModel, StagedLinesBecomeVisibleInOneInsertionPerSide) {
    CLogListModel model;
    model.insertLine("old", true);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.stageLine("a", true);
    model.stageLine("b", true);
    model.stageLine("c", true);
    EXPECT_EQ(model.size(), 1u);
    EXPECT_EQ(model.stagedCount(), 3u);
    EXPECT_EQ(inserted.count(), 0);
    model.commitStaged();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 2);
    EXPECT_EQ(rows(model), (std::vector<std::string>{"c", "b", "a", "old"}));

    model.stageLine("d", false);
    model.stageLine("e", false);
    model.commitStaged();
    ASSERT_EQ(inserted.count(), 2);
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 4);
    EXPECT_EQ(inserted.at(1).at(2).toInt(), 5);
    model.commitStaged();
    EXPECT_EQ(inserted.count(), 2);
}

TEST(LogListModel, ClearRemovesEveryLineWithOneResetAndKeepsNoMemory) {
    CLogListModel model;
    EXPECT_EQ(model.bytesHeld(), 0u);
    // A million lines on both sides, the last ones only staged, spread over many blocks.
    const std::string line(60, 'm');
    for (int i = 0; i < 1000000; ++i) {
        model.stageLine(line, i % 2 == 0);
        if (i % 100000 == 0) {
            model.commitStaged();
        }
    }
    ASSERT_GT(model.stagedCount(), 0u);
    const std::size_t held = model.bytesHeld();
    EXPECT_GE(held, 1000000u * (line.size() + 8));
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.size(), 0u);
    EXPECT_EQ(model.stagedCount(), 0u);
    EXPECT_EQ(model.topCount(), 0u);
    EXPECT_EQ(model.bytesHeld(), 0u) << "blocks and index capacity were " << held << " bytes";
    model.insertLine("c", false);
    EXPECT_EQ(rows(model), (std::vector<std::string>{"c"}));
    EXPECT_GT(model.bytesHeld(), 0u);
}

using viewertest::statusBytes;

TEST(LogListModel, AMillionLinesHoldAtMostSixteenBytesEachBeyondTheirOwn) {
    constexpr std::size_t kLines = 1'000'000;
    constexpr std::size_t kCommitEvery = 20'000;
    for (const std::size_t length : {std::size_t{100}, std::size_t{300}}) {
        const std::string line(length, 'r');
        CLogListModel model;
        const std::size_t before = statusBytes("RssAnon");
        ASSERT_GT(before, 0u);
        for (std::size_t i = 1; i <= kLines; ++i) {
            model.stageLine(line, true);
            if (i % kCommitEvery == 0) {
                model.commitStaged();
            }
        }
        const std::size_t grown = statusBytes("RssAnon") - before;
        EXPECT_LE(grown, kLines * (length + 16))
            << length << "-byte lines: " << static_cast<double>(grown) / kLines << " bytes each";
        EXPECT_EQ(model.line(kLines - 1), line);
    }
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

TEST(MemoryRelease, MemoryTheAllocatorKeptAfterAFreeGoesBackToTheSystem) {
    // Chunks small enough to come from the heap, taken in turn with chunks that stay, so that
    // freeing them cannot just shorten the heap at its end.
    constexpr std::size_t kChunkSize = 64u << 10;
    constexpr std::size_t kChunks = 800;
    std::vector<std::unique_ptr<char[]>> freed;
    std::vector<std::unique_ptr<char[]>> kept;
    for (std::size_t i = 0; i < kChunks; ++i) {
        freed.push_back(std::make_unique<char[]>(kChunkSize));  // zeroed, so resident
        kept.push_back(std::make_unique<char[]>(kChunkSize));
    }
    freed.clear();
    const std::size_t before = residentBytes();
    returnFreedMemoryToSystem();
    const std::size_t after = residentBytes();
    ASSERT_LT(after, before);
    EXPECT_GT(before - after, kChunks * kChunkSize / 2)
        << "resident " << before / 1024 << " kB before, " << after / 1024 << " kB after";
}

TEST(RowSelectionTest, SelectMergesTouchingRangesAndDeselectSplitsThem) {
    RowSelection selection;
    selection.select(5, 3);
    selection.select(6, 8);
    selection.select(-4, -2);
    ASSERT_EQ(selection.ranges().size(), 2u);
    EXPECT_EQ(selection.ranges().at(3), 8);
    EXPECT_EQ(selection.ranges().at(-4), -2);
    EXPECT_EQ(selection.count(), 9u);

    selection.deselect(5, 6);
    EXPECT_TRUE(selection.contains(4));
    EXPECT_FALSE(selection.contains(5));
    EXPECT_FALSE(selection.contains(6));
    EXPECT_TRUE(selection.contains(7));
    EXPECT_EQ(selection.count(), 7u);

    selection.toggle(5);
    selection.toggle(6);
    EXPECT_EQ(selection.ranges().count(3), 1u);
    EXPECT_EQ(selection.ranges().at(3), 8);
    selection.toggle(-3);
    EXPECT_FALSE(selection.contains(-3));
    EXPECT_TRUE(selection.contains(-2));
    EXPECT_FALSE(selection.contains(-5));
    selection.deselect(-100, 100);
    EXPECT_TRUE(selection.empty());
}

}  // namespace
