// Export benchmark: 1,000,000 lines of the realistic mix in the log list model (newest on top),
// with the live window's LineTimes (precise times, scope durations), exported by the viewer's
// LineExport to Trace Event JSON, against LogFileWriter saving the same lines as the plain saved
// file, interleaved run by run. Lines per second; the export's longest step of kStepLines lines
// is what the window would wait between turns of its event loop.
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/CopyTimer.h"
#include "bench/RecordMix.h"
#include "bench/TempDirectory.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/files/LineExport.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/LineTimes.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 5;
constexpr double kTargetRatio = 0.5;
constexpr std::uint32_t kNanosecondsPerRecord = 1'000'000'000 / kRecordsPerClockTick;
constexpr double kMillisecondsPerSecond = 1000.0;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Fills the model as the live window does (newest on top), every record stamped with precise time
// and a sequence number per sender as the client library stamps them, and followed by `times`.
void fillModel(CLogListModel& model, LineTimes& times, std::uint32_t lines) {
    std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    std::unordered_map<std::uint32_t, std::uint32_t> sequences;
    DepthTable depths;
    LineFormatter formatter(depths);
    for (std::uint32_t line = 1; line <= lines; ++line) {
        TraceRecord& record = mix[(line - 1) % mix.size()];
        record.marker = quorvane::kPreciseTimeMarker;
        record.nanoseconds = (line - 1) % kRecordsPerClockTick * kNanosecondsPerRecord;
        record.sequence = ++sequences[record.senderKey];
        model.insertLine(formatter.formatLine(record, line), true);
        formatter.storeDepth();
        times.follow(record, line);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_EXPORT_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);

    BenchReport report(argc, argv);
    TempDirectory directory;
    if (!directory.valid()) return 1;
    const QString exportPath = QString::fromStdString(directory.file("export.json"));
    const QString savedPath = QString::fromStdString(directory.file("saved.txt"));

    CLogListModel model;
    LineTimes times;
    fillModel(model, times, lines);
    const LineExport::Dating dating{LineExport::Dating::From::FirstLine, times.firstTimestamp()};
    LogFileWriter writer;
    Samples exports;
    Samples longestSteps;
    Samples saves;
    std::vector<std::string> failures;
    long long exportSize = 0;
    for (int round = 0; round < rounds; ++round) {
        std::remove(exportPath.toLocal8Bit().constData());
        sync();
        double longest = 0.0;
        const Clock::time_point start = Clock::now();
        LineExport exporter(model, &times, dating, LineExport::Format::TraceEvent, exportPath);
        for (bool more = true; more;) {
            const Clock::time_point stepStart = Clock::now();
            more = exporter.step(LineExport::kStepLines);
            longest = std::max(longest, secondsSince(stepStart));
        }
        const double exportSeconds = secondsSince(start);
        exportSize = fileSize(exportPath.toStdString());
        if (!exporter.result() || exportSize <= 0) {
            failures.push_back("round " + std::to_string(round + 1) + ": the export failed: " +
                               exporter.result().reason().toStdString());
        } else {
            exports.add(lines / exportSeconds);
            longestSteps.add(longest * kMillisecondsPerSecond);
        }

        std::remove(savedPath.toLocal8Bit().constData());
        sync();
        const Clock::time_point saveStart = Clock::now();
        const SaveResult saved = writer.write(savedPath, model, lines, true);
        const double saveSeconds = secondsSince(saveStart);
        if (!saved) {
            failures.push_back("round " + std::to_string(round + 1) + ": the save failed");
            continue;
        }
        saves.add(lines / saveSeconds);
    }

    report.section("export: " + std::to_string(lines) + " lines with precise times to Trace " +
                   "Event JSON (" + unitText(static_cast<double>(exportSize), Unit::Bytes) +
                   ") vs LogFileWriter's plain saved file; " + std::to_string(rounds) +
                   " interleaved rounds, lines/s");
    report.comparison("LineExport, Trace Event JSON", exports, "LogFileWriter::write", saves,
                      Unit::PerSecond);
    report.single("LineExport: longest step of " + std::to_string(LineExport::kStepLines) +
                      " lines",
                  longestSteps, Unit::Milliseconds);
    for (const std::string& failure : failures) report.note("void run, " + failure);
    report.result(resultLine("export_trace_event_vs_save_lines_per_s", exports.median(),
                             saves.median(), kTargetRatio, Better::Higher));
    report.finish();
    return 0;
}
