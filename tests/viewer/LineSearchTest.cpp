#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/find/LineSearch.h"
#include "viewer/lines/CLogListModel.h"

namespace {

using Spans = std::vector<std::pair<qsizetype, qsizetype>>;

CLogListModel& fill(CLogListModel& model, const std::vector<std::string>& lines, bool onTop) {
    for (const std::string& line : lines) {
        model.insertLine(line, onTop);
    }
    return model;
}

TEST(LineSearch, RegularExpressionsMatchWithOrWithoutCaseAndAnInvalidOneMatchesNothing) {
    CLogListModel model;
    fill(model, {"00001 GET /a", "00002 PUT /b", "00003 get /c"}, false);
    LineSearch search;
    ASSERT_TRUE(search.setPattern(QStringLiteral("^\\d+ (GET|PUT) /[ab]$"), true, true));
    EXPECT_TRUE(search.matches(std::string_view("00001 GET /a")));
    EXPECT_FALSE(search.matches(std::string_view("00003 get /a")));
    EXPECT_TRUE(search.matches(model.line(1)));
    ASSERT_TRUE(search.setPattern(QStringLiteral("g.t"), false, true));
    EXPECT_EQ(search.spans(QStringLiteral("GET, get and gut")), (Spans{{0, 3}, {5, 3}, {13, 3}}));

    EXPECT_FALSE(search.setPattern(QStringLiteral("(GET"), true, true));
    EXPECT_FALSE(search.isActive());
    EXPECT_FALSE(search.error().isEmpty());
    EXPECT_FALSE(search.matches(model.line(0)));
    EXPECT_TRUE(search.spans(QStringLiteral("(GET")).empty());
    // Without the option the same text is looked for literally.
    ASSERT_TRUE(search.setPattern(QStringLiteral("(GET"), true, false));
    EXPECT_TRUE(search.error().isEmpty());
    EXPECT_EQ(search.spans(QStringLiteral("x(GET (GET")), (Spans{{1, 4}, {6, 4}}));
    ASSERT_TRUE(search.setPattern(QString(), false, false));
    EXPECT_FALSE(search.isActive());
}

}  // namespace
