#include <gtest/gtest.h>

#include <QString>
#include <random>
#include <string>
#include <vector>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/find/LineFilter.h"
#include "viewer/find/LineSearch.h"
#include "viewer/find/RowIndex.h"
#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineText.h"

namespace {

using viewertest::makeRecord;
using Lines = std::vector<std::string>;

void fill(CLogListModel& model, const Lines& lines, bool onTop) {
    for (const std::string& line : lines) {
        model.insertLine(line, onTop);
    }
}

// Lines as the viewer shows them: number, sender, time, program, entry(text).
class LineMaker {
  public:
    std::string operator()(std::uint32_t sender, const char* program, const char* text) {
        return std::string(
            m_formatter.formatLine(makeRecord("Entry", text, program, sender), ++m_number));
    }

  private:
    DepthTable m_table;
    LineFormatter m_formatter{m_table};
    std::uint32_t m_number = 0;
};

// The rows of `model` whose lines pass `test`, in screen order, looked at one by one.
std::vector<std::size_t> passingRows(const CLogListModel& model, const RowIndex::Test& test) {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < model.size(); ++row) {
        const bool onTop = row < model.topCount();
        const std::size_t position = onTop ? model.topCount() - 1 - row : row - model.topCount();
        if (test(model.line(row), onTop, position)) {
            rows.push_back(row);
        }
    }
    return rows;
}

std::vector<std::size_t> shownModelRows(const ShownRows& shown) {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < shown.size(); ++row) {
        rows.push_back(shown.modelRow(row));
    }
    return rows;
}

RowIndex::Test testOf(const LineSearch& search) {
    return [&search](std::string_view line, bool, std::size_t) { return search.matches(line); };
}

TEST(RowIndex, NextAndPreviousGoInScreenOrderAndWrapAtTheEnds) {
    CLogListModel model;
    fill(model, {"00001 alpha", "00002 beta", "00003 Alpha", "00004 gamma"}, false);
    LineSearch search;
    RowIndex index;
    ASSERT_TRUE(search.setPattern(QStringLiteral("alpha"), false, false));
    ASSERT_TRUE(index.step(model, testOf(search), 100));
    EXPECT_EQ(index.find(model, -1, true).row, 0);
    EXPECT_FALSE(index.find(model, -1, true).wrapped);
    EXPECT_EQ(index.find(model, 0, true).row, 2);
    EXPECT_FALSE(index.find(model, 0, true).wrapped);
    EXPECT_EQ(index.find(model, 1, true).row, 2);
    EXPECT_EQ(index.find(model, 2, true).row, 0);
    EXPECT_TRUE(index.find(model, 2, true).wrapped);
    EXPECT_EQ(index.find(model, 0, false).row, 2);
    EXPECT_TRUE(index.find(model, 0, false).wrapped);
    EXPECT_EQ(index.find(model, -1, false).row, 2);
    EXPECT_EQ(index.find(model, 3, false).row, 2);
    EXPECT_FALSE(index.find(model, 3, false).wrapped);

    // With case, the one match is found again from itself, after wrapping, both ways.
    ASSERT_TRUE(search.setPattern(QStringLiteral("Alpha"), true, false));
    index.restart();
    ASSERT_TRUE(index.step(model, testOf(search), 100));
    EXPECT_EQ(index.find(model, 2, true).row, 2);
    EXPECT_TRUE(index.find(model, 2, true).wrapped);
    EXPECT_EQ(index.find(model, 2, false).row, 2);
    EXPECT_TRUE(index.find(model, 2, false).wrapped);
    ASSERT_TRUE(search.setPattern(QStringLiteral("delta"), false, false));
    index.restart();
    ASSERT_TRUE(index.step(model, testOf(search), 100));
    EXPECT_EQ(index.find(model, 1, true).row, -1);

    // Lines put on top are searched as they are shown: newest first.
    CLogListModel top;
    fill(top, {"00001 x", "00002 x", "00003 y", "00004 z"}, true);
    fill(top, {"00005 x"}, false);
    ASSERT_TRUE(search.setPattern(QStringLiteral("x"), false, false));
    index.restart();
    ASSERT_TRUE(index.step(top, testOf(search), 100));
    EXPECT_EQ(top.line(static_cast<std::size_t>(index.find(top, -1, true).row)), "00002 x");
    EXPECT_EQ(top.line(static_cast<std::size_t>(index.find(top, 0, true).row)), "00002 x");
    EXPECT_EQ(top.line(static_cast<std::size_t>(index.find(top, 2, true).row)), "00001 x");
    EXPECT_EQ(top.line(static_cast<std::size_t>(index.find(top, 3, true).row)), "00005 x");
    EXPECT_EQ(top.line(static_cast<std::size_t>(index.find(top, 3, false).row)), "00002 x");
    EXPECT_EQ(index.indexAtOrAfter(top, 0), 0u);
    EXPECT_EQ(index.indexAtOrAfter(top, 3), 1u);
    EXPECT_EQ(index.indexAtOrAfter(top, 4), 2u);
    EXPECT_EQ(index.indexAtOrAfter(top, 5), 3u);
}

