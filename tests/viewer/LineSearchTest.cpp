#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/CLogListModel.h"
#include "viewer/LineSearch.h"
#include "viewer/MatchCounter.h"

namespace {

using Spans = std::vector<std::pair<qsizetype, qsizetype>>;

CLogListModel& fill(CLogListModel& model, const std::vector<std::string>& lines, bool onTop) {
    for (const std::string& line : lines) {
        model.insertLine(line, onTop);
    }
    return model;
}

TEST(LineSearch, NextAndPreviousGoInScreenOrderAndWrapAtTheEnds) {
    CLogListModel model;
    fill(model, {"00001 alpha", "00002 beta", "00003 Alpha", "00004 gamma"}, false);
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("alpha"), false, false));
    EXPECT_EQ(search.find(model, -1, true).row, 0);
    EXPECT_FALSE(search.find(model, -1, true).wrapped);
    EXPECT_EQ(search.find(model, 0, true).row, 2);
    EXPECT_FALSE(search.find(model, 0, true).wrapped);
    EXPECT_EQ(search.find(model, 2, true).row, 0);
    EXPECT_TRUE(search.find(model, 2, true).wrapped);
    EXPECT_EQ(search.find(model, 0, false).row, 2);
    EXPECT_TRUE(search.find(model, 0, false).wrapped);
    EXPECT_EQ(search.find(model, -1, false).row, 2);
    EXPECT_EQ(search.find(model, 3, false).row, 2);

    // With case, the one match is found again from itself, after wrapping.
    ASSERT_TRUE(search.setPattern(QStringLiteral("Alpha"), true, false));
    EXPECT_EQ(search.find(model, 2, true).row, 2);
    EXPECT_TRUE(search.find(model, 2, true).wrapped);
    ASSERT_TRUE(search.setPattern(QStringLiteral("delta"), false, false));
    EXPECT_EQ(search.find(model, 1, true).row, -1);

    // Lines put on top are searched as they are shown: newest first.
    CLogListModel top;
    fill(top, {"00001 x", "00002 x", "00003 y"}, true);
    ASSERT_TRUE(search.setPattern(QStringLiteral("x"), false, false));
    EXPECT_EQ(top.line(static_cast<std::size_t>(search.find(top, -1, true).row)), "00002 x");
}

TEST(LineSearch, RegularExpressionsMatchWithOrWithoutCaseAndAnInvalidOneMatchesNothing) {
    CLogListModel model;
    fill(model, {"00001 GET /a", "00002 PUT /b", "00003 get /c"}, false);
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("^\\d+ (GET|PUT) /[ab]$"), true, true));
    EXPECT_TRUE(search.matches(std::string_view("00001 GET /a")));
    EXPECT_FALSE(search.matches(std::string_view("00003 get /a")));
    EXPECT_EQ(search.find(model, 0, true).row, 1);
    ASSERT_TRUE(search.setPattern(QStringLiteral("g.t"), false, true));
    EXPECT_EQ(search.spans(QStringLiteral("GET, get and gut")), (Spans{{0, 3}, {5, 3}, {13, 3}}));

    EXPECT_FALSE(search.setPattern(QStringLiteral("(GET"), true, true));
    EXPECT_FALSE(search.isActive());
    EXPECT_FALSE(search.error().isEmpty());
    EXPECT_EQ(search.find(model, -1, true).row, -1);
    EXPECT_TRUE(search.spans(QStringLiteral("(GET")).empty());
    // Without the option the same text is looked for literally.
    ASSERT_TRUE(search.setPattern(QStringLiteral("(GET"), true, false));
    EXPECT_TRUE(search.error().isEmpty());
    EXPECT_EQ(search.spans(QStringLiteral("x(GET (GET")), (Spans{{1, 4}, {6, 4}}));
    ASSERT_TRUE(search.setPattern(QString(), false, false));
    EXPECT_FALSE(search.isActive());
}

TEST(MatchCounter, CountsABoundedNumberOfLinesPerStepAndLaterLinesOnEitherSide) {
    CLogListModel model;
    fill(model, {"a 1", "b 2", "a 3", "a 4", "c 5"}, false);
    fill(model, {"a 6", "d 7"}, true);
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("a "), true, false));
    MatchCounter counter;
    EXPECT_FALSE(counter.step(model, search, 3));
    EXPECT_EQ(counter.counted(), 3u);
    EXPECT_FALSE(counter.step(model, search, 3));
    EXPECT_TRUE(counter.step(model, search, 3));
    EXPECT_EQ(counter.counted(), 7u);
    EXPECT_EQ(counter.matches(), 4u);

    fill(model, {"a 8"}, true);
    fill(model, {"a 9", "e 10"}, false);
    EXPECT_FALSE(counter.isDone(model));
    EXPECT_TRUE(counter.step(model, search, 100));
    EXPECT_EQ(counter.matches(), 6u);
    EXPECT_EQ(counter.counted(), model.size());

    ASSERT_TRUE(search.setPattern(QStringLiteral("[bcde] "), true, true));
    counter.restart();
    EXPECT_TRUE(counter.step(model, search, 100));
    EXPECT_EQ(counter.matches(), 4u);
}

}  // namespace
