// Saved logs exported from real files: scopes read from the indentation, dates from the file's
// modification time across midnight in a time zone other than UTC, a line of another shape kept;
// a file saved by the viewer itself, whose indentation Save took away; and odd lines taken apart.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "tests/viewer/ExportTestSupport.h"
#include "viewer/files/LineColumns.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/files/SavedLog.h"
#include "viewer/lines/CLogListModel.h"

namespace {

using exporttest::jq;
using Format = LineExport::Format;

constexpr std::int64_t kBeforeMidnight = 1'699'973'998;  // 2023-11-14 23:59:58 in Tokyo
constexpr std::int64_t kNextEvening = 1'700'038'800;     // 2023-11-15 18:00:00 in Tokyo
constexpr const char* kForeignLine = "-- written by hand, no columns --";

// The process's time zone for the life of the object; the tests' own (UTC) again after.
class TimeZone {
  public:
    explicit TimeZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;
};

// Two senders across midnight, the second left inside a scope.
std::vector<TraceRecord> acrossMidnight() {
    const auto at = [](const char* name, const char* text, std::uint32_t sender, std::int32_t delta,
                       std::int64_t second) {
        return viewertest::makeRecord(name, text, "svc", sender, delta, kBeforeMidnight + second);
    };
    return {at("main", "", 21, 1, 0),     at("worker", "", 22, 1, 0), at("read", "f", 21, 1, 1),
            at("chunk", "n=1", 21, 0, 2), at("job", "", 22, 0, 2),    at("read", "", 21, -1, 3),
            at("worker", "", 22, -1, 4),  at("main", "", 21, -1, 5),  at("late", "", 22, 1, 5),
            at("waiting", "", 22, 0, 6)};
}

// Opens `path` as the saved log's window does and gives the model its lines.
void openInto(const std::string& path, CLogListModel& model) {
    SavedLog log = SavedLog::open(path);
    ASSERT_TRUE(log.isOpen()) << log.failure();
    model.adoptLines(std::move(log.lines()));
}

TEST(SavedLogExport, IndentedLinesExportTheirScopesDatedByTheFileAcrossMidnight) {
    const TimeZone tokyo("Asia/Tokyo");
    const std::vector<TraceRecord> records = acrossMidnight();
    const std::size_t foreignAt = 4;
    // The lines as quorvane-tail prints them, with a line of another shape among them.
    DepthTable depths;
    LineFormatter formatter(depths);
    std::string file;
    std::string expected = "[";
    std::map<std::uint32_t, double> times;
    for (std::uint32_t number = 1; number <= records.size(); ++number) {
        if (number - 1 == foreignAt) {
            file += std::string(kForeignLine) + "\n";
            expected += "[0," + std::to_string(records[number - 2].timestamp) + ",0,0],";
        }
        const TraceRecord& record = records[number - 1];
        file += std::string(formatter.formatLine(record, number)) + "\n";
        expected += "[" + std::to_string(number) + "," + std::to_string(record.timestamp) + "," +
                    std::to_string(record.depthDelta) + "," +
                    std::to_string(formatter.shownDepth()) + "],";
        if (record.depthDelta >= 0) times[number] = static_cast<double>(record.timestamp) * 1e6;
        formatter.storeDepth();
    }
    expected.back() = ']';
    exporttest::ExportFolder folder;
    const std::string path = folder.file("tail.log");
    viewertest::writeFile(path, file);
    const timespec modified[2] = {{kNextEvening, 0}, {kNextEvening, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), modified, 0), 0);
    CLogListModel model;
    openInto(path, model);
    ASSERT_EQ(model.size(), records.size() + 1);
    const LineExport::Dating dating{LineExport::Dating::From::LastLine, kNextEvening};

    const std::string lines =
        exporttest::exportAll(model, nullptr, dating, Format::JsonLines, folder.file("o.jsonl"));
    EXPECT_EQ(jq("[.[] | [.line, .timestamp, .delta, .depth]]", lines, true), expected);
    EXPECT_EQ(jq(".[" + std::to_string(foreignAt) + "] | [.sender, .name, .text]", lines, true),
              std::string("[0,\"\",\"") + kForeignLine + "\"]");
    EXPECT_EQ(
        jq("[.[] | select(has(\"nanoseconds\") or has(\"duration_ns\"))] | length", lines, true),
        "0")
        << "a saved log has no precise time";

    const std::string document =
        exporttest::exportAll(model, nullptr, dating, Format::TraceEvent, folder.file("o.json"));
    EXPECT_EQ(jq(exporttest::kNestedPerThread, document), "true");
    EXPECT_EQ(exporttest::pairsNear("[.traceEvents[] | select((.ph == \"B\" or .ph == \"i\") and "
                                    ".args.line != 0) | [.args.line, .ts]]",
                                    document, times, 1.0),
              "\"near\"");
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"B\") | .args.line]", document), "[1,2,3,9]");
    EXPECT_EQ(jq("[.traceEvents[] | select(.args.unfinished) | [.tid, .name]]", document),
              "[[22,\"late\"]]");
}

