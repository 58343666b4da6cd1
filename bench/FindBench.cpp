// Find and filter benchmark: 1,000,000 lines of the realistic mix (about 300 bytes each) in the
// log list model, newest on top as the viewer puts them. It times what the find bar and the
// filter do between turns of the event loop: counting the matches (RowIndex in steps of
// FindBar::kCountStepLines) and applying a new filter (ShownRows in steps of kStepLines), each
// with its longest step; next and previous by binary search beside a scan through the lines (how
// the find bar went before), with the one match far away and with none; and taking lines in with
// a filter on beside none: from the mailbox, posted by a forked sender and drained by
// RecordDrain in slices as the window does, and into the model alone (formatting, staging and
// committing, no mailbox), which shows the filter's whole cost per line.
#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/MailboxSender.h"
#include "bench/PrivateNameSpace.h"
#include "bench/RecordMix.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "transport/TraceMailbox.h"
#include "viewer/find/LineFilter.h"
#include "viewer/find/LineSearch.h"
#include "viewer/find/RowIndex.h"
#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/list/FindBar.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 3;
// Lines committed together while taking lines in, about what one drain slice holds.
constexpr std::size_t kIngestBatch = 10'000;
// Binary searches are timed this many at a time; one alone is below the clock's resolution.
constexpr int kFindRepeats = 1000;
// The oldest line, and the only one the far-away search finds.
constexpr const char* kMarkerLine = "00000\t1\t00:00:00\tbench\tmarker(needle42 at the far end)";
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kNanosecondsPerMillisecond = 1e6;
constexpr double kGiveUpMs = 120'000;

constexpr double kTargetFinishMs = 500;
constexpr double kTargetStepMs = 100;
constexpr double kTargetFindMs = 50;
constexpr double kTargetIngestRatio = 0.9;

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// How long a piece of work done in steps took in all, and its longest step.
struct Stepped {
    double totalMs = 0;
    double longestMs = 0;
};

// Runs `step` (true when the work is done) until done.
Stepped runSteps(const std::function<bool()>& step) {
    Stepped stepped;
    for (bool done = false; !done;) {
        const Clock::time_point start = Clock::now();
        done = step();
        const double ms = millisecondsSince(start);
        stepped.totalMs += ms;
        stepped.longestMs = std::max(stepped.longestMs, ms);
    }
    return stepped;
}

LineSearch makeSearch(const char* pattern, bool matchCase, bool regularExpression) {
    LineSearch search;
    search.setPattern(QString::fromLatin1(pattern), matchCase, regularExpression);
    return search;
}

// Takes `lines` lines of the mix into `model` on top, a batch per commit, as the drain does;
// returns lines per second.
double ingest(CLogListModel& model, const std::vector<TraceRecord>& mix, std::uint32_t lines) {
    DepthTable depths;
    LineFormatter formatter(depths);
    const Clock::time_point start = Clock::now();
    model.insertLine(kMarkerLine, true);
    for (std::uint32_t line = 1; line < lines; ++line) {
        model.stageLine(formatter.formatLine(mix[(line - 1) % mix.size()], line), true);
        formatter.storeDepth();
        if (line % kIngestBatch == 0) {
            model.commitStaged();
        }
    }
    model.commitStaged();
    return lines / (millisecondsSince(start) / kMillisecondsPerSecond);
}

// Drains `lines` records that a forked sender posts into `mailbox` into `model`, a slice at a
// time as the window does; returns lines per second, or 0 with `failure` set.
double ingestFromMailbox(CMclMailbox& mailbox, CLogListModel& model,
                         const std::vector<TraceRecord>& mix, std::uint32_t lines,
                         std::string& failure) {
    MailboxSender sender(mix, lines);
    if (!sender.started()) {
        failure = "the sender did not start";
        return 0;
    }
    RecordDrain drain;
    const Clock::time_point start = Clock::now();
    if (!sender.go()) {
        failure = "the sender did not start";
        return 0;
    }
    while (model.size() < lines && millisecondsSince(start) < kGiveUpMs) {
        drain.drainSlice(mailbox, model, true, CQuorvaneDlg::kDrainSliceMs);
    }
    const double ms = millisecondsSince(start);
    failure = sender.finish(model.size() < lines);
    if (model.size() < lines) {
        failure = "only " + std::to_string(model.size()) + " lines arrived";
    }
    return failure.empty() ? lines / (ms / kMillisecondsPerSecond) : 0;
}

