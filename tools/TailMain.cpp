// quorvane-tail: prints the records arriving in the mailbox, one line each as the viewer shows
// them, until interrupted, a count is reached or the mailbox stays quiet long enough.

#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tools/TailOutput.h"
#include "tools/common/DrainLimits.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/OpenMailbox.h"
#include "tools/common/StandardOutput.h"
#include "tools/common/StopRequest.h"
#include "tools/common/ToolCommandLine.h"
#include "transport/ReaderPresence.h"
#include "transport/TraceMailbox.h"

namespace {

constexpr const char* kProgram = "quorvane-tail";
constexpr int kExitFailure = 1;
// The viewer's receive time-out: also how quickly a signal or the idle limit is noticed.
constexpr DWORD kReceiveTimeoutMs = 125;
// How often the presence mutex is tried again while another reader holds it.
constexpr auto kPresenceRetryPeriod = std::chrono::seconds(1);

enum LongOnlyOption {
    kOptionIdle = 256,
    kOptionTime,
    kOptionDurations,
    kOptionFormat,
    kOptionVersion
};

void printHelp() {
    std::printf(
        "Usage: quorvane-tail [OPTION]...\n"
        "Print the trace records arriving in the Quorvane mailbox, one line each, as the\n"
        "viewer shows them: line number, sender key, time, origin, the indented entry name\n"
        "and the entry text in parentheses, separated by tabs.\n"
        "\n"
        "  -n, --count=N         exit after N records\n"
        "      --idle=MS         exit after MS milliseconds without a record\n"
        "      --time=WHICH      'seconds' (the viewer's line) or 'precise': the time\n"
        "                          with microseconds, for records that carry them\n"
        "      --durations       add a column: how long the scope a leave line closes\n"
        "                          took, and records of its sender lost just before\n"
        "      --format=FORMAT   'lines' (the default), 'jsonl' (one JSON object a\n"
        "                          record, for jq) or 'trace-event' (Trace Event JSON,\n"
        "                          for Perfetto, chrome://tracing or speedscope)\n"
        "  -h, --help            display this help and exit\n"
        "      --version         output version information and exit\n"
        "\n"
        "Without --count or --idle, runs until interrupted (SIGINT or SIGTERM). While\n"
        "another process holds the mailbox's guard (stopped in a debugger, say), waits for\n"
        "it, saying so after a second. A mailbox whose ring another process has damaged\n"
        "is waited on as an empty one.\n"
        "A record goes to whichever reader takes it first: while quorvane-tail runs beside\n"
        "the viewer or another quorvane-tail, each sees only part of the records; one\n"
        "started beside another reader of the mailbox names it on standard error.\n"
        "quorvane-tail counts as a reader for traced programs and for\n"
        "quorvane-send --syslog --confirm, as the viewer does.\n"
        "\n"
        "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
        "QuorvaneTraceMailbox).\n"
        "\n"
        "Exit status: 0 on a normal end, 1 when the mailbox could not be opened (or the\n"
        "wait for it was interrupted) or the output could not be written, 2 for a usage\n"
        "error.\n");
}

struct Settings {
    DrainLimits limits;
    TailFormat format;
};

Settings parseArguments(int argc, char** argv) {
    static const option kOptions[] = {
        {"count", required_argument, nullptr, 'n'},
        {"idle", required_argument, nullptr, kOptionIdle},
        {"time", required_argument, nullptr, kOptionTime},
        {"durations", no_argument, nullptr, kOptionDurations},
        {"format", required_argument, nullptr, kOptionFormat},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    Settings settings;
    for (;;) {
        const int option = getopt_long(argc, argv, "n:h", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 'n':
                settings.limits.setCount(kProgram, optarg);
                break;
            case kOptionIdle:
                settings.limits.setIdle(kProgram, optarg);
                break;
            case kOptionTime:
                if (!settings.format.setTime(optarg))
                    usageError(kProgram, "invalid time '%s' (seconds or precise)", optarg);
                break;
            case kOptionDurations:
                settings.format.durations = true;
                break;
            case kOptionFormat:
                if (!settings.format.setKind(optarg))
                    usageError(kProgram, "invalid format '%s' (lines, jsonl or trace-event)",
                               optarg);
                break;
            case 'h':
                exitWithHelp(kProgram, printHelp);
            case kOptionVersion:
                exitWithVersion(kProgram);
            default:
                usageHint(kProgram);  // getopt has said what is wrong
        }
    }
    if (optind < argc) usageError(kProgram, "extra operand '%s'", argv[optind]);
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parseArguments(argc, argv);
    installStopRequest();
    if (isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::unique_ptr<CMclMailbox> mailbox = openTraceMailbox(kProgram, INFINITE, stopRequest());
    if (mailbox == nullptr) return kExitFailure;

    ReaderPresence reader(kProgram, traceMailboxName());
    const std::vector<MarkedProcess> otherReaders = reader.join();
    if (!otherReaders.empty()) {
        std::fprintf(stderr,
                     "%s: another reader of the mailbox %s runs: %s; each record goes to one "
                     "reader only\n",
                     kProgram, traceMailboxName(), describeReaders(otherReaders).c_str());
    }
    reader.holdPresence();
    auto presenceTried = std::chrono::steady_clock::now();
    // While another reader holds the presence mutex, it is tried again now and then, so that
    // this one takes over when that reader ends.
    const auto keepPresence = [&] {
        if (reader.holdsPresence()) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - presenceTried < kPresenceRetryPeriod) return;
        presenceTried = now;
        reader.holdPresence();
    };

    TailOutput output(settings.format, stdout);
    TraceRecord record{};
    std::uint32_t lineCount = 0;
    const auto idleLimit = std::chrono::milliseconds(settings.limits.idleMs);
    auto lastRecord = std::chrono::steady_clock::now();
    // Lines printed since the last flush. They are flushed as soon as the mailbox runs empty, so
    // that a tail killed while waiting has passed on every record it took; a flood is written in
    // whole buffers.
    bool unflushed = false;

    while (!stopRequested() && !(settings.limits.hasCount && lineCount >= settings.limits.count)) {
        if (mailbox->receive(&record, unflushed ? 0 : kReceiveTimeoutMs)) {
            output.write(record, lineCount + 1);
            ++lineCount;
            lastRecord = std::chrono::steady_clock::now();
            unflushed = true;
            continue;
        }
        keepPresence();
        if (unflushed) {
            unflushed = false;
            // Lines that cannot be written would only lose more records: stop taking them.
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) break;
            continue;
        }
        if (settings.limits.hasIdle && std::chrono::steady_clock::now() - lastRecord >= idleLimit)
            break;
    }

    mailbox.reset();
    reader.leave();
    output.finish();
    return finishStandardOutput(kProgram);
}
