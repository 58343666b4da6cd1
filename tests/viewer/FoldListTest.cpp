#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/viewer/ScopedTrace.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/find/LineFilter.h"
#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/list/CLogListView.h"
#include "viewer/list/FoldMarks.h"

namespace {

using viewertest::ScopedTrace;
using viewertest::TraceScope;
using viewertest::waitUntil;
using Lines = std::vector<std::string>;

// Sender 1 opens parse and, inside it, read; sender 2 goes on beside them.
const Lines kLines = {
    "00001\t1\t10:00:00\tprog\tparse(a)",  "00002\t2\t10:00:00\tprog\tother(b)",
    "00003\t1\t10:00:00\tprog\t\tnote(c)", "00004\t1\t10:00:00\tprog\t\tread(d)",
    "00005\t2\t10:00:00\tprog\tother(e)",  "00006\t1\t10:00:00\tprog\t\t\tnote(f)",
    "00007\t1\t10:00:00\tprog\t\tread()",  "00008\t1\t10:00:00\tprog\tparse()",
    "00009\t1\t10:00:00\tprog\tafter(g)",
};

// The lines of the list, top to bottom.
Lines shownLines(const ShownRows& shown) {
    Lines lines;
    for (std::size_t row = 0; row < shown.size(); ++row) lines.emplace_back(shown.line(row));
    return lines;
}

// kLines' lines of `indexes` as the list shows them: oldest first, or newest first on top.
Lines inScreenOrder(const Lines& all, std::vector<std::size_t> indexes, bool onTop) {
    Lines lines;
    if (onTop) std::reverse(indexes.begin(), indexes.end());
    for (const std::size_t index : indexes) lines.push_back(all[index]);
    return lines;
}

std::string currentLine(const CLogListView& list) {
    const std::ptrdiff_t row = list.currentRow();
    return row < 0 ? std::string() : std::string(list.shownRows().line(row));
}

class FoldListTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        list.resize(400, 300);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }

    bool onTop() const { return GetParam(); }

    void fill(const Lines& lines) {
        for (const std::string& line : lines) list.model().insertLine(line, onTop());
    }

    // The shown row of kLines' line `index`.
    std::size_t rowOfLine(std::size_t index) const {
        const ShownRows& shown = list.shownRows();
        for (std::size_t row = 0; row < shown.size(); ++row) {
            if (shown.line(row) == kLines[index]) return row;
        }
        ADD_FAILURE() << "line " << index << " is not shown";
        return 0;
    }

    ::testing::AssertionResult applied() {
        return waitUntil("the rows are worked out", [&] { return list.shownRows().isComplete(); });
    }

    CLogListView list;
};

TEST_P(FoldListTest, LeftAndRightFoldUnfoldAndWalkTheScopesAsInATreeView) {
    fill(kLines);
    list.selectRow(rowOfLine(0));
    QTest::keyClick(&list, Qt::Key_Left);
    ASSERT_TRUE(applied());
    EXPECT_EQ(shownLines(list.shownRows()), inScreenOrder(kLines, {0, 1, 4, 8}, onTop()));
    EXPECT_EQ(currentLine(list), kLines[0]);
    EXPECT_EQ(list.selectedCount(), 1u);

    QTest::keyClick(&list, Qt::Key_Right);
    ASSERT_TRUE(applied());
    EXPECT_EQ(list.shownRows().size(), kLines.size());
    EXPECT_EQ(currentLine(list), kLines[0]);
    // Right on an open scope goes to its first line; Left from inside goes back to the entry.
    QTest::keyClick(&list, Qt::Key_Right);
    EXPECT_EQ(currentLine(list), kLines[2]);

    list.selectRow(rowOfLine(5));
    QTest::keyClick(&list, Qt::Key_Left);
    EXPECT_EQ(currentLine(list), kLines[3]);
    QTest::keyClick(&list, Qt::Key_Left);  // folds read
    ASSERT_TRUE(applied());
    QTest::keyClick(&list, Qt::Key_Left);  // from the folded read up to parse
    EXPECT_EQ(currentLine(list), kLines[0]);
    QTest::keyClick(&list, Qt::Key_Left);  // folds parse
    ASSERT_TRUE(applied());
    EXPECT_EQ(list.shownRows().size(), 4u);
    QTest::keyClick(&list, Qt::Key_Right);  // parse opens; read inside it stays folded
    ASSERT_TRUE(applied());
    EXPECT_EQ(shownLines(list.shownRows()), inScreenOrder(kLines, {0, 1, 2, 3, 4, 7, 8}, onTop()));

    // On a line in no scope the keys scroll sideways, as before.
    list.resize(120, 300);
    QApplication::processEvents();
    QScrollBar& sideways = *list.horizontalScrollBar();
    ASSERT_GT(sideways.maximum(), 0);
    sideways.setValue(sideways.maximum());
    list.selectRow(rowOfLine(8));
    QTest::keyClick(&list, Qt::Key_Left);
    EXPECT_LT(sideways.value(), sideways.maximum());
    EXPECT_EQ(list.shownRows().size(), 7u);
}

