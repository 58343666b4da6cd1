// End-to-end benchmark: the real CQuorvaneDlg on Qt's offscreen platform, fed by a separate
// sender process that posts 1,000,000 records of the realistic mix through CMclMailbox as fast
// as the mailbox takes them. Beside it, in the same rounds, the mailbox alone: the same sender
// and records into a loop that only copies each record out, and the viewer again with lines of
// about 100 bytes for the memory figure. Every round runs in a fresh process of this program, so
// its memory figures start from nothing; the rounds report one line each, which this process
// tabulates.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/FloodWatch.h"
#include "bench/MailboxSender.h"
#include "bench/PrivateNameSpace.h"
#include "bench/RecordMix.h"
#include "bench/RoundReport.h"
#include "quorvane/Names.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/list/CLogListView.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
// Entry texts that make lines of about 100 bytes with the mix's other fields.
constexpr std::size_t kShortMinText = 20;
constexpr std::size_t kShortMaxText = 72;
constexpr std::uint32_t kDefaultRecords = 1'000'000;
constexpr std::size_t kWindowLines = 100'000;
constexpr int kDefaultRounds = 5;
constexpr DWORD kReceiveTimeoutMs = 10'000;
constexpr int kWatchTimerMs = 10;
// Lets the window appear before the flood. The flood starts at a different point of the 500 ms
// poll period in every round (300, 400, ... ms after the window), so where it falls between the
// viewer's looks at the mailbox is sampled rather than fixed.
constexpr int kSettleMs = 300;
constexpr int kSettleStepMs = 100;
constexpr int kSettleSteps = 5;
constexpr int kGiveUpMs = 120'000;
constexpr const char* kRunFlag = "--run";
constexpr const char* kRunTag = "VIEWERRUN";

constexpr double kTargetRate = 2'000'000;
constexpr double kTargetShareOfMailbox = 0.5;
constexpr double kTargetStallMs = 100;
constexpr double kTargetExtraBytesPerLine = 16;
constexpr double kTargetWindowRatio = 0.8;
constexpr double kTargetPreciseRatio = 0.9;
constexpr double kMillisecondsPerSecond = 1000.0;

// The kinds of round, run in this order in even rounds; odd rounds swap the viewer and precise
// kinds, so that neither always runs in the other's wake (memory the last process freed, a
// processor still busy with it). Precise: the viewer again, with the records stamped as the
// client library stamps them, and the window showing milliseconds and durations.
enum class Kind { Mailbox, Viewer, Precise, ShortLines };
constexpr Kind kKinds[] = {Kind::Mailbox, Kind::Viewer, Kind::Precise, Kind::ShortLines};

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::Mailbox:
            return "mailbox";
        case Kind::Viewer:
            return "viewer";
        case Kind::Precise:
            return "precise";
        case Kind::ShortLines:
            return "short";
    }
    return "";
}

// Figures of the short-line and precise rounds carry these prefixes, so every viewer kind shares
// one table.
constexpr const char* kShortPrefix = "short_";
constexpr const char* kPrecisePrefix = "precise_";
constexpr TimeColumns kShownTimes{3, true};

using Clock = std::chrono::steady_clock;

double secondsNow() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Whether the list holds exactly the lines the records make, newest on top.
bool listHoldsEveryLine(const CLogListModel& model, const std::vector<TraceRecord>& mix,
                        std::uint32_t recordCount, std::string& failure) {
    if (model.size() != recordCount) {
        failure = "the list holds " + std::to_string(model.size()) + " lines";
        return false;
    }
    DepthTable depths;
    LineFormatter formatter(depths);
    for (std::uint32_t line = 1; line <= recordCount; ++line) {
        const std::string_view expected = formatter.formatLine(mix[(line - 1) % mix.size()], line);
        formatter.storeDepth();
        if (model.line(recordCount - line) != expected) {
            failure = "line " + std::to_string(line) + " differs from its record";
            return false;
        }
    }
    return true;
}

// The mailbox alone: the sender's records copied out one by one, nothing else. Prints the rate.
int runMailboxRound(const std::vector<TraceRecord>& mix, std::uint32_t recordCount) {
    TraceMailboxOpening opening = openTraceMailbox();
    if (!opening) {
        std::printf("%s void cannot open the mailbox: %s\n", kRunTag, opening.reason.c_str());
        return 1;
    }
    MailboxSender sender(mix, recordCount);
    if (!sender.started()) return 1;
    TraceRecord record;
    std::uint32_t received = 0;
    const double start = secondsNow();
    if (sender.go()) {
        while (received < recordCount && opening.mailbox->receive(&record, kReceiveTimeoutMs)) {
            ++received;
        }
    }
    const double seconds = secondsNow() - start;
    std::string failure = sender.finish(received < recordCount);
    if (received < recordCount) failure = "only " + std::to_string(received) + " records arrived";
    if (!failure.empty()) {
        std::printf("%s void %s\n", kRunTag, failure.c_str());
        return 1;
    }
    std::printf("%s ok mailbox_rate=%.0f\n", kRunTag, recordCount / seconds);
    return 0;
}

