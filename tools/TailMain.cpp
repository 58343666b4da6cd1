// quorvane-tail: prints the records arriving in the mailbox, one line each as the viewer shows
// them, until interrupted, a count is reached or the mailbox stays quiet long enough.

#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tools/TailColour.h"
#include "tools/TailFilter.h"
#include "tools/TailOutput.h"
#include "tools/common/DrainLimits.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/OpenMailbox.h"
#include "tools/common/StandardOutput.h"
#include "tools/common/StopRequest.h"
#include "tools/common/ToolCommandLine.h"
#include "tools/common/ToolReader.h"
#include "transport/TraceMailbox.h"

namespace {

constexpr const char* kProgram = "quorvane-tail";
constexpr int kExitFailure = 1;
// The viewer's receive time-out: also how quickly a signal or the idle limit is noticed.
constexpr DWORD kReceiveTimeoutMs = 125;

enum LongOnlyOption {
    kOptionIdle = 256,
    kOptionTime,
    kOptionDurations,
    kOptionFormat,
    kOptionVersion,
    kOptionGrep,
    kOptionSender,
    kOptionOrigin,
    kOptionInvert,
    kOptionColor
};

void printHelp() {
    std::printf(
        "Usage: quorvane-tail [OPTION]...\n"
        "Print the trace records arriving in the Quorvane mailbox, one line each, as the\n"
        "viewer shows them: line number, sender key, time, origin, the indented entry\n"
        "name and the entry text in parentheses, separated by tabs.\n"
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
        "  -f, --follow          keep printing records as they arrive (what it does\n"
        "                          anyway, until --count, --idle or a signal)\n"
        "      --grep=PATTERN    print only records whose entry, name(text), matches\n"
        "                          the extended regular expression PATTERN\n"
        "      --sender=N        print only the records of sender key N\n"
        "      --origin=NAME     print only the records of origin NAME\n"
        "      --invert          print only the records the filters would not\n"
        "      --color=WHEN      colour the lines: 'auto' (the default: on a terminal,\n"
        "                          unless NO_COLOR is set), 'always' or 'never'\n"
        "  -h, --help            display this help and exit\n"
        "      --version         output version information and exit\n"
        "\n"
        "Each filter may be given more than once: a record passes when it matches one\n"
        "of the patterns, one of the senders and one of the origins given. Records\n"
        "filtered out still count in the line numbers; --count counts printed lines.\n"
        "\n"
        "Without --count or --idle, runs until interrupted (SIGINT or SIGTERM). While\n"
        "another process holds the mailbox's guard (stopped in a debugger, say), waits\n"
        "for it, saying so after a second. A mailbox whose ring another process has\n"
        "damaged is waited on as an empty one.\n"
        "A record goes to whichever reader takes it first: while quorvane-tail runs\n"
        "beside the viewer or another quorvane-tail, each sees only part of the\n"
        "records; one started beside another reader of the mailbox names it on\n"
        "standard error. quorvane-tail counts as a reader for traced programs and for\n"
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
    TailFilter filter;
    bool filtered = false;
    ColourChoice colour = ColourChoice::Auto;
};

void parseArguments(int argc, char** argv, Settings& settings) {
    static const option kOptions[] = {
        {"count", required_argument, nullptr, 'n'},
        {"idle", required_argument, nullptr, kOptionIdle},
        {"time", required_argument, nullptr, kOptionTime},
        {"durations", no_argument, nullptr, kOptionDurations},
        {"format", required_argument, nullptr, kOptionFormat},
        {"follow", no_argument, nullptr, 'f'},
        {"grep", required_argument, nullptr, kOptionGrep},
        {"sender", required_argument, nullptr, kOptionSender},
        {"origin", required_argument, nullptr, kOptionOrigin},
        {"invert", no_argument, nullptr, kOptionInvert},
        {"color", required_argument, nullptr, kOptionColor},
        {"colour", required_argument, nullptr, kOptionColor},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    std::string error;
    for (;;) {
        const int option = getopt_long(argc, argv, "n:fh", kOptions, nullptr);
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
            case 'f':
                break;
            case kOptionGrep:
                if (!settings.filter.addGrep(optarg, error))
                    usageError(kProgram, "invalid pattern: %s", error.c_str());
                settings.filtered = true;
                break;
            case kOptionSender:
                if (!settings.filter.addSender(optarg))
                    usageError(kProgram, "invalid sender key '%s'", optarg);
                settings.filtered = true;
                break;
            case kOptionOrigin:
                settings.filter.addOrigin(optarg);
                settings.filtered = true;
                break;
            case kOptionInvert:
                settings.filter.setInvert(true);
                settings.filtered = true;
                break;
            case kOptionColor:
                if (!parseColourChoice(optarg, settings.colour))
                    usageError(kProgram, "invalid colour choice '%s' (auto, always or never)",
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
    // A Trace Event document must pair every scope's begin with its end, which a filter may
    // split.
    if (settings.filtered && settings.format.kind == TailFormat::Kind::TraceEvent)
        usageError(kProgram, "%s", "filters apply to --format=lines and jsonl, not trace-event");
    settings.format.colour = settings.format.kind == TailFormat::Kind::Lines &&
                             useColour(settings.colour, isatty(STDOUT_FILENO) != 0,
                                       std::getenv("NO_COLOR"), std::getenv("TERM"));
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    parseArguments(argc, argv, settings);
    installStopRequest();
    if (isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::unique_ptr<CMclMailbox> mailbox = openTraceMailbox(kProgram, INFINITE, stopRequest());
    if (mailbox == nullptr) return kExitFailure;

    ToolReader reader(kProgram);

    TailOutput output(settings.format, stdout);
    TraceRecord record{};
    std::uint32_t received = 0;   // every record taken: the line numbers
    std::uint32_t lineCount = 0;  // the lines printed
    const auto idleLimit = std::chrono::milliseconds(settings.limits.idleMs);
    auto lastRecord = std::chrono::steady_clock::now();
    // Lines printed since the last flush. They are flushed as soon as the mailbox runs empty, so
    // that a tail killed while waiting has passed on every record it took; a flood is written in
    // whole buffers.
    bool unflushed = false;

    while (!stopRequested() && !(settings.limits.hasCount && lineCount >= settings.limits.count)) {
        if (mailbox->receive(&record, unflushed ? 0 : kReceiveTimeoutMs)) {
            ++received;
            lastRecord = std::chrono::steady_clock::now();
            if (!settings.filter.passes(record)) {
                output.skip(record, received);
                continue;
            }
            output.write(record, received);
            ++lineCount;
            unflushed = true;
            continue;
        }
        reader.keepPresence();
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
