// Saving benchmark: the viewer's LogFileWriter writing 1,000,000 lines of the realistic mix from
// the log list model, against /bin/cp copying a file of the same size, interleaved run by run.
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/CopyTimer.h"
#include "bench/RecordMix.h"
#include "bench/TempDirectory.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/CLogListModel.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 5;
constexpr double kTargetRatio = 0.5;
constexpr double kBytesPerMegabyte = 1e6;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Fills the model as the viewer does by default (newest line on top) and returns the number of
// bytes the saved file must have.
std::uint64_t fillModel(CLogListModel& model, std::uint32_t lines) {
    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    DepthTable depths;
    LineFormatter formatter(depths);
    std::string saved;
    std::uint64_t savedBytes = 0;
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const std::string_view text = formatter.formatLine(mix[(line - 1) % mix.size()], line);
        model.insertLine(text, true);
        formatter.storeDepth();
        saved.clear();
        LogFileWriter::appendSavedLine(saved, text);
        savedBytes += saved.size();
    }
    return savedBytes;
}

// One timed copy of the saved file, starting with nothing left to write back.
void copyRun(const std::string& copyPath, const std::string& savedPath, long long savedSize,
             Samples& rates, std::vector<std::string>& failures, int round) {
    std::remove(copyPath.c_str());
    sync();
    const double seconds = timeCopy(savedPath, copyPath);
    if (seconds <= 0.0 || fileSize(copyPath) != savedSize) {
        failures.push_back("round " + std::to_string(round + 1) + ": cp failed");
        return;
    }
    rates.add(savedSize / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_SAVE_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);

    BenchReport report(argc, argv);
    TempDirectory directory;
    if (!directory.valid()) return 1;
    const std::string savedPath = directory.file("saved.txt");
    const std::string copyPath = directory.file("copy.txt");

    CLogListModel model;
    const std::uint64_t expectedBytes = fillModel(model, lines);
    LogFileWriter writer;
    Samples ours;
    Samples copies;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        std::remove(savedPath.c_str());
        sync();
        const Clock::time_point start = Clock::now();
        const bool written =
            static_cast<bool>(writer.write(QString::fromStdString(savedPath), model, lines, true));
        const double saveSeconds = secondsSince(start);
        const long long savedSize = fileSize(savedPath);
        if (!written || savedSize != static_cast<long long>(expectedBytes)) {
            failures.push_back("round " + std::to_string(round + 1) + ": the save wrote " +
                               std::to_string(savedSize) + " bytes, expected " +
                               std::to_string(expectedBytes));
            continue;
        }
        ours.add(savedSize / saveSeconds);

        copyRun(copyPath, savedPath, savedSize, copies, failures, round);
    }

    report.section("saving: " + std::to_string(lines) + " lines (" +
                   unitText(static_cast<double>(expectedBytes), Unit::Bytes) +
                   " file) through LogFileWriter vs cp of the saved file; " +
                   std::to_string(rounds) + " interleaved rounds, MB/s");
    report.comparison("LogFileWriter::write", ours, "/bin/cp of the saved file", copies,
                      Unit::BytesPerSecond);
    for (const std::string& failure : failures) report.note("void run, " + failure);
    report.result(resultLine("save_vs_cp_mb_per_s", ours.median() / kBytesPerMegabyte,
                             copies.median() / kBytesPerMegabyte, kTargetRatio, Better::Higher));
    report.finish();
    return 0;
}
