#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "records/LineFormatter.h"

namespace {

constexpr std::int64_t kOneTwoThree = 3723;  // 01:02:03 UTC on 1970-01-01

TraceRecord makeRecord(std::uint32_t senderKey, std::int32_t depthDelta, const char* entryName,
                       const char* entryText = "", const char* originName = "app",
                       std::int64_t timestamp = kOneTwoThree) {
    TraceRecord record;
    std::memset(&record, 0, sizeof record);
    std::strncpy(record.entryName, entryName, sizeof record.entryName - 1);
    std::strncpy(record.entryText, entryText, sizeof record.entryText - 1);
    std::strncpy(record.originName, originName, sizeof record.originName - 1);
    record.timestamp = timestamp;
    record.depthDelta = depthDelta;
    record.senderKey = senderKey;
    return record;
}

// Switches the process's time zone for one test and puts the previous one back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_previous)
            setenv("TZ", m_previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> m_previous;
};

class LineFormatterTest : public ::testing::Test {
  protected:
    // Formats, then stores the depth as the viewer does once the line is in the list.
    std::string post(const TraceRecord& record, std::uint32_t lineNumber = 1) {
        std::string line(formatter.formatLine(record, lineNumber));
        formatter.storeDepth();
        return line;
    }
    // The depth the table holds for a sender: 0 when it has no entry.
    std::int32_t stored(std::uint32_t senderKey) const {
        std::int32_t depth = 0;
        if (!table.lookup(senderKey, depth)) return 0;
        return depth;
    }