// The find bar's scan before the index: every line from the current one on, until one matches.
std::ptrdiff_t scanFrom(const CLogListModel& model, const LineSearch& search, std::size_t from) {
    const std::size_t rows = model.size();
    for (std::size_t looked = 1; looked <= rows; ++looked) {
        const std::size_t row = (from + looked) % rows;
        if (search.matches(model.line(row))) {
            return static_cast<std::ptrdiff_t>(row);
        }
    }
    return -1;
}

struct CountCase {
    const char* name;
    const char* pattern;
    bool matchCase;
    bool regularExpression;
};

constexpr CountCase kCountCases[] = {
    {"text with case", "needle-not-there", true, false},
    {"text no case", "needle-not-there", false, false},
    {"letters no case", "needlenotthere", false, false},
    {"regex", "needle\\d+x", false, true},
};

struct FilterCase {
    const char* name;
    std::function<LineFilter()> make;
};

}  // namespace

int main(int argc, char** argv) {
    const PrivateNameSpace names("QuorvaneBenchFind", false);
    if (!names.valid()) return 1;
    TraceMailboxOpening opening = openTraceMailbox();
    if (!opening) {
        std::fprintf(stderr, "cannot open the mailbox: %s\n", opening.reason.c_str());
        return 1;
    }
    QCoreApplication application(argc, argv);
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_FIND_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);
    BenchReport report(argc, argv);

    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    const LineSearch caseless = makeSearch("needle-not-there", false, false);
    const std::vector<FilterCase> filters = {
        {"only a text",
         [&] {
             LineFilter filter;
             filter.addSearch(caseless, QStringLiteral("needle-not-there"), true);
             return filter;
         }},
        {"hide a sender",
         [] {
             LineFilter filter;
             filter.addField(LineFilter::Field::Sender, "4136", false);
             return filter;
         }},
    };

    std::vector<Samples> countTotal(std::size(kCountCases));
    std::vector<Samples> countStep(std::size(kCountCases));
    std::vector<Samples> filterTotal(filters.size());
    std::vector<Samples> filterStep(filters.size());
    std::vector<Samples> ingestFiltered(filters.size());
    std::vector<Samples> drainFiltered(filters.size());
    Samples ingestPlain;
    Samples drainPlain;
    Samples farIndexed, farScanned, noneIndexed, noneScanned;
    std::size_t bytes = 0;

    CLogListModel model;
    for (int round = 0; round < rounds; ++round) {
        // From the mailbox: each filter, then none, into the same emptied model.
        for (std::size_t f = 0; f <= filters.size(); ++f) {
            model.clear();
            ShownRows shown(model);
            if (f < filters.size()) shown.setFilter(filters[f].make());
            std::string failure;
            const double rate = ingestFromMailbox(*opening.mailbox, model, mix, lines, failure);
            if (!failure.empty()) {
                report.note("round " + std::to_string(round + 1) + ", void drain: " + failure);
            } else {
                (f < filters.size() ? drainFiltered[f] : drainPlain).add(rate);
            }
        }
        // Into the model alone: each filter, then none.
        for (std::size_t f = 0; f < filters.size(); ++f) {
            model.clear();
            ShownRows shown(model);
            shown.setFilter(filters[f].make());
            ingestFiltered[f].add(ingest(model, mix, lines));
        }
        model.clear();
        ingestPlain.add(ingest(model, mix, lines));
        if (bytes == 0) {
            for (std::size_t row = 0; row < model.size(); ++row) bytes += model.line(row).size();
        }

        // The match count, as the find bar runs it with no filter on.
        for (std::size_t c = 0; c < std::size(kCountCases); ++c) {
            const CountCase& count = kCountCases[c];
            const LineSearch search =
                makeSearch(count.pattern, count.matchCase, count.regularExpression);
            const LineFilter none;
            const RowIndex::Test test = [&](std::string_view line, bool, std::size_t) {
                return search.matches(line) && none.passes(line);
            };
            RowIndex index;
            const Stepped stepped =
                runSteps([&] { return index.step(model, test, FindBar::kCountStepLines); });
            countTotal[c].add(stepped.totalMs);
            countStep[c].add(stepped.longestMs);
        }

        // A new filter over every line.
        for (std::size_t f = 0; f < filters.size(); ++f) {
            ShownRows shown(model);
            const LineFilter filter = filters[f].make();
            // setFilter() takes the first step; later turns of the event loop take the rest.
            const Clock::time_point start = Clock::now();
            shown.setFilter(filter);
            const double firstMs = millisecondsSince(start);
            Stepped stepped = runSteps([&] { return shown.step(ShownRows::kStepLines); });
            stepped.totalMs += firstMs;
            stepped.longestMs = std::max(stepped.longestMs, firstMs);
            filterTotal[f].add(stepped.totalMs);
            filterStep[f].add(stepped.longestMs);
        }

        // Next from the top row: the one match is the oldest line, at the far end; then none.
        for (const bool far : {true, false}) {
            const LineSearch search =
                makeSearch(far ? "NEEDLE42" : "needle-not-there", false, false);
            const RowIndex::Test test = [&](std::string_view line, bool, std::size_t) {
                return search.matches(line);
            };
            RowIndex index;
            runSteps([&] { return index.step(model, test, FindBar::kCountStepLines); });
            std::ptrdiff_t found = -1;
            Clock::time_point start = Clock::now();
            for (int repeat = 0; repeat < kFindRepeats; ++repeat) {
                found = index.find(model, 0, true).row;
            }
            (far ? farIndexed : noneIndexed)
                .add(millisecondsSince(start) * kNanosecondsPerMillisecond / kFindRepeats);
            start = Clock::now();
            const std::ptrdiff_t scanned = scanFrom(model, search, 0);
            (far ? farScanned : noneScanned)
                .add(millisecondsSince(start) * kNanosecondsPerMillisecond);
            if (found != scanned) {
                report.note("round " + std::to_string(round + 1) +
                            ": the index and the scan found different rows");
            }
        }
    }

    report.section(
        "find and filter: " + std::to_string(lines) + " lines, " +
        plainNumber(static_cast<double>(bytes) / std::max<std::size_t>(1, model.size())) +
        " bytes each on average; " + std::to_string(rounds) + " rounds");
    for (std::size_t c = 0; c < std::size(kCountCases); ++c) {
        report.single(std::string("count, ") + kCountCases[c].name + ": to finish", countTotal[c],
                      Unit::Milliseconds);
        report.single(std::string("count, ") + kCountCases[c].name + ": longest step", countStep[c],
                      Unit::Milliseconds);
    }
    for (std::size_t f = 0; f < filters.size(); ++f) {
        report.single(std::string("filter, ") + filters[f].name + ": to finish", filterTotal[f],
                      Unit::Milliseconds);
        report.single(std::string("filter, ") + filters[f].name + ": longest step", filterStep[f],
                      Unit::Milliseconds);
    }
    report.comparison("next, far match: index", farIndexed, "scan of the lines", farScanned,
                      Unit::Nanoseconds);
    report.comparison("next, no match: index", noneIndexed, "scan of the lines", noneScanned,
                      Unit::Nanoseconds);
    for (std::size_t f = 0; f < filters.size(); ++f) {
        report.comparison(std::string("drain, filter ") + filters[f].name, drainFiltered[f],
                          "no filter", drainPlain, Unit::PerSecond);
    }
    for (std::size_t f = 0; f < filters.size(); ++f) {
        report.comparison(std::string("into model, filter ") + filters[f].name, ingestFiltered[f],
                          "no filter", ingestPlain, Unit::PerSecond);
    }

    double countWorst = 0;
    double countStepWorst = 0;
    for (std::size_t c = 0; c < std::size(kCountCases); ++c) {
        countWorst = std::max(countWorst, countTotal[c].median());
        countStepWorst = std::max(countStepWorst, countStep[c].median());
    }
    double filterWorst = 0;
    double filterStepWorst = 0;
    for (std::size_t f = 0; f < filters.size(); ++f) {
        filterWorst = std::max(filterWorst, filterTotal[f].median());
        filterStepWorst = std::max(filterStepWorst, filterStep[f].median());
    }
    report.result(resultLine("find_count_finish_ms", countWorst, kTargetFinishMs, Better::Lower));
    report.result(
        resultLine("find_count_longest_step_ms", countStepWorst, kTargetStepMs, Better::Lower));
    report.result(
        resultLine("filter_change_finish_ms", filterWorst, kTargetFinishMs, Better::Lower));
    report.result(
        resultLine("filter_change_longest_step_ms", filterStepWorst, kTargetStepMs, Better::Lower));
    report.result(resultLine("find_next_far_match_ms",
                             farIndexed.median() / kNanosecondsPerMillisecond, kTargetFindMs,
                             Better::Lower));
    report.result(resultLine("find_next_no_match_ms",
                             noneIndexed.median() / kNanosecondsPerMillisecond, kTargetFindMs,
                             Better::Lower));
    report.result(resultLine("drain_filter_text_vs_none_per_s", drainFiltered[0].median(),
                             drainPlain.median(), kTargetIngestRatio, Better::Higher));
    report.result(resultLine("drain_filter_sender_vs_none_per_s", drainFiltered[1].median(),
                             drainPlain.median(), kTargetIngestRatio, Better::Higher));
    report.finish();
    return 0;
}
