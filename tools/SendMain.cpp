// quorvane-send: posts trace records into the mailbox from the command line, from lines of
// standard input or from the syslog messages rsyslog's omprog passes on.

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "records/RecordFields.h"
#include "records/TraceRecord.h"
#include "tools/common/LineReader.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/OpenMailbox.h"
#include "tools/common/ToolCommandLine.h"
#include "tools/syslog/SendSyslog.h"

namespace {

constexpr const char* kProgram = "quorvane-send";
constexpr int kExitFailure = 1;
constexpr const char* kDefaultLinesEntryName = "stdin";
// What the entry text holds: the rest of a longer --lines line is read past without being kept.
constexpr std::size_t kMaxLinesLineLength = TraceRecord::kEntryTextSize - 1;

enum class Mode { Single, Lines, Raw, Syslog };

enum LongOnlyOption {
    kOptionEnter = 256,
    kOptionLeave,
    kOptionLines,
    kOptionRaw,
    kOptionSyslog,
    kOptionConfirm,
    kOptionVersion
};

void printHelp() {
    std::printf(
        "Usage: quorvane-send [OPTION]... ENTRY-NAME [ENTRY-TEXT]...\n"
        "  or:  quorvane-send [OPTION]... --lines [ENTRY-NAME]\n"
        "  or:  quorvane-send [OPTION]... --raw\n"
        "  or:  quorvane-send [OPTION]... --syslog [--confirm]\n"
        "Post trace records into the Quorvane mailbox.\n"
        "\n"
        "With ENTRY-NAME, post one record; the ENTRY-TEXT words are joined by spaces.\n"
        "With --lines, post one record per line of standard input, the line being the\n"
        "entry text (ENTRY-NAME defaults to \"%s\").\n"
        "With --raw, post the 732-byte records read from standard input unchanged.\n"
        "With --syslog, post one record per RFC 5424 message read from standard input,\n"
        "one message a line, as rsyslog's omprog passes them with the template\n"
        "RSYSLOG_SyslogProtocol23Format.\n"
        "\n"
        "  -o, --origin=NAME       origin name (default: quorvane-send)\n"
        "  -k, --sender-key=N      sender key (default: the parent process id, so that\n"
        "                            the records of one shell script share one\n"
        "                            indentation)\n"
        "  -d, --delta=N           depth change carried by each record (default: 0)\n"
        "      --enter             same as --delta=1\n"
        "      --leave             same as --delta=-1\n"
        "      --lines             post one record per line of standard input\n"
        "      --raw               post raw 732-byte records from standard input\n"
        "      --syslog            post the syslog messages read from standard input\n"
        "      --confirm           with --syslog, answer each message on standard output\n"
        "                            as omprog's confirmMessages=\"on\" expects\n"
        "  -t, --timeout=MS        give up after waiting MS milliseconds to open the\n"
        "                            mailbox, or for room in it for a record (default:\n"
        "                            wait as long as it takes)\n"
        "  -h, --help              display this help and exit\n"
        "      --version           output version information and exit\n"
        "\n"
        "Of --delta, --enter and --leave the last one given counts. Texts longer than\n"
        "their fields are truncated. Of a line of standard input, only as much is read\n"
        "into memory as can be used (%zu bytes with --lines, %zu with --syslog); the\n"
        "rest is skipped and the lines so cut are counted on standard error.\n"
        "\n"
        "A syslog message sent by quorvane-forward gives back the forwarded record; any\n"
        "other message shows as a record with depth change 0, its MSGID (or else its\n"
        "severity) as entry name and its text as entry text. The origin is \"host/program\"\n"
        "(HOSTNAME and APP-NAME), cut to 63 bytes. The sender key is the FNV-1a hash (32\n"
        "bits) of HOSTNAME, a NUL byte and PROCID, so that threads of two machines that\n"
        "share a thread id keep an indentation each. A line that is not an RFC 5424\n"
        "message is counted, reported on standard error and skipped. A trace whose\n"
        "forwarder run (host and run) has had a line of that number or higher posted is a\n"
        "repeat from a relay and is skipped.\n"
        "With --confirm, \"OK\" is written once the mailbox is open, and then for each\n"
        "message once its record is in the mailbox while a viewer runs (holds its\n"
        "presence mutex), or once a malformed line has been skipped. While no viewer\n"
        "runs, or the mailbox stays full for 2 seconds, the answer is a line saying so:\n"
        "rsyslog keeps the message in its queue and passes it again later.\n"
        "\n"
        "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
        "QuorvaneTraceMailbox). Records stay in it only while some process holds it open,\n"
        "such as the viewer or quorvane-tail.\n"
        "\n"
        "Exit status: 0 when every record was posted, 1 when the mailbox could not be\n"
        "opened or a record could not be posted, 2 for a usage error.\n",
        kDefaultLinesEntryName, kMaxLinesLineLength, kMaxSyslogLineLength);
}

struct Settings {
    Mode mode = Mode::Single;
    std::string origin = "quorvane-send";
    std::uint32_t senderKey = static_cast<std::uint32_t>(getppid());
    std::int32_t delta = 0;
    DWORD timeoutMs = INFINITE;
    bool confirm = false;
    std::string entryName;
    std::string entryText;
};

Settings parseArguments(int argc, char** argv) {
    static const option kOptions[] = {
        {"origin", required_argument, nullptr, 'o'},
        {"sender-key", required_argument, nullptr, 'k'},
        {"delta", required_argument, nullptr, 'd'},
        {"enter", no_argument, nullptr, kOptionEnter},
        {"leave", no_argument, nullptr, kOptionLeave},
        {"lines", no_argument, nullptr, kOptionLines},
        {"raw", no_argument, nullptr, kOptionRaw},
        {"syslog", no_argument, nullptr, kOptionSyslog},
        {"confirm", no_argument, nullptr, kOptionConfirm},
        {"timeout", required_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    Settings settings;
    for (;;) {
        const int option = getopt_long(argc, argv, "+o:k:d:t:h", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 'o':
                settings.origin = optarg;
                break;
            case 'k':
                if (!parseUnsigned32(optarg, settings.senderKey)) {
                    usageError(kProgram, "invalid sender key '%s'", optarg);
                }
                break;
            case 'd':
                if (!parseSigned32(optarg, settings.delta)) {
                    usageError(kProgram, "invalid depth change '%s'", optarg);
                }
                break;
            case kOptionEnter:
                settings.delta = 1;
                break;
            case kOptionLeave:
                settings.delta = -1;
                break;
            case kOptionLines:
                settings.mode = Mode::Lines;
                break;
            case kOptionRaw:
                settings.mode = Mode::Raw;
                break;
            case kOptionSyslog:
                settings.mode = Mode::Syslog;
                break;
            case kOptionConfirm:
                settings.confirm = true;
                break;
            case 't': {
                std::uint32_t timeout = 0;
                if (!parseUnsigned32(optarg, timeout) || timeout == INFINITE) {
                    usageError(kProgram, "invalid time-out '%s'", optarg);
                }
                settings.timeoutMs = timeout;
                break;
            }
            case 'h':
                exitWithHelp(kProgram, printHelp);
            case kOptionVersion:
                exitWithVersion(kProgram);
            default:
                usageHint(kProgram);  // getopt has said what is wrong
        }
    }

    const int operands = argc - optind;
    if (settings.confirm && settings.mode != Mode::Syslog) {
        usageError(kProgram, "--confirm goes with --syslog%s", "");
    }
    switch (settings.mode) {
        case Mode::Syslog:
            if (operands > 0)
                usageError(kProgram, "--syslog takes no entry name or text: '%s'", argv[optind]);
            break;
        case Mode::Raw:
            if (operands > 0)
                usageError(kProgram, "--raw takes no entry name or text: '%s'", argv[optind]);
            break;
        case Mode::Lines:
            if (operands > 1)
                usageError(kProgram, "--lines takes no entry text: '%s'", argv[optind + 1]);
            settings.entryName = operands == 1 ? argv[optind] : kDefaultLinesEntryName;
            break;
        case Mode::Single:
            if (operands == 0) usageError(kProgram, "missing ENTRY-NAME%s", "");
            settings.entryName = argv[optind];
            for (int i = optind + 1; i < argc; ++i) {
                if (i > optind + 1) settings.entryText += ' ';
                settings.entryText += argv[i];
            }
            break;
    }
    return settings;
}

class Sender {
  public:
    Sender(CMclMailbox& mailbox, DWORD timeoutMs) : m_mailbox(mailbox), m_timeoutMs(timeoutMs) {}

    bool post(const TraceRecord& record) {
        ++m_recordNumber;
        if (m_mailbox.post(&record, m_timeoutMs)) return true;
        std::fprintf(
            stderr, "quorvane-send: record %lu not posted: no room in the mailbox within %lu ms\n",
            static_cast<unsigned long>(m_recordNumber), static_cast<unsigned long>(m_timeoutMs));
        return false;
    }

  private:
    CMclMailbox& m_mailbox;
    DWORD m_timeoutMs;
    std::uint64_t m_recordNumber = 0;
};

TraceRecord makeRecord(const Settings& settings, const char* entryText) {
    TraceRecord record{};
    setRecordField(record.entryName, settings.entryName.c_str());
    setRecordField(record.entryText, entryText);
    setRecordField(record.originName, settings.origin.c_str());
    // Precise time and this run's own numbering, as the client library stamps its records.
    static std::uint32_t sequence = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    record.timestamp = now.tv_sec;
    record.nanoseconds = static_cast<std::uint32_t>(now.tv_nsec);
    record.sequence = ++sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    record.depthDelta = settings.delta;
    record.senderKey = settings.senderKey;
    return record;
}

int sendLines(const Settings& settings, Sender& sender) {
    LineReader reader(STDIN_FILENO, kMaxLinesLineLength, nullptr);
    std::string_view line;
    std::uint64_t cut = 0;
    std::uint64_t skippedBytes = 0;
    int status = EXIT_SUCCESS;
    while (reader.next(line)) {
        if (reader.skipped() > 0) {
            ++cut;
            skippedBytes += reader.skipped();
        }
        if (!sender.post(makeRecord(settings, line.data()))) {
            status = kExitFailure;
            break;
        }
    }
    if (cut > 0) {
        std::fprintf(stderr,
                     "quorvane-send: %llu lines longer than %zu bytes cut (%llu bytes skipped)\n",
                     static_cast<unsigned long long>(cut), kMaxLinesLineLength,
                     static_cast<unsigned long long>(skippedBytes));
    }
    if (reader.error() != 0) {
        std::fprintf(stderr, "quorvane-send: error reading standard input: %s\n",
                     std::strerror(reader.error()));
        return kExitFailure;
    }
    return status;
}

int sendRaw(Sender& sender) {
    TraceRecord record;
    for (;;) {
        const std::size_t got = std::fread(&record, 1, sizeof record, stdin);
        if (got == sizeof record) {
            if (!sender.post(record)) return kExitFailure;
            continue;
        }
        if (std::ferror(stdin)) {
            std::fprintf(stderr, "quorvane-send: error reading standard input: %s\n",
                         std::strerror(errno));
            return kExitFailure;
        }
        if (got != 0) {
            std::fprintf(stderr,
                         "quorvane-send: standard input ends inside a record (%zu of %u bytes)\n",
                         got, kTraceRecordSize);
            return kExitFailure;
        }
        return EXIT_SUCCESS;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parseArguments(argc, argv);

    // Without a time-out, waits out a stopped holder of the mailbox's guard until interrupted.
    const std::unique_ptr<CMclMailbox> mailbox =
        openTraceMailbox(kProgram, settings.timeoutMs, nullptr);
    if (mailbox == nullptr) return kExitFailure;

    Sender sender(*mailbox, settings.timeoutMs);
    switch (settings.mode) {
        case Mode::Raw:
            return sendRaw(sender);
        case Mode::Lines:
            return sendLines(settings, sender);
        case Mode::Syslog:
            return sendSyslog(*mailbox, settings.timeoutMs, settings.confirm);
        case Mode::Single:
            break;
    }
    return sender.post(makeRecord(settings, settings.entryText.c_str())) ? EXIT_SUCCESS
                                                                         : kExitFailure;
}