    ScopedTimeZone utc{"UTC0"};
    DepthTable table;
    LineFormatter formatter{table};
};

TEST_F(LineFormatterTest, OpeningAndClosingLinesOfOneSenderAlignAndTheTableFollows) {
    EXPECT_EQ(formatter.formatLine(makeRecord(9, +1, "Open", "a"), 1),
              "00001\t9\t01:02:03\tapp\tOpen(a)");
    EXPECT_EQ(formatter.pendingDepth(), 1);
    EXPECT_EQ(stored(9), 0) << "the depth is stored only by storeDepth()";
    formatter.storeDepth();
    EXPECT_EQ(stored(9), 1);

    EXPECT_EQ(post(makeRecord(9, 0, "Inside", "b"), 2), "00002\t9\t01:02:03\tapp\t\tInside(b)");
    EXPECT_EQ(stored(9), 1);
    EXPECT_EQ(post(makeRecord(9, -1, "Close", "c"), 3), "00003\t9\t01:02:03\tapp\tClose(c)");
    EXPECT_EQ(stored(9), 0);
    EXPECT_EQ(formatter.pendingDepth(), 0);
    EXPECT_EQ(table.size(), 0u) << "a sender back at depth 0 takes no room";
}

TEST_F(LineFormatterTest, FirstRecordOfNewSenderIsUnindentedAndEntersDepthZero) {
    formatter.storeDepth();
    EXPECT_EQ(table.size(), 0u) << "nothing to store before the first record";
    // A depth left pending by an earlier sender: the lookup must replace it.
    formatter.formatLine(makeRecord(30, +5, "Elsewhere"), 1);
    EXPECT_EQ(post(makeRecord(31, 0, "Start", "x=1")), "00001\t31\t01:02:03\tapp\tStart(x=1)");
    EXPECT_EQ(stored(31), 0);
    EXPECT_EQ(table.size(), 0u);
}

TEST_F(LineFormatterTest, InterleavedSendersKeepSeparateDepths) {
    EXPECT_EQ(post(makeRecord(1, +1, "A1")), "00001\t1\t01:02:03\tapp\tA1()");
    EXPECT_EQ(post(makeRecord(2, +1, "B1")), "00001\t2\t01:02:03\tapp\tB1()");
    EXPECT_EQ(post(makeRecord(1, +1, "A2")), "00001\t1\t01:02:03\tapp\t\tA2()");
    EXPECT_EQ(post(makeRecord(2, 0, "B2")), "00001\t2\t01:02:03\tapp\t\tB2()");
    EXPECT_EQ(post(makeRecord(1, 0, "A3")), "00001\t1\t01:02:03\tapp\t\t\tA3()");
    EXPECT_EQ(post(makeRecord(2, -1, "B3")), "00001\t2\t01:02:03\tapp\tB3()");
    EXPECT_EQ(post(makeRecord(1, -1, "A4")), "00001\t1\t01:02:03\tapp\t\tA4()");
    EXPECT_EQ(stored(1), 1);
    EXPECT_EQ(stored(2), 0);
}

TEST_F(LineFormatterTest, NegativeDepthIsUnindentedAndClimbsBackToZero) {
    // Sender key 0 is an ordinary key.
    EXPECT_EQ(post(makeRecord(0, -1, "Leave")), "00001\t0\t01:02:03\tapp\tLeave()");
    EXPECT_EQ(stored(0), -1);
    EXPECT_EQ(post(makeRecord(0, +1, "Enter")), "00001\t0\t01:02:03\tapp\tEnter()");
    EXPECT_EQ(stored(0), 0);
    EXPECT_EQ(post(makeRecord(0, +1, "Enter")), "00001\t0\t01:02:03\tapp\tEnter()");
    EXPECT_EQ(post(makeRecord(0, 0, "Body")), "00001\t0\t01:02:03\tapp\t\tBody()");
}

TEST_F(LineFormatterTest, NumbersArePaddedToFiveDigitsAndPrintedInFullBeyond) {
    const TraceRecord record = makeRecord(4294967295u, 0, "f");
    EXPECT_EQ(post(record, 0), "00000\t4294967295\t01:02:03\tapp\tf()");
    EXPECT_EQ(post(record, 42), "00042\t4294967295\t01:02:03\tapp\tf()");
    EXPECT_EQ(post(record, 99999), "99999\t4294967295\t01:02:03\tapp\tf()");
    EXPECT_EQ(post(record, 123456), "123456\t4294967295\t01:02:03\tapp\tf()");
    EXPECT_EQ(post(record, 4294967295u), "4294967295\t4294967295\t01:02:03\tapp\tf()");
    EXPECT_EQ(post(makeRecord(2147483648u, 0, "g"), 7), "00007\t2147483648\t01:02:03\tapp\tg()");
}

TEST_F(LineFormatterTest, EmptyFieldsGiveEmptyColumnsAndBareParentheses) {
    EXPECT_EQ(post(makeRecord(5, 0, "", "", "")), "00001\t5\t01:02:03\t\t()");
    EXPECT_EQ(post(makeRecord(5, 0, "Name", "", "")), "00001\t5\t01:02:03\t\tName()");
    EXPECT_EQ(post(makeRecord(6, +1, "", "t", "o")), "00001\t6\t01:02:03\to\t(t)");
    EXPECT_EQ(post(makeRecord(6, 0, "", "", "o")), "00001\t6\t01:02:03\to\t\t()");
}

TEST_F(LineFormatterTest, FieldsWithoutNulAreReadToTheirWidthAndNoFurther) {
    TraceRecord record = makeRecord(3, 0, "");
    std::memset(record.entryName, 'n', sizeof record.entryName);
    std::memset(record.entryText, 't', sizeof record.entryText);
    std::memset(record.originName, 'o', sizeof record.originName);
    std::memset(&record.nanoseconds, 'R', 8);  // nanoseconds and sequence
    std::memset(&record.marker, 'S', sizeof record.marker);
    EXPECT_EQ(post(record), "00001\t3\t01:02:03\t" + std::string(64, 'o') + "\t" +
                                std::string(128, 'n') + "(" + std::string(512, 't') + ")");

    // One byte short of the width: the NUL in the last byte ends the field.
    record.entryName[127] = '\0';
    record.entryText[511] = '\0';
    record.originName[63] = '\0';
    EXPECT_EQ(post(record), "00001\t3\t01:02:03\t" + std::string(63, 'o') + "\t" +
                                std::string(127, 'n') + "(" + std::string(511, 't') + ")");
}

TEST_F(LineFormatterTest, LineBreaksInTextFieldsShowAsBackslashLettersAndNothingElseChanges) {
    EXPECT_EQ(post(makeRecord(5, 0, "a\nb", "x\r\ny\n\rz", "o\rr")),
              "00001\t5\t01:02:03\to\\rr\ta\\nb(x\\r\\ny\\n\\rz)");
    // Backslashes, tabs, other control bytes and bytes above 127 pass through unchanged.
    EXPECT_EQ(post(makeRecord(5, 0, "\\n\t", "\x01\x0b\x0c\x7f\x80\xff", "\\")),
              "00001\t5\t01:02:03\t\\\t\\n\t(\x01\x0b\x0c\x7f\x80\xff)");
}

TEST_F(LineFormatterTest, FieldsOfNothingButLineBreaksTakeTwiceTheirWidthInTheLongestLine) {
    TraceRecord record = makeRecord(4294967295u, 2000000000, "");
    post(record);
    record.depthDelta = 0;
    std::memset(record.entryName, '\n', sizeof record.entryName);
    std::memset(record.entryText, '\r', sizeof record.entryText);
    std::memset(record.originName, '\n', sizeof record.originName);
    std::string escapedName;
    std::string escapedText;
    std::string escapedOrigin;
    for (int i = 0; i < 128; ++i) escapedName += "\\n";
    for (int i = 0; i < 512; ++i) escapedText += "\\r";
    for (int i = 0; i < 64; ++i) escapedOrigin += "\\n";
    EXPECT_EQ(post(record, 4294967295u), "4294967295\t4294967295\t01:02:03\t" + escapedOrigin +
                                             "\t" + std::string(1024, '\t') + escapedName + "(" +
                                             escapedText + ")");
}

TEST_F(LineFormatterTest, UnreadRecordBytesHaveNoEffect) {
    TraceRecord record = makeRecord(77, +1, "name", "text", "orig");
    std::memset(&record.nanoseconds, 0xAB, 8);  // nanoseconds and sequence
    std::memset(&record.marker, 0xFF, sizeof record.marker);
    EXPECT_EQ(post(record), "00001\t77\t01:02:03\torig\tname(text)");
    EXPECT_EQ(stored(77), 1);
    EXPECT_EQ(table.size(), 1u);
}

TEST_F(LineFormatterTest, EpochShowsAsLocalTimeOfDay) {
    const TraceRecord epoch = makeRecord(1, 0, "e", "", "o", 0);
    EXPECT_EQ(post(epoch), "00001\t1\t00:00:00\to\te()");
    {
        ScopedTimeZone india{"XST-5:30"};
        LineFormatter east(table);
        EXPECT_EQ(east.formatLine(epoch, 1), "00001\t1\t05:30:00\to\te()");
    }
    {
        ScopedTimeZone west{"YST+3"};
        LineFormatter westFormatter(table);
        EXPECT_EQ(westFormatter.formatLine(epoch, 1), "00001\t1\t21:00:00\to\te()");
    }
}

TEST_F(LineFormatterTest, UnconvertibleTimestampGivesEmptyTimeColumn) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(post(makeRecord(1, 0, "n", "t", "o", kMax)), "00001\t1\t\to\tn(t)");
    EXPECT_EQ(post(makeRecord(1, 0, "n", "t", "o", 0)), "00001\t1\t00:00:00\to\tn(t)");
    EXPECT_EQ(post(makeRecord(1, 0, "n", "t", "o", kMin)), "00001\t1\t\to\tn(t)");
}

