// Formatting benchmark: LineFormatter against the straightforward BaselineFormatter over the same
// realistic mix of records, interleaved run by run.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BaselineFormatter.h"
#include "bench/BenchReport.h"
#include "bench/RecordMix.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "viewer/lines/LineTimes.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 2'000'000;
constexpr int kDefaultRounds = 5;
constexpr double kTargetLinesPerSecond = 5'000'000;
constexpr double kTargetRatio = 5.0;
constexpr double kTargetTimesRatio = 0.9;

volatile std::uint64_t g_sink;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Each run formats `lines` lines from a fresh formatter, cycling through the mix, and stores
// every depth after the line, as the viewer does. The line bytes are summed so that no line can
// be skipped.
double oursLinesPerSecond(const std::vector<TraceRecord>& mix, std::uint32_t lines) {
    DepthTable depths;
    LineFormatter formatter(depths);
    std::uint64_t bytes = 0;
    const Clock::time_point start = Clock::now();
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const std::string_view text = formatter.formatLine(mix[(line - 1) % mix.size()], line);
        bytes += text.size() + static_cast<unsigned char>(text.back());
        formatter.storeDepth();
    }
    const double seconds = secondsSince(start);
    g_sink = bytes;
    return lines / seconds;
}

// The drain's work per record with what the records say of time kept beside the lines: the line,
// then LineTimes following the record (precise time, scope pairing, durations, losses).
double withTimesLinesPerSecond(const std::vector<TraceRecord>& mix, std::uint32_t lines) {
    DepthTable depths;
    LineFormatter formatter(depths);
    LineTimes times;
    std::uint64_t bytes = 0;
    const Clock::time_point start = Clock::now();
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const TraceRecord& record = mix[(line - 1) % mix.size()];
        const std::string_view text = formatter.formatLine(record, line);
        bytes += text.size() + static_cast<unsigned char>(text.back());
        times.follow(record, line);
        formatter.storeDepth();
    }
    const double seconds = secondsSince(start);
    g_sink = bytes + times.nanoseconds(lines);
    return lines / seconds;
}

double baselineLinesPerSecond(const std::vector<TraceRecord>& mix, std::uint32_t lines) {
    BaselineFormatter formatter;
    std::uint64_t bytes = 0;
    const Clock::time_point start = Clock::now();
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const std::string text = formatter.formatLine(mix[(line - 1) % mix.size()], line);
        bytes += text.size() + static_cast<unsigned char>(text.back());
        formatter.storeDepth();
    }
    const double seconds = secondsSince(start);
    g_sink = bytes;
    return lines / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);
    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);

    const std::vector<TraceRecord> precise = stampPreciseTime(mix);

    Samples ours;
    Samples baseline;
    Samples withTimes;
    Samples linesOnly;
    for (int round = 0; round < rounds; ++round) {
        ours.add(oursLinesPerSecond(mix, lines));
        baseline.add(baselineLinesPerSecond(mix, lines));
        withTimes.add(withTimesLinesPerSecond(precise, lines));
        linesOnly.add(oursLinesPerSecond(precise, lines));
    }

    BenchReport report(argc, argv);
    report.section("line formatting: " + std::to_string(lines) + " lines over a mix of " +
                   std::to_string(kMixSenders) + " senders, nesting, texts of " +
                   std::to_string(kMinTextLength) + "-" + std::to_string(kMaxTextLength) +
                   " bytes; " + std::to_string(rounds) + " interleaved rounds, lines/s");
    report.comparison("LineFormatter", ours, "baseline (snprintf, localtime_r, std::map)", baseline,
                      Unit::PerSecond);
    report.comparison("LineFormatter + LineTimes", withTimes, "LineFormatter, precise records",
                      linesOnly, Unit::PerSecond);
    report.result(resultLine("format_rate", ours.median(), kTargetLinesPerSecond, Better::Higher));
    report.result(resultLine("format_with_times_vs_without", withTimes.median(),
                             linesOnly.median(), kTargetTimesRatio, Better::Higher));
    report.result(resultLine("format_vs_baseline", ours.median(), baseline.median(), kTargetRatio,
                             Better::Higher));
    report.finish();
    return 0;
}