TEST(RowIndex, LooksAtABoundedNumberOfLinesPerStepAndLaterLinesOnEitherSide) {
    CLogListModel model;
    fill(model, {"a 1", "b 2", "a 3", "a 4", "c 5"}, false);
    fill(model, {"a 6", "d 7"}, true);
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("a "), true, false));
    RowIndex index;
    EXPECT_FALSE(index.step(model, testOf(search), 3));
    EXPECT_EQ(index.looked(), 3u);
    EXPECT_FALSE(index.step(model, testOf(search), 3));
    EXPECT_TRUE(index.step(model, testOf(search), 3));
    EXPECT_EQ(index.looked(), 7u);
    EXPECT_EQ(index.count(), 4u);

    fill(model, {"a 8"}, true);
    fill(model, {"a 9", "e 10"}, false);
    EXPECT_FALSE(index.isDone(model));
    EXPECT_TRUE(index.step(model, testOf(search), 100));
    EXPECT_EQ(index.count(), 6u);
    EXPECT_EQ(index.looked(), model.size());
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < index.count(); ++i) {
        found.push_back(index.row(model, i));
    }
    EXPECT_EQ(found, passingRows(model, testOf(search)));

    ASSERT_TRUE(search.setPattern(QStringLiteral("[bcde] "), true, true));
    index.restart();
    EXPECT_TRUE(index.step(model, testOf(search), 100));
    EXPECT_EQ(index.count(), 4u);
}

TEST(RowIndex, ResultsNotedAsLinesAreStagedAreUsedWithoutReadingTheLinesAgain) {
    CLogListModel model;
    RowIndex index;
    int reads = 0;
    const RowIndex::Test test = [&](std::string_view line, bool, std::size_t) {
        ++reads;
        return line.find("keep") != std::string_view::npos;
    };
    fill(model, {"keep 1", "drop 2"}, false);
    fill(model, {"keep 3"}, true);
    ASSERT_TRUE(index.step(model, test, 100));
    EXPECT_EQ(reads, 3);

    model.setStagedLineObserver([&](std::string_view line, bool onTop, std::size_t position) {
        // A line not noted leaves it, and every later one on its side, to be read.
        if (line == "gap 7") return;
        // The noted result is the one used: "liar" lines are noted as passing.
        index.noteTested(onTop, position,
                         line.find("keep") != std::string_view::npos ||
                             line.find("liar") != std::string_view::npos);
    });
    model.stageLine("keep 4", true);
    model.stageLine("liar 5", false);
    model.stageLine("drop 6", true);
    model.stageLine("gap 7", false);
    model.stageLine("keep 8", false);
    model.commitStaged();
    reads = 0;
    ASSERT_TRUE(index.step(model, test, 100));
    EXPECT_EQ(reads, 2) << "only the line not noted and the one after it are read";
    std::vector<std::string_view> found;
    for (std::size_t i = 0; i < index.count(); ++i) {
        found.push_back(model.line(index.row(model, i)));
    }
    EXPECT_EQ(found,
              (std::vector<std::string_view>{"keep 4", "keep 3", "keep 1", "liar 5", "keep 8"}));

    // A restart forgets what was noted: the next step reads every line.
    model.stageLine("liar 9", true);
    index.restart();
    model.commitStaged();
    reads = 0;
    ASSERT_TRUE(index.step(model, test, 100));
    EXPECT_EQ(reads, static_cast<int>(model.size()));
    EXPECT_EQ(index.count(), 4u);
    model.setStagedLineObserver({});
}