TEST(SavedLogExport, AFileSavedByTheViewerHasNoIndentationLeftAndExportsEveryLineAsItIs) {
    const std::vector<TraceRecord> records = acrossMidnight();
    DepthTable depths;
    LineFormatter formatter(depths);
    CLogListModel live;
    for (std::uint32_t number = 1; number <= records.size(); ++number) {
        live.insertLine(formatter.formatLine(records[number - 1], number), true);
        formatter.storeDepth();
    }
    exporttest::ExportFolder folder;
    const std::string path = folder.file("saved.txt");
    LogFileWriter writer;
    ASSERT_TRUE(writer.write(QString::fromStdString(path), live, live.size(), true));
    CLogListModel model;
    openInto(path, model);
    const std::string document = exporttest::exportAll(
        model, nullptr, {LineExport::Dating::From::LastLine, kBeforeMidnight + 60},
        Format::TraceEvent, folder.file("o.json"));
    EXPECT_EQ(jq("[.traceEvents[] | .ph] | group_by(.) | map([.[0], length])", document),
              "[[\"M\",1],[\"i\"," + std::to_string(records.size()) + "]]");
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"i\") | .args.line]", document),
              "[1,2,3,4,5,6,7,8,9,10]");
}

// A log edited by hand, or written by a program with bigger depth steps: "outer()" back at the
// outer depth closes "outer", and "mid", whose leave is missing, ends there unfinished.
TEST(SavedLogExport, ALeaveBackAtItsEntrysDepthClosesTheScopesInsideItThatLostTheirLeaves) {
    exporttest::ExportFolder folder;
    const std::string path = folder.file("edited.log");
    viewertest::writeFile(path,
                          "1\t5\t10:00:00\tx\touter(a)\n2\t5\t10:00:00\tx\t\tmid(b)\n"
                          "3\t5\t10:00:01\tx\t\t\tdeep(c)\n4\t5\t10:00:02\tx\touter()\n"
                          "5\t5\t10:00:03\tx\tlast()\n");
    CLogListModel model;
    openInto(path, model);
    const std::string document =
        exporttest::exportAll(model, nullptr, {LineExport::Dating::From::LastLine, kBeforeMidnight},
                              Format::TraceEvent, folder.file("o.json"));
    EXPECT_EQ(jq(exporttest::kNestedPerThread, document), "true");
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"B\" or .ph == \"E\") | [.ph, .name, "
                 ".args.unfinished]]",
                 document),
              "[[\"B\",\"outer\",null],[\"B\",\"mid\",null],[\"E\",\"mid\",true],"
              "[\"E\",\"outer\",null]]");
}

// The date of the last line is the latest that does not put it after its file was written.
TEST(LineDates, LinesAreDatedBackFromTheirFileAndAcrossMidnightBothWays) {
    const TimeZone tokyo("Asia/Tokyo");
    const std::int32_t lateEvening = 23 * 3600 + 59 * 60 + 50;
    const std::int64_t halfPastMidnight = kBeforeMidnight + std::int64_t{32} * 60 + 2;
    LineDates sameNight = LineDates::endingNear(halfPastMidnight, 0, lateEvening);
    EXPECT_EQ(sameNight.next(lateEvening), kBeforeMidnight - 8);
    LineDates nextEvening = LineDates::endingNear(kNextEvening, 1, 3);
    EXPECT_EQ(nextEvening.next(lateEvening), kBeforeMidnight - 8);
    // Senders slightly out of step around midnight: the day goes on and back again.
    EXPECT_EQ(nextEvening.next(3), kBeforeMidnight + 5);
    EXPECT_EQ(nextEvening.next(lateEvening + 9), kBeforeMidnight + 1);
    EXPECT_EQ(nextEvening.next(-1), kBeforeMidnight + 1) << "no time: the previous line's";
    EXPECT_EQ(nextEvening.next(4), kBeforeMidnight + 6);
}

TEST(LineColumns, OddLinesAreTakenApartWithoutGuessing) {
    const LineColumns call = splitLine("4294967295\t7\t12:34:56\tapp\t\t\toperator()(x=(1))");
    EXPECT_EQ(call.number, 4294967295u);
    EXPECT_EQ(call.secondOfDay, 12 * 3600 + 34 * 60 + 56);
    EXPECT_EQ(call.depth, 2);
    EXPECT_EQ(std::string(call.name) + "|" + std::string(call.text), "operator()|x=(1)");
    const LineColumns leave = splitLine("00013\t7\t24:00:00\tapp\toperator()()");
    EXPECT_EQ(std::string(leave.name) + "|" + std::string(leave.text), "operator()|");
    EXPECT_EQ(leave.secondOfDay, -1) << "no such time of day";
    for (const char* odd : {"plain text", "00001\t7\t12:00:00\tapp", "4294967296\t1\t\t\tf()",
                            "1\tseven\t12:00:00\tapp\tf()", "00000000001\t7\t12:00:00\tapp\tf()",
                            "1\t\t12:00:00\tapp\tf()"})
        EXPECT_FALSE(splitLine(odd).hasColumns) << odd;
}

}  // namespace
