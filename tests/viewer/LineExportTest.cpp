// The live window's lines exported as they came from a real mailbox through the real drain,
// newest on top and at the bottom, to both formats, read back by jq: every record, its scopes
// nested per thread, the durations LineTimes measured, the scopes left open closed and marked.
// Then exports in steps while lines arrive, and exports that fail.
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "tests/viewer/ExportTestSupport.h"
#include "transport/CMclMailbox.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/live/RecordDrain.h"
#include "viewer/lines/LineTimes.h"

namespace {

using exporttest::jq;
using exporttest::pairsNear;
using Format = LineExport::Format;

constexpr int kAmpleSliceMs = 60000;
constexpr std::int64_t kBase = 1'700'000'000;

TraceRecord timed(std::uint32_t sender, std::uint32_t sequence, std::int32_t delta,
                  const char* name, const char* text, std::int64_t second,
                  std::uint32_t nanoseconds) {
    TraceRecord record = viewertest::makeRecord(name, text, "app", sender, delta, second);
    record.nanoseconds = nanoseconds;
    record.sequence = sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    return record;
}

// Two senders with nested scopes: one closed right after it opened, one whose leave was lost,
// and two left open; a third sender of another library (no precise time) with a scope of its own.
std::vector<TraceRecord> scenario() {
    return {
        timed(7, 1, 1, "load", "path=a b", kBase, 100'000'123),
        timed(8, 1, 1, "render", "", kBase, 150'000'000),
        timed(7, 2, 1, "parse", "", kBase, 200'456'789),
        timed(7, 3, 0, "token", "x=(1)", kBase, 250'000'000),
        viewertest::makeRecord("legacy", "\"quoted\"", "old", 9, 1, kBase + 1),
        timed(8, 2, 1, "draw", "", kBase, 300'000'000),
        timed(8, 3, -1, "draw", "", kBase, 300'012'400),
        viewertest::makeRecord("inside", "", "old", 9, 0, kBase + 1),
        timed(7, 4, -1, "parse", "", kBase + 1, 300'000'001),
        timed(8, 4, 0, "frame", "", kBase + 1, 400'000'000),
        viewertest::makeRecord("legacy", "", "old", 9, -1, kBase + 2),
        timed(7, 5, 1, "scan", "", kBase + 1, 500'000'000),
        timed(7, 7, -1, "load", "", kBase + 2, 0),  // 6, the leave of "scan", was lost
        timed(8, 7, 1, "flush", "", kBase + 2, 100'000'000),  // 5 and 6 were lost
        timed(7, 8, 0, "idle", "", kBase + 2, 900'000'000),
    };
}

// `text` as a JSON string; the texts here need only quotes and backslashes escaped.
std::string jsonText(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') json += '\\';
        json += c;
    }
    return json + "\"";
}

class LiveExportTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        for (const TraceRecord& record : records) ASSERT_TRUE(mailbox.post(&record, 0));
        drain.drainSlice(mailbox, model, GetParam(), kAmpleSliceMs);
        ASSERT_EQ(model.size(), records.size());
    }

    std::string exported(Format format) {
        return exporttest::exportAll(model, &drain.lineTimes(),
                                     {LineExport::Dating::From::FirstLine,
                                      drain.lineTimes().firstTimestamp()},
                                     format, folder.file("live"));
    }

    // [line, sender, name, text, delta, depth] of every record, each sender indented as the
    // formatter does it.
    std::string expectedColumns() const {
        std::map<std::uint32_t, int> depths;
        std::string json = "[";
        for (std::size_t i = 0; i < records.size(); ++i) {
            const TraceRecord& record = records[i];
            int& depth = depths[record.senderKey];
            if (record.depthDelta < 0) depth += record.depthDelta;
            json += (i ? ",[" : "[") + std::to_string(i + 1) + "," +
                    std::to_string(record.senderKey) + "," + jsonText(record.entryName) + "," +
                    jsonText(record.entryText) + "," + std::to_string(record.depthDelta) + "," +
                    std::to_string(depth) + "]";
            if (record.depthDelta > 0) depth += record.depthDelta;
        }
        return json + "]";
    }

    // The time of each record in microseconds, by line.
    std::map<std::uint32_t, double> recordTimes() const {
        std::map<std::uint32_t, double> times;
        for (std::size_t i = 0; i < records.size(); ++i)
            times[static_cast<std::uint32_t>(i + 1)] =
                static_cast<double>(records[i].timestamp) * 1e6 +
                (quorvane::carriesPreciseTime(records[i]) ? records[i].nanoseconds / 1e3 : 0.0);
        return times;
    }

    // The duration of every closed scope in microseconds, by entry line: LineTimes' for records
    // with precise time, whole seconds for the others.
    std::map<std::uint32_t, double> scopeDurations(bool onLeaves) const {
        std::map<std::uint32_t, double> durations;
        std::map<std::uint32_t, std::vector<std::uint32_t>> open;
        for (std::uint32_t line = 1; line <= records.size(); ++line) {
            const TraceRecord& record = records[line - 1];
            std::vector<std::uint32_t>& scopes = open[record.senderKey];
            if (record.depthDelta > 0) scopes.push_back(line);
            if (record.depthDelta >= 0) continue;
            // The innermost entry of the same name; those inside it lost their leaves.
            std::size_t at = scopes.size();
            while (at > 0 && std::string_view(records[scopes[at - 1] - 1].entryName) !=
                                 record.entryName)
                --at;
            if (at == 0) continue;
            const std::uint32_t entry = scopes[at - 1];
            scopes.resize(at - 1);
            const LineTimes::Note* note = drain.lineTimes().note(line);
            const double duration =
                note != nullptr
                    ? static_cast<double>(note->duration) / 1e3
                    : static_cast<double>(record.timestamp - records[entry - 1].timestamp) * 1e6;
            durations[onLeaves ? line : entry] = duration;
        }
        return durations;
    }

    std::vector<TraceRecord> records = scenario();
    CMclMailbox mailbox{64, kTraceRecordSize, quorvane::test::uniqueName("export").c_str()};
    CLogListModel model;
    RecordDrain drain;
    exporttest::ExportFolder folder;
};

TEST_P(LiveExportTest, JsonLinesHoldEveryRecordOldestFirstWithItsPreciseTimeDepthAndDuration) {
    const std::string lines = exported(Format::JsonLines);
    EXPECT_EQ(jq("[.[] | [.line, .sender, .name, .text, .delta, .depth]]", lines, true),
              expectedColumns());
    // Times of day and dates make the records' own times again, to the nanosecond.
    std::string times = "[";
    for (std::size_t i = 0; i < records.size(); ++i)
        times += (i ? ",[" : "[") + std::to_string(records[i].timestamp) + "," +
                 (quorvane::carriesPreciseTime(records[i])
                      ? std::to_string(records[i].nanoseconds)
                      : std::string("null")) +
                 "]";
    EXPECT_EQ(jq("[.[] | [.timestamp, .nanoseconds]]", lines, true), times + "]");
    EXPECT_EQ(jq("[.[] | select(.lost_before) | [.line, .lost_before]]", lines, true), "[[13,1],[14,2]]");
    EXPECT_EQ(jq("[.[] | select(has(\"sequence\"))] | length", lines, true), "0")
        << "lines keep no sequence numbers";
    // Both ends of every scope LineTimes timed carry its duration, the leave its entry's line.
    std::map<std::uint32_t, double> durations = scopeDurations(false);
    std::map<std::uint32_t, double> leaves = scopeDurations(true);
    durations.erase(5);  // the other library's scope has no precise time: no duration
    leaves.erase(11);
    durations.insert(leaves.begin(), leaves.end());
    EXPECT_EQ(pairsNear("[.[] | select(.duration_ns) | [.line, .duration_ns / 1000]]", lines,
                        durations, 1e-3, true),
              "\"near\"");
    EXPECT_EQ(jq("[.[] | select(.entry_line) | [.line, .entry_line]]", lines, true),
              "[[7,6],[9,3],[13,1]]");
}

