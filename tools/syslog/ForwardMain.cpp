// quorvane-forward: takes the records arriving in the mailbox, as quorvane-tail does, and sends
// each as an RFC 5424 syslog message, so that a syslog daemon carries it to another machine. A
// reader of the mailbox like the tail and the viewer: it names the readers already running and
// holds the presence while no other reader does.

#include <getopt.h>
#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tools/common/DrainLimits.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/OpenMailbox.h"
#include "tools/common/StandardOutput.h"
#include "tools/common/StopRequest.h"
#include "tools/common/ToolCommandLine.h"
#include "tools/common/ToolReader.h"
#include "tools/syslog/SyslogDestination.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/TraceMailbox.h"

namespace {

constexpr const char* kProgram = "quorvane-forward";
constexpr const char* kDefaultSocket = "/dev/log";
constexpr int kExitFailure = 1;
// How quickly a signal or the idle limit is noticed while the mailbox is empty.
constexpr DWORD kReceiveTimeoutMs = 125;
// Pauses between attempts while the destination cannot be reached: short at first, so a
// restarted daemon is found again soon, then no more often than every two seconds.
constexpr long kFirstRetryMs = 100;
constexpr long kLongestRetryMs = 2000;
// Records taken from the mailbox at a time while more are waiting: enough that a flood costs a
// send per batch, not per record.
constexpr std::size_t kBatchRecords = 256;
constexpr std::size_t kBatchBytes = std::size_t{256} * 1024;
// The longest wait at the end for a TCP collector to show it read everything: one that reads
// as it should answers the end of stream within milliseconds.
constexpr int kFinishTimeoutMs = 5000;

enum LongOnlyOption { kOptionIdle = 256, kOptionVersion };

void printHelp() {
    std::printf(
        "Usage: quorvane-forward [OPTION]...\n"
        "Take the trace records arriving in the Quorvane mailbox and send each as one\n"
        "RFC 5424 syslog message, so that a syslog daemon such as rsyslog carries them to\n"
        "the machine where the viewer runs (quorvane-relp or quorvane-send --syslog\n"
        "posts them there).\n"
        "\n"
        "  -s, --socket=PATH     send to the local syslog socket PATH (default: /dev/log)\n"
        "  -T, --tcp=HOST:PORT   send over TCP, each message framed by its length\n"
        "                          (RFC 6587)\n"
        "  -U, --udp=HOST:PORT   send over UDP, a datagram per message\n"
        "  -H, --hostname=NAME   host name in the messages (default: this machine's)\n"
        "  -n, --count=N         exit after sending N records\n"
        "      --idle=MS         exit after MS milliseconds without a record\n"
        "  -h, --help            display this help and exit\n"
        "      --version         output version information and exit\n"
        "\n"
        "Each message has APP-NAME the record's origin, PROCID its sender key, MSGID\n"
        "\"trace\", and the element [quorvane@32473 run=\"RUN\" line=\"N\" depth=\"D\"\n"
        "name=\"NAME\" time=\"SECONDS\"]: this run's name (16 random hex digits), its line\n"
        "number, the depth change, the entry name and the record's time in seconds since\n"
        "1970; the entry text is the message. Bytes that a syslog field may\n"
        "not hold (control bytes, bytes that are not UTF-8, '%%') are written as %%XX.\n"
        "\n"
        "Messages that cannot be sent are kept and sent again once the destination takes\n"
        "them, trying every two seconds at most; meanwhile no further record is taken\n"
        "from the mailbox. A TCP connection not accepted within %d seconds counts as a\n"
        "failure. Over TCP, the records waiting in the mailbox go in batches of up to\n"
        "256, and the batches sent on a connection are kept (the last %zu records at\n"
        "most) until the collector ends the connection in order, which shows it read\n"
        "them: a connection that fails or is reset instead sends them again as a whole on\n"
        "the next one, and says so (quorvane-send --syslog skips what arrives twice). At\n"
        "the end, the connection is shut down and its end awaited for up to %d seconds,\n"
        "sending again while the collector resets it. Runs until interrupted (SIGINT or\n"
        "SIGTERM) unless --count or --idle ends it.\n"
        "\n"
        "A record goes to whichever reader takes it first: quorvane-forward counts as a\n"
        "reader, as quorvane-tail and the viewer do, and one started beside another\n"
        "reader of the mailbox names it on standard error.\n"
        "\n"
        "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
        "QuorvaneTraceMailbox).\n"
        "\n"
        "Exit status: 0 on a normal end, 1 when the mailbox could not be opened or a\n"
        "record taken from it was not sent or, over TCP, not seen to be read (the records\n"
        "are then named on standard error), 2 for a usage error.\n",
        SyslogDestination::kConnectTimeoutMs / 1000, SyslogDestination::kKeptRecords,
        kFinishTimeoutMs / 1000);
}

struct Settings {
    SyslogDestination::Transport transport = SyslogDestination::Transport::LocalSocket;
    std::string address = kDefaultSocket;
    std::string hostName;
    DrainLimits limits;
};

std::string localHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

Settings parseArguments(int argc, char** argv) {
    static const option kOptions[] = {
        {"socket", required_argument, nullptr, 's'},
        {"tcp", required_argument, nullptr, 'T'},
        {"udp", required_argument, nullptr, 'U'},
        {"hostname", required_argument, nullptr, 'H'},
        {"count", required_argument, nullptr, 'n'},
        {"idle", required_argument, nullptr, kOptionIdle},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    Settings settings;
    bool hasHostName = false;
    for (;;) {
        const int option = getopt_long(argc, argv, "s:T:U:H:n:h", kOptions, nullptr);
        if (option == -1) break;
        std::string host;
        std::string port;
        switch (option) {
            case 's':
                settings.transport = SyslogDestination::Transport::LocalSocket;
                settings.address = optarg;
                break;
            case 'T':
            case 'U':
                if (!SyslogDestination::splitHostPort(optarg, host, port)) {
                    usageError(kProgram, "invalid HOST:PORT '%s'", optarg);
                }
                settings.transport = option == 'T' ? SyslogDestination::Transport::Tcp
                                                   : SyslogDestination::Transport::Udp;
                settings.address = optarg;
                break;
            case 'H':
                settings.hostName = optarg;
                hasHostName = true;
                break;
            case 'n':
                settings.limits.setCount(kProgram, optarg);
                break;
            case kOptionIdle:
                settings.limits.setIdle(kProgram, optarg);
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
    if (!hasHostName) settings.hostName = localHostName();
    return settings;
}

// 16 hex digits drawn afresh for each run, so that two runs of a forwarder never share a name.
std::string newRunId() {
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
        bits =
            static_cast<std::uint64_t>(getpid()) << 32 ^ static_cast<std::uint64_t>(time(nullptr));
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

// Sleeps `ms`, or less when a signal arrives.
void pause(long ms) {
    timespec interval{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&interval, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parseArguments(argc, argv);
    installStopRequest();

    std::unique_ptr<CMclMailbox> mailbox = openTraceMailbox(kProgram, INFINITE, stopRequest());
    if (mailbox == nullptr) return kExitFailure;

    ToolReader reader(kProgram);

    SyslogDestination destination(settings.transport, settings.address, stopRequest());
    const std::string where = destination.description();
    const std::string runId = newRunId();
    TraceRecord record{};
    // The records taken from the mailbox and not sent yet, as messages in one buffer.
    std::string batch;
    std::vector<std::size_t> ends;
    std::size_t done = 0;
    std::uint64_t firstLine = 0;  // the line number of the batch's first message
    std::string error;
    std::uint64_t lineNumber = 0;
    std::uint32_t sent = 0;
    bool failing = false;
    long retryMs = kFirstRetryMs;
    const auto idleLimit = std::chrono::milliseconds(settings.limits.idleMs);
    auto lastRecord = std::chrono::steady_clock::now();
    const auto take = [&] {
        appendTraceMessage(batch, record, runId, ++lineNumber, settings.hostName);
        ends.push_back(batch.size());
    };
    const auto sayResent = [&] {
        if (const std::size_t resent = destination.takeResent()) {
            std::fprintf(stderr,
                         "%s: %s: the connection ended before the collector read what was sent; "
                         "the last %zu records sent went again\n",
                         kProgram, where.c_str(), resent);
        }
    };
    const auto room = [&] {
        return ends.size() < kBatchRecords && batch.size() < kBatchBytes &&
               !(settings.limits.hasCount && sent + ends.size() >= settings.limits.count);
    };

    while (!stopRequested() && !(settings.limits.hasCount && sent >= settings.limits.count)) {
        reader.keepPresence();
        if (done == ends.size()) {
            batch.clear();
            ends.clear();
            done = 0;
            if (!mailbox->receive(&record, kReceiveTimeoutMs)) {
                if (settings.limits.hasIdle &&
                    std::chrono::steady_clock::now() - lastRecord >= idleLimit)
                    break;
                continue;
            }
            lastRecord = std::chrono::steady_clock::now();
            firstLine = lineNumber + 1;
            take();
            // What else is waiting goes along, so a flood costs one send per batch.
            while (room() && mailbox->receive(&record, 0)) take();
        }
        const std::size_t before = done;
        const SyslogDestination::Outcome outcome = destination.send(batch, ends, done, error);
        sent += static_cast<std::uint32_t>(done - before);
        switch (outcome) {
            case SyslogDestination::Outcome::Sent:
                if (failing)
                    std::fprintf(stderr, "%s: %s: sending again\n", kProgram, where.c_str());
                failing = false;
                sayResent();
                retryMs = kFirstRetryMs;
                break;
            case SyslogDestination::Outcome::Unsendable:
                --sent;
                std::fprintf(stderr, "%s: %s: record %llu dropped: %s\n", kProgram, where.c_str(),
                             static_cast<unsigned long long>(firstLine) + done - 1, error.c_str());
                break;
            case SyslogDestination::Outcome::Failed:
                // A stop cuts a send short: the end says what was not sent.
                if (!failing && !stopRequested()) {
                    std::fprintf(stderr, "%s: %s: %s; trying again until it works\n", kProgram,
                                 where.c_str(), error.c_str());
                }
                failing = true;
                if (!stopRequested()) pause(retryMs);
                retryMs = std::min(retryMs * 2, kLongestRetryMs);
                break;
        }
    }

    mailbox.reset();
    reader.leave();
    int status = EXIT_SUCCESS;
    if (done < ends.size()) {
        std::fprintf(stderr,
                     "%s: %s: records %llu to %llu, taken from the mailbox, were not sent\n",
                     kProgram, where.c_str(), static_cast<unsigned long long>(firstLine) + done,
                     static_cast<unsigned long long>(firstLine) + ends.size() - 1);
        status = kExitFailure;
    }
    const bool confirmed = destination.finish(kFinishTimeoutMs, error);
    sayResent();
    if (!confirmed) {
        // What is kept is the last records sent, up to the last one of the batch sent.
        const unsigned long long lastSent = firstLine + done - 1;
        std::fprintf(stderr, "%s: %s: records %llu to %llu were sent but may be lost: %s\n",
                     kProgram, where.c_str(), lastSent + 1 - destination.unconfirmed(), lastSent,
                     error.c_str());
        status = kExitFailure;
    }
    return status;
}