// The real dialog drains the sender's flood; prints its figures, names prefixed by `prefix`.
int runViewerRound(int argc, char** argv, int round, const std::vector<TraceRecord>& mix,
                   std::uint32_t recordCount, const std::string& prefix,
                   const TimeColumns& timeColumns = {}) {
    const int settleMs = kSettleMs + (round % kSettleSteps) * kSettleStepMs;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string failure;
    FloodWatch watch(recordCount, kWindowLines);
    double baseAnon = 0.0;
    double heldAnon = 0.0;
    double ownBytes = 0.0;
    bool sent = false;
    // Forked before Qt starts any thread of its own.
    MailboxSender sender(mix, recordCount);
    if (!sender.started()) return 1;
    {
        QApplication application(argc, argv);
        try {
            CQuorvaneDlg dialog;
            dialog.logList().setTimeColumns(timeColumns);
            dialog.show();
            CLogListModel& model = dialog.logList().model();
            QObject::connect(&model, &QAbstractItemModel::rowsInserted, &application, [&] {
                watch.linesShown(secondsNow(), model.size());
                if (watch.complete()) QCoreApplication::exit(0);
            });
            QTimer turns;
            turns.setTimerType(Qt::PreciseTimer);
            QObject::connect(&turns, &QTimer::timeout, &application,
                             [&] { watch.timerTick(secondsNow()); });
            QTimer::singleShot(settleMs, &application, [&] {
                baseAnon = ownStatusBytes("RssAnon");
                watch.start(secondsNow());
                turns.start(kWatchTimerMs);
                if (!sender.go()) QCoreApplication::exit(0);
            });
            QTimer::singleShot(kGiveUpMs, &application, [&] { QCoreApplication::exit(0); });
            application.exec();
            turns.stop();
            heldAnon = ownStatusBytes("RssAnon") - baseAnon;
            failure = sender.finish(!watch.complete());
            sent = failure.empty();
            if (!watch.complete()) {
                failure = "only " + std::to_string(model.size()) + " lines arrived";
            } else if (sent && listHoldsEveryLine(model, mix, recordCount, failure)) {
                for (std::size_t row = 0; row < model.size(); ++row) {
                    ownBytes += static_cast<double>(model.line(row).size());
                }
            }
        } catch (DWORD error) {
            failure = "the dialog could not open the mailbox: " + std::to_string(error);
        }
    }
    if (!failure.empty()) {
        std::printf("%s void %s\n", kRunTag, failure.c_str());
        return 1;
    }
    const char* p = prefix.c_str();
    std::printf(
        "%s ok %srate=%.0f %sdelay_ms=%.3f %ssustained=%.0f %sfirst=%.0f %slast=%.0f "
        "%sstall_ms=%.3f %sbase=%.0f %sheld=%.1f %sown=%.1f %speak=%.0f\n",
        kRunTag, p, watch.endToEndRate(), p, watch.firstLineDelay() * kMillisecondsPerSecond, p,
        watch.sustainedRate(), p, watch.firstWindowRate(), p, watch.lastWindowRate(), p,
        watch.longestGapSeconds() * kMillisecondsPerSecond, p, baseAnon, p, heldAnon / recordCount,
        p, ownBytes / recordCount, p, ownStatusBytes("VmHWM"));
    return 0;
}

// One round of one kind, in a process of its own: prints "VIEWERRUN ok name=value ..." or
// "VIEWERRUN void <reason>".
int runOnce(int argc, char** argv, const std::string& kind, int round) {
    const auto recordCount = static_cast<std::uint32_t>(
        environmentNumber("QUORVANE_BENCH_VIEWER_RECORDS", kDefaultRecords));
    const PrivateNameSpace names("QuorvaneBenchViewer", true);
    if (!names.valid()) {
        std::printf("%s void cannot make temporary directories\n", kRunTag);
        return 1;
    }

    if (kind == kindName(Kind::ShortLines)) {
        const std::vector<TraceRecord> mix =
            makeRecordMix(kMixRecords, kMixSeed, kShortMinText, kShortMaxText);
        return runViewerRound(argc, argv, round, mix, recordCount, kShortPrefix);
    }
    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    if (kind == kindName(Kind::Mailbox)) return runMailboxRound(mix, recordCount);
    if (kind == kindName(Kind::Precise)) {
        return runViewerRound(argc, argv, round, stampPreciseTime(mix), recordCount,
                              kPrecisePrefix, kShownTimes);
    }
    return runViewerRound(argc, argv, round, mix, recordCount, "");
}