TEST_P(LiveExportTest, TraceEventsNestPerThreadWithLineTimesDurationsAndOpenScopesClosedAtTheEnd) {
    const std::string document = exported(Format::TraceEvent);
    EXPECT_EQ(jq(exporttest::kNestedPerThread, document), "true");
    // Every record once: entries as B, the others as instants; leaves as the E of their entry.
    std::string allLines = "[";
    for (std::size_t line = 1; line <= records.size(); ++line)
        if (records[line - 1].depthDelta >= 0)
            allLines += (allLines.size() > 1 ? "," : "") + std::to_string(line);
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"B\" or .ph == \"i\") | .args.line] | sort",
                 document),
              allLines + "]");
    EXPECT_EQ(pairsNear("[.traceEvents[] | select(.ph == \"B\" or .ph == \"i\") | [.args.line, "
                        ".ts]]",
                        document, [&] {
                            std::map<std::uint32_t, double> entries = recordTimes();
                            for (std::size_t i = 0; i < records.size(); ++i)
                                if (records[i].depthDelta < 0) entries.erase(i + 1);
                            return entries;
                        }(),
                        1.0),
              "\"near\"");
    EXPECT_EQ(pairsNear(exporttest::kScopeDurations, document, scopeDurations(false), 1.0),
              "\"near\"");
    // Sender 7's "scan" lost its leave: closed unfinished by the leave of the scope around it.
    // Sender 8's "render" and "flush" never closed: closed at the last record's time, marked.
    EXPECT_EQ(jq("([.traceEvents[] | select(.ph != \"M\") | .ts] | max) as $last | "
                 "[.traceEvents[] | select(.args.unfinished) | [.tid, .name, .ts == $last]]",
                 document),
              "[[7,\"scan\",false],[8,\"flush\",true],[8,\"render\",true]]");
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"M\") | .args.name]", document),
              "[\"app\",\"old\"]");
}

INSTANTIATE_TEST_SUITE_P(BothOrders, LiveExportTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "NewestOnTop" : "NewestAtBottom");
                         });

// A model newest on top, lines formatted as the drain does them.
void fillOnTop(CLogListModel& model, std::uint32_t from, std::uint32_t count) {
    for (std::uint32_t line = from; line < from + count; ++line) {
        const std::string text = std::to_string(line) + "\t" + std::to_string(line % 3) +
                                 "\t10:00:00\tapp\t" + (line % 2 ? "\t" : "") + "step(" +
                                 std::string(line % 50, 'x') + ")";
        model.insertLine(text, true);
    }
}

TEST(LineExportSteps, AnExportInStepsWritesTheLinesItBeganWithWhileNewLinesArriveOnTop) {
    exporttest::ExportFolder folder;
    for (const Format format : {Format::JsonLines, Format::TraceEvent}) {
        CLogListModel model;
        fillOnTop(model, 1, 200);
        const LineExport::Dating dating{LineExport::Dating::From::FirstLine, kBase};
        const std::string whole =
            exporttest::exportAll(model, nullptr, dating, format, folder.file("whole"));
        LineExport steps(model, nullptr, dating, format, QString::fromStdString(folder.file("s")));
        std::uint32_t next = 201;
        while (steps.step(7)) {
            fillOnTop(model, next, 3);
            next += 3;
        }
        ASSERT_TRUE(steps.result());
        ASSERT_GT(model.size(), 300u) << "lines arrived all along";
        EXPECT_EQ(viewertest::readFile(folder.file("s")), whole);
    }
}

TEST(LineExportFailures, AnExportFailingPartWayLeavesTheOldFileAsItWas) {
    exporttest::ExportFolder folder;
    CLogListModel model;
    fillOnTop(model, 1, 20'000);
    const LineExport::Dating dating{LineExport::Dating::From::FirstLine, kBase};

    // The file system refuses the second megabyte: the old file stays, no replacement is left.
    const std::string path = folder.file("old.json");
    viewertest::writeFile(path, "old contents");
    quorvane::test::ChildProcess child([&](quorvane::test::ChildProcess&) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{LineExport::kChunkBytes + 1, LineExport::kChunkBytes + 1};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        LineExport exporter(model, nullptr, dating, Format::TraceEvent,
                            QString::fromStdString(path));
        return exporter.run().error;
    });
    EXPECT_EQ(child.wait(), EFBIG);
    EXPECT_EQ(viewertest::readFile(path), "old contents");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"old.json"});
}

}  // namespace