TEST_P(FoldListTest, AClickOnTheMarkFoldsAndUnfoldsAndAClickBesideItSelects) {
    fill(kLines);
    list.viewport()->repaint();
    const ScopeTree::Id parse = list.shownRows().scopeAt(rowOfLine(0));
    ASSERT_NE(parse, ScopeTree::kNone);
    const QRect mark = list.foldMarkRect(parse);
    ASSERT_FALSE(mark.isEmpty());
    // The mark lies in the indentation, left of the name.
    EXPECT_GT(mark.left(), list.lineWidth(QStringLiteral("00001\t1\t10:00:00\tprog")) / 2);

    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, mark.center());
    ASSERT_TRUE(applied());
    EXPECT_TRUE(list.shownRows().scopes().isFolded(parse));
    EXPECT_EQ(list.shownRows().size(), 4u);
    EXPECT_EQ(list.shownRows().scopes().held(parse), 5u);
    list.viewport()->repaint();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.foldMarkRect(parse).center());
    ASSERT_TRUE(applied());
    EXPECT_EQ(list.shownRows().size(), kLines.size());
    // Further right on the row is the line itself.
    const QPoint onText(list.viewport()->width() - 5, mark.center().y());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, onText);
    EXPECT_FALSE(list.shownRows().scopes().isFolded(parse));
    EXPECT_EQ(currentLine(list), kLines[0]);
}

TEST_P(FoldListTest, LinesArrivingInFoldedScopesStayHiddenUnderAFilterAndUnfoldShowsThem) {
    const ScopedTrace trace = viewertest::randomScopedTrace(3000, 17);
    const auto stage = [&](std::size_t from, std::size_t to) {
        for (std::size_t index = from; index < to; ++index) {
            list.model().stageLine(trace.lines[index], onTop());
            if (index % 97 == 0) list.model().commitStaged();
        }
        list.model().commitStaged();
    };
    stage(0, 1000);
    LineFilter filter;
    filter.addField(LineFilter::Field::Sender, "102", false);
    list.shownRows().setFilter(filter);
    // Fold some scopes still open and some closed, of the two senders the filter keeps.
    ShownRows& shown = list.shownRows();
    std::vector<std::size_t> folded;
    for (std::size_t index = 0; index < trace.scopes.size() && folded.size() < 12; ++index) {
        const TraceScope& scope = trace.scopes[index];
        if (scope.entry >= 1000 || scope.sender == 2 || index % 3 != 0) continue;
        const ScopeTree::Id id = shown.scopes().scopeAt({onTop(), scope.entry});
        if (id == ScopeTree::kNone) continue;
        ASSERT_TRUE(shown.fold(id));
        folded.push_back(index);
    }
    ASSERT_GT(folded.size(), 5u);
    stage(1000, trace.lines.size());
    ASSERT_TRUE(applied());

    const auto expected = [&](const std::vector<std::size_t>& foldedNow) {
        std::vector<bool> hidden(trace.lines.size(), false);
        for (const std::size_t scope : foldedNow) {
            for (const std::size_t line : trace.scopes[scope].inside) hidden[line] = true;
        }
        std::vector<std::size_t> kept;
        for (std::size_t index = 0; index < trace.lines.size(); ++index) {
            if (!hidden[index] && trace.lines[index].find("\t102\t") == std::string::npos) {
                kept.push_back(index);
            }
        }
        return inScreenOrder(trace.lines, kept, onTop());
    };
    EXPECT_EQ(shownLines(shown), expected(folded));

    const ScopeTree::Id first = shown.scopes().scopeAt({onTop(), trace.scopes[folded[0]].entry});
    ASSERT_TRUE(shown.unfold(first));
    ASSERT_TRUE(applied());
    folded.erase(folded.begin());
    EXPECT_EQ(shownLines(shown), expected(folded));
    shown.unfoldAll();
    ASSERT_TRUE(applied());
    EXPECT_EQ(shownLines(shown), expected({}));
    EXPECT_TRUE(shown.isFiltering());
}

TEST(FoldMarks, AFoldedEntrySaysTheLinesItHoldsAndHowLongItsScopeTook) {
    // As the client library stamps them: a scope of 2 ms, and one still open.
    const auto timed = [](std::uint32_t sequence, std::int32_t delta, const char* name,
                          std::uint32_t nanoseconds) {
        TraceRecord record = viewertest::makeRecord(name, "", "app", 5, delta);
        record.nanoseconds = nanoseconds;
        record.sequence = sequence;
        record.marker = quorvane::kPreciseTimeMarker;
        return record;
    };
    LineTimes times;
    times.follow(timed(1, 1, "parse", 1'000'000), 1);
    times.follow(timed(2, 0, "note", 2'000'000), 2);
    times.follow(timed(3, -1, "parse", 3'000'000), 3);
    times.follow(timed(4, 1, "read", 4'000'000), 4);
    EXPECT_EQ(FoldMarks::summary(2, &times, "00001\t5\t10:00:00\tapp\tparse()"),
              QStringLiteral("2 lines, 2.00 ms"));
    EXPECT_EQ(FoldMarks::summary(1, &times, "00004\t5\t10:00:00\tapp\tread()"),
              QStringLiteral("1 line, open"));
    EXPECT_EQ(FoldMarks::summary(7, nullptr, "00001\t5\t10:00:00\tapp\tparse()"),
              QStringLiteral("7 lines"));
    // Columns put before the program move the name, never the text after it.
    const QString drawn = QStringLiteral("00001\t5\t10:00:00.001\t2.00 ms\tapp\t\tparse(x)");
    EXPECT_EQ(FoldMarks::nameStart(drawn, "00001\t5\t10:00:00\tapp\t\tparse(x)"),
              drawn.indexOf(QStringLiteral("parse")));
}