// Runs one round in a fresh process and adds its figures, or returns why it is void.
std::string runRound(const std::string& self, Kind kind, int round,
                     std::map<std::string, Samples>& figures) {
    const std::string command = "'" + self + "' " + kRunFlag + " " + kindName(kind) + " " +
                                std::to_string(round) + " 2>/dev/null";
    std::FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return "cannot start a round";
    std::string report;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, output) != nullptr) {
        if (std::string_view(buffer).rfind(kRunTag, 0) == 0) report = buffer;
    }
    pclose(output);
    return takeRoundReport(kRunTag, report, figures);
}

std::string selfPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Bytes held per line beyond the line's own, from the medians.
double extraBytes(std::map<std::string, Samples>& figures, const std::string& prefix) {
    return figures[prefix + "held"].median() - figures[prefix + "own"].median();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 3 && std::string_view(argv[1]) == kRunFlag) {
        return runOnce(argc, argv, argv[2], std::atoi(argv[3]));
    }

    const int rounds = benchRounds(kDefaultRounds);
    const auto records = environmentNumber("QUORVANE_BENCH_VIEWER_RECORDS", kDefaultRecords);
    const std::string self = selfPath();
    std::map<std::string, Samples> figures;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        for (Kind kind : kKinds) {
            if (round % 2 == 1 && (kind == Kind::Viewer || kind == Kind::Precise))
                kind = kind == Kind::Viewer ? Kind::Precise : Kind::Viewer;
            const std::string failure = runRound(self, kind, round, figures);
            if (!failure.empty()) {
                failures.push_back("round " + std::to_string(round + 1) + " (" + kindName(kind) +
                                   "): " + failure);
            }
        }
    }

    const std::string s = kShortPrefix;
    BenchReport report(argc, argv);
    report.section("viewer end to end: CQuorvaneDlg (offscreen) fed by a sender process posting " +
                   std::to_string(records) + " records, " + std::to_string(quorvane::kMailSlots) +
                   " slots; " + std::to_string(rounds) + " rounds, each in a fresh process");
    report.comparison("records/s, first post to last line shown", figures["rate"],
                      "mailbox alone: sender to a copying loop", figures["mailbox_rate"],
                      Unit::PerSecond);
    report.comparison("records/s with precise times and durations shown",
                      figures[std::string(kPrecisePrefix) + "rate"],
                      "records/s of records without precise time", figures["rate"],
                      Unit::PerSecond);
    report.single("wait for the first line to show", figures["delay_ms"], Unit::Milliseconds);
    report.single("lines/s, first batch shown to last", figures["sustained"], Unit::PerSecond);
    report.comparison("lines/s, last 100k lines", figures["last"], "lines/s, first 100k lines",
                      figures["first"], Unit::PerSecond);
    report.single("longest event-loop gap (10 ms timer)", figures["stall_ms"], Unit::Milliseconds);
    report.single("resident anonymous memory before flood", figures["base"], Unit::Bytes);
    report.single("peak resident memory (VmHWM)", figures["peak"], Unit::Bytes);
    report.comparison("bytes held per line", figures["held"], "the line's own bytes",
                      figures["own"], Unit::Bytes);
    report.single("~100-byte lines: records/s end to end", figures[s + "rate"], Unit::PerSecond);
    report.single("~100-byte lines: longest event-loop gap", figures[s + "stall_ms"],
                  Unit::Milliseconds);
    report.comparison("~100-byte lines: bytes held per line", figures[s + "held"],
                      "the line's own bytes", figures[s + "own"], Unit::Bytes);
    for (const std::string& failure : failures) report.note("void " + failure);

    const double longestStall = std::max(figures["stall_ms"].max(), figures[s + "stall_ms"].max());
    report.result(
        resultLine("viewer_records_per_s", figures["rate"].median(), kTargetRate, Better::Higher));
    report.result(resultLine("viewer_vs_mailbox_alone", figures["rate"].median(),
                             figures["mailbox_rate"].median(), kTargetShareOfMailbox,
                             Better::Higher));
    report.result(
        resultLine("viewer_longest_stall_ms", longestStall, kTargetStallMs, Better::Lower));
    report.result(resultLine("viewer_bytes_over_own_per_line", extraBytes(figures, ""),
                             kTargetExtraBytesPerLine, Better::Lower));
    report.result(resultLine("viewer_bytes_over_own_per_line_100b", extraBytes(figures, s),
                             kTargetExtraBytesPerLine, Better::Lower));
    report.result(resultLine("viewer_last_vs_first_100k_lines", figures["last"].median(),
                             figures["first"].median(), kTargetWindowRatio, Better::Higher));
    report.result(resultLine("viewer_precise_times_vs_without",
                             figures[std::string(kPrecisePrefix) + "rate"].median(),
                             figures["rate"].median(), kTargetPreciseRatio, Better::Higher));
    report.finish();
    return 0;
}