TEST(LineSearch, PlainTextLookedForInBytesFindsWhatTheSameSearchFindsInText) {
    // ASCII lines and lines with letters that fold to ASCII ones without case (Kelvin sign,
    // long s), an accented letter, a Cyrillic one (which Latin-1 cannot hold) and a byte that is
    // no UTF-8, which makes its field read as Latin-1.
    const std::vector<std::string> pieces = {
        "k",    "K",  "s",  "S",  "\xE2\x84\xAA", "\xC5\xBF", "\xC3\xA9", "e",
        "\xFF", "ab", "AB", "\t", "kSa",          " ",        "?",        "\xD0\xB6"};
    const std::vector<QString> patterns = {
        QStringLiteral("k"),      QStringLiteral("K"),   QStringLiteral("sa"),
        QStringLiteral("Ks"),     QStringLiteral("ab"),  QStringLiteral("BkS"),
        QStringLiteral("\t"),     QStringLiteral("e k"), QStringLiteral("aBaB"),
        QStringLiteral("\u0436"), QStringLiteral("a?")};
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    LineSearch search;
    int hits = 0;
    for (const QString& pattern : patterns) {
        for (const bool matchCase : {true, false}) {
            ASSERT_TRUE(search.setPattern(pattern, matchCase, false));
            for (int n = 0; n < 1000; ++n) {
                std::string line;
                for (int piece = length(random); piece > 0; --piece) {
                    line += pieces[pick(random)];
                }
                const QString text = lineText(line);
                const bool expected = search.matches(text);
                EXPECT_EQ(search.matches(std::string_view(line)), expected)
                    << "pattern " << pattern.toStdString() << " case " << matchCase << " line "
                    << line;
                hits += expected ? 1 : 0;
            }
        }
    }
    EXPECT_GT(hits, 2000) << "the lines must match often for the comparison to say anything";
}

TEST(LineFilter, SenderProgramAndTextRulesMustAllLetALineThrough) {
    LineMaker make;
    const std::string disk = make(42, "diskd", "disk full");
    const std::string net = make(42, "netd", "link up");
    const std::string other = make(7, "diskd", "disk ok");
    EXPECT_EQ(LineFilter::fieldOf(disk, LineFilter::Field::Sender), "42");
    EXPECT_EQ(LineFilter::fieldOf(disk, LineFilter::Field::Program), "diskd");
    EXPECT_EQ(LineFilter::fieldOf("00001\t42", LineFilter::Field::Program), "");
    // A line that ends with the field (a saved log of fewer columns) still has it.
    EXPECT_EQ(LineFilter::fieldOf("00001\t42", LineFilter::Field::Sender), "42");

    LineFilter filter;
    EXPECT_TRUE(filter.passes(disk) && filter.passes(net) && filter.passes(other));
    filter.addField(LineFilter::Field::Sender, "42", true);
    EXPECT_TRUE(filter.passes(disk));
    EXPECT_TRUE(filter.passes(net));
    EXPECT_FALSE(filter.passes(other));
    filter.addField(LineFilter::Field::Program, "diskd", true);
    EXPECT_TRUE(filter.passes(disk));
    EXPECT_FALSE(filter.passes(net));

    // A sender's key is a whole field: 4 is not 42, and a text in the entry is no sender.
    LineFilter hide;
    hide.addField(LineFilter::Field::Sender, "4", false);
    EXPECT_TRUE(hide.passes(disk));
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("DISK"), false, false));
    hide.addSearch(search, QStringLiteral("DISK"), false);
    EXPECT_FALSE(hide.passes(disk));
    EXPECT_TRUE(hide.passes(net));
    EXPECT_EQ(hide.describe(), QStringLiteral("not sender 4, not matching \"DISK\""));

    // An empty search adds no rule.
    ASSERT_TRUE(search.setPattern(QString(), false, false));
    LineFilter none;
    none.addSearch(search, QString(), true);
    EXPECT_TRUE(none.isEmpty());
}