TEST_P(FoldListTest, AFoldKeepsItsEntryWhereItWasOnScreenWhileItsRowsAreWorkedOut) {
    // 100,000 lines, more than a few steps; the scope opens at line 50,000 and holds sender 1's
    // next 30,000 lines, with sender 2's lines beside it.
    constexpr std::size_t kCount = 100'000;
    constexpr std::size_t kEntry = 50'000;
    constexpr std::size_t kLeave = 80'000;
    constexpr std::size_t kOffset = 5;
    char line[64];
    for (std::size_t index = 0; index < kCount; ++index) {
        const bool beside = index % 10 == 5;
        const char* entry = index == kEntry                      ? "scope(x)"
                            : index == kLeave                    ? "scope()"
                            : !beside && index > kEntry && index < kLeave ? "\twork(w)"
                                                                          : "plain(p)";
        std::snprintf(line, sizeof line, "%07zu\t%d\t10:00:00\tp\t%s", index + 1,
                      beside ? 2 : 1, entry);
        list.model().stageLine(line, onTop());
    }
    list.model().commitStaged();
    const std::size_t entryRow = onTop() ? kCount - 1 - kEntry : kEntry;
    list.scrollToRow(entryRow - kOffset);
    list.selectRow(entryRow);
    ASSERT_EQ(list.topRow(), entryRow - kOffset);
    QTest::keyClick(&list, Qt::Key_Left);
    ASSERT_FALSE(list.shownRows().isComplete());
    ASSERT_TRUE(applied());
    const std::ptrdiff_t row = list.currentRow();
    ASSERT_GE(row, 0);
    EXPECT_EQ(list.shownRows().line(static_cast<std::size_t>(row)).substr(0, 8), "0050001\t");
    EXPECT_EQ(static_cast<std::size_t>(row) - list.topRow(), kOffset);
    EXPECT_EQ(list.shownRows().size(), kCount - (kLeave - kEntry) * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, FoldListTest, ::testing::Bool(), [](const auto& info) {
    return info.param ? "NewestOnTop" : "OldestOnTop";
});

// A million lines in one scope of sender 1, with sender 2 beside it every tenth line.
void fillMillion(CLogListModel& model, bool onTop, std::size_t lines) {
    char line[64];
    for (std::size_t index = 0; index < lines; ++index) {
        const bool other = index % 10 == 5;
        const char* entry = index == 0           ? "main(x)"
                            : index + 1 == lines ? "main()"
                            : other              ? "tick(t)"
                                                 : "\twork(w)";
        std::snprintf(line, sizeof line, "%07zu\t%d\t10:00:00\tp\t%s", index + 1, other ? 2 : 1,
                      entry);
        model.stageLine(line, onTop);
    }
    model.commitStaged();
}

TEST(FoldSteps, AMillionLineFoldIsWorkedOutInBoundedStepsFromItsEntryOn) {
    constexpr std::size_t kMillion = 1'000'000;
    for (const bool onTop : {false, true}) {
        CLogListModel model;
        ShownRows shown(model);
        fillMillion(model, onTop, kMillion);
        const std::size_t entryRow = onTop ? kMillion - 1 : 0;
        const ScopeTree::Id main = shown.scopeAt(entryRow);
        ASSERT_NE(main, ScopeTree::kNone);
        ASSERT_TRUE(shown.fold(main));
        // The fold itself takes one step; the event loop gets its turn between the others.
        std::size_t tested = shown.tested();
        EXPECT_LE(tested, 1 + ShownRows::kStepLines);
        int turns = 0;
        while (!shown.isComplete() && turns < 1000) {
            QApplication::processEvents();
            EXPECT_LE(shown.tested() - tested, ShownRows::kStepLines);
            tested = shown.tested();
            ++turns;
        }
        ASSERT_TRUE(shown.isComplete());
        EXPECT_GE(turns, static_cast<int>(kMillion / ShownRows::kStepLines) - 1);
        EXPECT_EQ(shown.size(), 1 + kMillion / 10);
        EXPECT_EQ(shown.line(shown.rowOf(shown.scopes().entryOf(main))).substr(0, 8), "0000001\t");

        ASSERT_TRUE(shown.unfold(main));
        EXPECT_EQ(shown.size(), kMillion);
        EXPECT_FALSE(shown.isNarrowed());
    }
}

}  // namespace
