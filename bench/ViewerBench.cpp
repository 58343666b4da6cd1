// End-to-end benchmark: the real CQuorvaneDlg on Qt's offscreen platform, fed by a separate
// sender process that posts 1,000,000 records of the realistic mix through CMclMailbox as fast
// as the mailbox takes them. Every round runs in a fresh process of this program, so its memory
// figures start from nothing; the rounds report one line each, which this process tabulates.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTimer>
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
#include "bench/RecordMix.h"
#include "bench/RoundReport.h"
#include "bench/TempDirectory.h"
#include "quorvane/Names.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"
#include "viewer/CLogListModel.h"
#include "viewer/CQuorvaneDlg.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultRecords = 1'000'000;
constexpr std::size_t kWindowLines = 100'000;
constexpr int kDefaultRounds = 5;
constexpr DWORD kPostTimeoutMs = 60'000;
constexpr int kWatchTimerMs = 10;
// Lets the window appear before the flood. The flood starts at a different point of the 500 ms
// poll period in every round (300, 400, ... ms after the window), so the wait for the first tick
// is sampled rather than fixed.
constexpr int kSettleMs = 300;
constexpr int kSettleStepMs = 100;
constexpr int kSettleSteps = 5;
constexpr int kGiveUpMs = 120'000;
constexpr int kSenderFailed = 3;
constexpr int kSenderNotStarted = 4;
constexpr const char* kRunFlag = "--run";
constexpr const char* kRunTag = "VIEWERRUN";
constexpr const char* kShmBase = "/dev/shm";

constexpr double kTargetRate = 1'000'000;
constexpr double kTargetStallMs = 200;
constexpr double kTargetMemoryRatio = 1.3;
constexpr double kTargetWindowRatio = 0.8;
constexpr double kMillisecondsPerSecond = 1000.0;

using Clock = std::chrono::steady_clock;

double secondsNow() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

[[noreturn]] void runSender(int goReadEnd, const std::vector<TraceRecord>& mix,
                            std::uint32_t recordCount) {
    char go = 0;
    while (read(goReadEnd, &go, 1) < 0 && errno == EINTR) {
    }
    if (go != 'G') _exit(kSenderNotStarted);
    try {
        CMclMailbox mailbox(quorvane::kMailSlots, kTraceRecordSize, traceMailboxName());
        for (std::uint32_t i = 0; i < recordCount; ++i) {
            if (!mailbox.post(&mix[i % mix.size()], kPostTimeoutMs)) _exit(kSenderFailed);
        }
    } catch (DWORD) {
        _exit(kSenderNotStarted);
    }
    _exit(0);
}