TEST(ShownRows, FilterFollowsLinesArrivingOnBothSidesAndFindsRowsBothWays) {
    CLogListModel model;
    ShownRows shown(model);
    LineMaker make;
    for (std::uint32_t i = 0; i < 30; ++i) {
        model.insertLine(make(i % 3, i % 2 ? "odd" : "even", "x"), i % 4 == 0);
    }
    EXPECT_FALSE(shown.isFiltering());
    EXPECT_EQ(shown.size(), model.size());
    EXPECT_EQ(shown.topCount(), model.topCount());

    LineFilter filter;
    filter.addField(LineFilter::Field::Sender, "1", false);
    filter.addField(LineFilter::Field::Program, "odd", true);
    shown.setFilter(filter);
    const RowIndex::Test passes = [&](std::string_view line, bool, std::size_t) {
        return filter.passes(line);
    };
    ASSERT_TRUE(shown.isComplete());
    EXPECT_EQ(shownModelRows(shown), passingRows(model, passes));
    EXPECT_GT(shown.size(), 0u);

    // Lines keep arriving on top (Reverse Output) and at the bottom, also while staged.
    for (std::uint32_t i = 30; i < 90; ++i) {
        const bool onTop = i % 3 != 0;
        model.stageLine(make(i % 5, i % 2 ? "odd" : "even", "y"), onTop);
        if (i % 7 == 0) {
            model.commitStaged();
        }
    }
    model.commitStaged();
    EXPECT_TRUE(shown.isComplete());
    const std::vector<std::size_t> expected = passingRows(model, passes);
    EXPECT_EQ(shownModelRows(shown), expected);
    std::size_t onTop = 0;
    for (const std::size_t row : expected) {
        onTop += row < model.topCount() ? 1 : 0;
    }
    EXPECT_EQ(shown.topCount(), onTop);

    // Every model row maps to the first shown row at or below it.
    for (std::size_t row = 0; row <= model.size(); ++row) {
        std::size_t at = 0;
        while (at < expected.size() && expected[at] < row) {
            ++at;
        }
        EXPECT_EQ(shown.rowAtOrAfter(row), at) << "model row " << row;
    }
    for (std::size_t row = 0; row < shown.size(); ++row) {
        EXPECT_EQ(shown.line(row), model.line(expected[row]));
    }

    model.clear();
    EXPECT_EQ(shown.size(), 0u);
    EXPECT_TRUE(shown.isFiltering());
    model.insertLine(make(3, "odd", "z"), true);
    model.insertLine(make(1, "odd", "z"), false);
    EXPECT_EQ(shownModelRows(shown), std::vector<std::size_t>{0});

    shown.setFilter(LineFilter());
    EXPECT_FALSE(shown.isFiltering());
    EXPECT_EQ(shown.size(), 2u);
}

TEST(ShownRows, NewFilterOnABigListIsAppliedInBoundedStepsFillingTheScreenFromTheTop) {
    CLogListModel model;
    ShownRows shown(model);
    constexpr std::size_t kLines = 10 * ShownRows::kStepLines + 123;
    for (std::size_t i = 0; i < kLines; ++i) {
        model.insertLine("line " + std::to_string(i) + (i % 3 == 0 ? " hit" : " miss"),
                         i < kLines / 2);
    }
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("hit"), true, false));
    LineFilter filter;
    filter.addSearch(search, QStringLiteral("hit"), true);
    const std::vector<std::size_t> expected = passingRows(model, testOf(search));

    shown.setFilter(filter);
    std::size_t steps = 1;
    std::size_t tested = shown.tested();
    EXPECT_EQ(tested, ShownRows::kStepLines);
    while (!shown.isComplete()) {
        // What is shown so far is always the top of what will be shown.
        const std::vector<std::size_t> sofar = shownModelRows(shown);
        ASSERT_LE(sofar.size(), expected.size());
        ASSERT_TRUE(std::equal(sofar.begin(), sofar.end(), expected.begin()));
        if (steps == 4) {
            // A line arriving while the filter is applied is tested like the rest.
            model.insertLine("arrived hit", false);
            model.insertLine("arrived miss", false);
        }
        shown.step(ShownRows::kStepLines);
        ASSERT_LE(shown.tested() - tested, ShownRows::kStepLines);
        tested = shown.tested();
        ++steps;
    }
    EXPECT_EQ(steps, (kLines + 2 + ShownRows::kStepLines - 1) / ShownRows::kStepLines);
    std::vector<std::size_t> withArrived = expected;
    withArrived.push_back(model.size() - 2);
    EXPECT_EQ(shownModelRows(shown), withArrived);
    EXPECT_EQ(shown.line(shown.size() - 1), "arrived hit");
}

}  // namespace