TEST_F(LineFormatterTest, AlternatingTimestampsEachShowTheirOwnTime) {
    const std::int64_t stamps[] = {0, kOneTwoThree, 0, 86399, 86399, kOneTwoThree, -1, 1765000000};
    const char* const expected[] = {"00:00:00", "01:02:03", "00:00:00", "23:59:59",
                                    "23:59:59", "01:02:03", "23:59:59", "05:46:40"};
    for (std::size_t i = 0; i < std::size(stamps); ++i) {
        EXPECT_EQ(post(makeRecord(1, 0, "n", "", "o", stamps[i])),
                  std::string("00001\t1\t") + expected[i] + "\to\tn()")
            << "timestamp " << stamps[i];
    }
}

TEST_F(LineFormatterTest, HugeDepthIsKeptExactButIndentationStopsAt1024Tabs) {
    EXPECT_EQ(post(makeRecord(8, 2000000000, "deep")), "00001\t8\t01:02:03\tapp\tdeep()");
    EXPECT_EQ(stored(8), 2000000000);
    const std::string line = post(makeRecord(8, 0, "x"));
    EXPECT_EQ(line, "00001\t8\t01:02:03\tapp\t" + std::string(1024, '\t') + "x()");
    EXPECT_EQ(stored(8), 2000000000);
    EXPECT_EQ(post(makeRecord(8, -1999999997, "back")), "00001\t8\t01:02:03\tapp\t\t\t\tback()");
    EXPECT_EQ(stored(8), 3);
}

TEST_F(LineFormatterTest, DepthSaturatesAtTheLimitsOfA32BitInteger) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    post(makeRecord(4, kMax, "up"));
    post(makeRecord(4, kMax, "up"));
    EXPECT_EQ(stored(4), kMax);
    EXPECT_EQ(post(makeRecord(4, kMin, "down")), "00001\t4\t01:02:03\tapp\tdown()");
    EXPECT_EQ(stored(4), -1);

    post(makeRecord(5, kMin, "down"));
    post(makeRecord(5, -5, "down"));
    EXPECT_EQ(stored(5), kMin);
    EXPECT_EQ(post(makeRecord(5, kMax, "up")), "00001\t5\t01:02:03\tapp\tup()");
    EXPECT_EQ(stored(5), -1);
}

}  // namespace