// Whether the list holds exactly the lines the records make, newest on top.
bool listHoldsEveryLine(const CLogListModel& model, const std::vector<TraceRecord>& mix,
                        std::uint32_t recordCount, std::string& failure) {
    if (model.size() != recordCount) {
        failure = "the list holds " + std::to_string(model.size()) + " lines";
        return false;
    }
    DepthTable depths;
    std::int32_t currentDepth = 0;
    LineFormatter formatter(depths, currentDepth);
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

// One round, in a process of its own: prints "VIEWERRUN ok name=value ..." or
// "VIEWERRUN void <reason>".
int runOnce(int argc, char** argv, int round) {
    const int settleMs = kSettleMs + (round % kSettleSteps) * kSettleStepMs;
    const auto recordCount = static_cast<std::uint32_t>(
        environmentNumber("QUORVANE_BENCH_VIEWER_RECORDS", kDefaultRecords));
    // Private kernel-object and registry name spaces: a viewer the user runs is not disturbed,
    // and the mailbox stays in memory.
    TempDirectory runtime(kShmBase);
    TempDirectory config;
    if (!runtime.valid() || !config.valid()) {
        std::printf("%s void cannot make temporary directories\n", kRunTag);
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    setenv("QUORVANE_MAILBOX", ("QuorvaneBenchViewer." + std::to_string(getpid())).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    int go[2];
    if (pipe(go) != 0) return 1;
    std::fflush(nullptr);
    const pid_t sender = fork();
    if (sender < 0) return 1;
    if (sender == 0) {
        close(go[1]);
        runSender(go[0], mix, recordCount);
    }
    close(go[0]);

    std::string failure;
    FloodWatch watch(recordCount, kWindowLines);
    double baseAnon = 0.0;
    double heldAnon = 0.0;
    double ownBytes = 0.0;
    {
        QApplication application(argc, argv);
        try {
            CQuorvaneDlg dialog;
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
                if (write(go[1], "G", 1) != 1) QCoreApplication::exit(0);
            });
            QTimer::singleShot(kGiveUpMs, &application, [&] { QCoreApplication::exit(0); });
            application.exec();
            turns.stop();
            heldAnon = ownStatusBytes("RssAnon") - baseAnon;
            if (!watch.complete()) {
                failure = "only " + std::to_string(model.size()) + " lines arrived";
            } else if (listHoldsEveryLine(model, mix, recordCount, failure)) {
                for (std::size_t row = 0; row < model.size(); ++row) {
                    ownBytes += static_cast<double>(model.line(row).size());
                }
            }
        } catch (DWORD error) {
            failure = "the dialog could not open the mailbox: " + std::to_string(error);
        }
    }
    close(go[1]);
    if (!failure.empty()) kill(sender, SIGKILL);
    int status = 0;
    while (waitpid(sender, &status, 0) < 0 && errno == EINTR) {
    }
    if (failure.empty() && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        failure = "the sender failed";
    }
    if (!failure.empty()) {
        std::printf("%s void %s\n", kRunTag, failure.c_str());
        return 1;
    }
    std::printf(
        "%s ok rate=%.0f delay_ms=%.3f sustained=%.0f first=%.0f last=%.0f stall_ms=%.3f "
        "base=%.0f held=%.1f own=%.1f peak=%.0f\n",
        kRunTag, watch.endToEndRate(), watch.firstLineDelay() * kMillisecondsPerSecond,
        watch.sustainedRate(), watch.firstWindowRate(), watch.lastWindowRate(),
        watch.longestGapSeconds() * kMillisecondsPerSecond, baseAnon, heldAnon / recordCount,
        ownBytes / recordCount, ownStatusBytes("VmHWM"));
    return 0;
}

// Runs one round in a fresh process and adds its figures, or returns why it is void.
std::string runRound(const std::string& self, int round, std::map<std::string, Samples>& figures) {
    const std::string command =
        "'" + self + "' " + kRunFlag + " " + std::to_string(round) + " 2>/dev/null";
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string_view(argv[1]) == kRunFlag) {
        return runOnce(argc, argv, std::atoi(argv[2]));
    }

    const int rounds = static_cast<int>(environmentNumber("QUORVANE_BENCH_ROUNDS", kDefaultRounds));
    const auto records = environmentNumber("QUORVANE_BENCH_VIEWER_RECORDS", kDefaultRecords);
    const std::string self = selfPath();
    std::map<std::string, Samples> figures;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        const std::string failure = runRound(self, round, figures);
        if (!failure.empty())
            failures.push_back("round " + std::to_string(round + 1) + ":" + failure);
    }

    BenchReport report;
    if (!quietMachine(argc, argv)) report.machine();
    report.section("viewer end to end: CQuorvaneDlg (offscreen) fed by a sender process posting " +
                   std::to_string(records) + " records, " + std::to_string(quorvane::kMailSlots) +
                   " slots; " + std::to_string(rounds) + " rounds, each in a fresh process");
    report.single("records/s, first post to last line shown", figures["rate"], Unit::PerSecond);
    report.single("wait for the first line to show", figures["delay_ms"], Unit::Milliseconds);
    report.single("lines/s, first batch shown to last", figures["sustained"], Unit::PerSecond);
    report.comparison("lines/s, last 100k lines", figures["last"], "lines/s, first 100k lines",
                      figures["first"], Unit::PerSecond);
    report.single("longest event-loop gap (10 ms timer)", figures["stall_ms"], Unit::Milliseconds);
    report.single("resident anonymous memory before flood", figures["base"], Unit::Bytes);
    report.single("peak resident memory (VmHWM)", figures["peak"], Unit::Bytes);
    report.comparison("bytes held per line", figures["held"], "the line's own bytes",
                      figures["own"], Unit::Bytes);
    for (const std::string& failure : failures) report.note("void " + failure);

    Samples& held = figures["held"];
    Samples& own = figures["own"];
    report.result(
        resultLine("viewer_records_per_s", figures["rate"].median(), kTargetRate, Better::Higher));
    report.result(resultLine("viewer_longest_stall_ms", figures["stall_ms"].median(),
                             kTargetStallMs, Better::Lower));
    report.result(resultLine("viewer_bytes_per_line_vs_own", held.median(), own.median(),
                             kTargetMemoryRatio, Better::Lower));
    report.result(resultLine("viewer_last_vs_first_100k_lines", figures["last"].median(),
                             figures["first"].median(), kTargetWindowRatio, Better::Within));
    report.finish();
    return 0;
}
