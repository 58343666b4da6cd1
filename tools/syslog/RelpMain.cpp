// quorvane-relp: receives traces over RELP (librelp), TLS with certificate authentication unless
// asked for plain, and posts each into the mailbox before the sender is told it arrived: librelp
// answers a message once the reception callback returns, so the callback returns only once the
// record is in the mailbox, which happens only while a reader (the viewer, quorvane-tail) runs.

#include <getopt.h>
#include <pthread.h>
#include <signal.h>
// librelp.h uses size_t without declaring it, and declares C functions without saying so.
#include <stddef.h>
extern "C" {
#include <librelp.h>
}

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quorvane/Tracer.h"
#include "records/TraceRecord.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/OpenMailbox.h"
#include "tools/common/StopRequest.h"
#include "tools/common/ToolCommandLine.h"
#include "tools/syslog/SenderOrder.h"
#include "tools/syslog/SendSyslog.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/CMclMailbox.h"

namespace {

constexpr const char* kProgram = "quorvane-relp";
constexpr int kExitFailure = 1;
constexpr const char* kDefaultPort = "2514";
constexpr std::uint32_t kDefaultGapWaitSeconds = 5;
// How often the gaps are looked at and a stop request is passed to the engine.
constexpr auto kHousekeepingPause = std::chrono::milliseconds(100);
// One wait for room in the mailbox; between two, a stop request is seen.
constexpr DWORD kPostSliceMs = 200;
constexpr auto kReaderPollPause = std::chrono::milliseconds(50);
constexpr std::uint32_t kReaderProbeIntervalMs = 100;

enum LongOnlyOption {
    kOptionCa = 256,
    kOptionCert,
    kOptionKey,
    kOptionPermit,
    kOptionAuthMode,
    kOptionPlain,
    kOptionState,
    kOptionGapWait,
    kOptionVersion
};

void printHelp() {
    std::printf(
        "Usage: quorvane-relp [OPTION]... --ca=FILE --cert=FILE --key=FILE\n"
        "                     --permit=PEER...\n"
        "  or:  quorvane-relp [OPTION]... --plain\n"
        "Receive traces over RELP from the rsyslog of traced machines and post them\n"
        "into the Quorvane mailbox.\n"
        "\n"
        "  -a, --address=ADDR      listen on ADDR only (default: every address)\n"
        "  -p, --port=PORT         listen on PORT (default: %s)\n"
        "      --ca=FILE           the authority that signed the senders' certificates\n"
        "      --cert=FILE         this machine's certificate\n"
        "      --key=FILE          this machine's private key\n"
        "      --permit=PEER       a sender allowed in: its certificate's name (a '*.'\n"
        "                            prefix matches any first label) or, with\n"
        "                            --auth-mode=fingerprint, its SHA1:XX:XX...\n"
        "                            fingerprint; may be given again\n"
        "      --auth-mode=MODE    name (default) or fingerprint\n"
        "      --plain             receive without TLS: anyone who reaches the port\n"
        "                            can post\n"
        "      --state=DIR         where the order of each sender and the traces that\n"
        "                            came early are kept across restarts (default:\n"
        "                            $XDG_STATE_HOME/quorvane/relp)\n"
        "      --gap-wait=SECONDS  how long traces that came early wait for the ones\n"
        "                            before them (default: %u)\n"
        "  -h, --help              display this help and exit\n"
        "      --version           output version information and exit\n"
        "\n"
        "Each message is answered only once its record is in the mailbox, and records\n"
        "are posted only while a reader (the viewer, quorvane-tail, quorvane-forward)\n"
        "holds the mailbox's presence: until then the senders keep their traces in\n"
        "their queues. A trace of quorvane-forward is posted once, in the order of its\n"
        "forwarder's line numbers: one sent again is skipped, one that came early is\n"
        "kept (on disk too) until the ones before it came, or until they have been\n"
        "missing for the gap wait; the gap is then said on standard error. Other\n"
        "messages are posted as they come, as quorvane-send --syslog would.\n"
        "\n"
        "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
        "QuorvaneTraceMailbox).\n"
        "\n"
        "Exit status: 0 after a stop request (SIGINT, SIGTERM), 1 when the mailbox, the\n"
        "state or the listener could not be set up, 2 for a usage error.\n",
        kDefaultPort, kDefaultGapWaitSeconds);
}

struct Settings {
    std::string address;
    std::string port = kDefaultPort;
    std::string ca;
    std::string cert;
    std::string key;
    std::vector<std::string> permitted;
    std::string authMode = "name";
    bool plain = false;
    std::string state;
    std::uint32_t gapWaitSeconds = kDefaultGapWaitSeconds;
};

std::string defaultStateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && *state == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.local/state";
    } else {
        return std::string();
    }
    return base + "/quorvane/relp";
}

Settings parseArguments(int argc, char** argv) {
    static const option kOptions[] = {
        {"address", required_argument, nullptr, 'a'},
        {"port", required_argument, nullptr, 'p'},
        {"ca", required_argument, nullptr, kOptionCa},
        {"cert", required_argument, nullptr, kOptionCert},
        {"key", required_argument, nullptr, kOptionKey},
        {"permit", required_argument, nullptr, kOptionPermit},
        {"auth-mode", required_argument, nullptr, kOptionAuthMode},
        {"plain", no_argument, nullptr, kOptionPlain},
        {"state", required_argument, nullptr, kOptionState},
        {"gap-wait", required_argument, nullptr, kOptionGapWait},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    Settings settings;
    for (;;) {
        const int option = getopt_long(argc, argv, "a:p:h", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 'a': settings.address = optarg; break;
            case 'p': settings.port = optarg; break;
            case kOptionCa: settings.ca = optarg; break;
            case kOptionCert: settings.cert = optarg; break;
            case kOptionKey: settings.key = optarg; break;
            case kOptionPermit: settings.permitted.emplace_back(optarg); break;
            case kOptionAuthMode:
                settings.authMode = optarg;
                if (settings.authMode != "name" && settings.authMode != "fingerprint") {
                    usageError(kProgram, "unknown --auth-mode '%s'", optarg);
                }
                break;
            case kOptionPlain: settings.plain = true; break;
            case kOptionState: settings.state = optarg; break;
            case kOptionGapWait:
                if (!parseUnsigned32(optarg, settings.gapWaitSeconds)) {
                    usageError(kProgram, "invalid --gap-wait '%s'", optarg);
                }
                break;
            case 'h': exitWithHelp(kProgram, printHelp);
            case kOptionVersion: exitWithVersion(kProgram);
            default: usageHint(kProgram);
        }
    }
    if (optind < argc) usageError(kProgram, "unexpected argument '%s'", argv[optind]);
    if (settings.plain) {
        if (!settings.ca.empty() || !settings.cert.empty() || !settings.key.empty() ||
            !settings.permitted.empty()) {
            usageError(kProgram, "%s", "--plain takes no certificates and no --permit");
        }
    } else if (settings.ca.empty() || settings.cert.empty() || settings.key.empty()) {
        usageError(kProgram, "%s",
                   "TLS needs --ca, --cert and --key (--plain receives without TLS)");
    } else if (settings.permitted.empty()) {
        usageError(kProgram, "%s", "TLS needs at least one --permit naming who may send");
    }
    if (settings.state.empty()) settings.state = defaultStateDirectory();
    if (settings.state.empty()) {
        usageError(kProgram, "%s", "no --state given, and neither XDG_STATE_HOME nor HOME is set");
    }
    return settings;
}

// What the reception callback works with. The engine calls it on its one thread; the
// housekeeping thread shares the order and the mailbox under `lock`.
struct Receiver {
    CMclMailbox* mailbox = nullptr;
    quorvane::Tracer* presence = nullptr;
    std::unique_ptr<SenderOrder> order;
    std::mutex lock;
    std::uint64_t posted = 0;
    std::uint64_t repeats = 0;
    std::uint64_t early = 0;
    std::uint64_t malformed = 0;
    bool toldWaiting = false;

    // Waits for a reader and for room; false once a stop is requested first.
    bool post(const TraceRecord& record) {
        while (!stopRequested()) {
            if (!presence->viewerRunning()) {
                if (!toldWaiting) {
                    std::fprintf(stderr, "quorvane-relp: no reader runs; the senders keep their "
                                         "traces until one does\n");
                    toldWaiting = true;
                }
                std::this_thread::sleep_for(kReaderPollPause);
                continue;
            }
            toldWaiting = false;
            if (mailbox->post(&record, kPostSliceMs)) {
                ++posted;
                return true;
            }
        }
        return false;
    }

    void sayCounts() const {
        std::fprintf(stderr,
                     "quorvane-relp: %llu posted, %llu repeats skipped, %llu came early, %llu "
                     "malformed, %zu still held\n",
                     static_cast<unsigned long long>(posted),
                     static_cast<unsigned long long>(repeats),
                     static_cast<unsigned long long>(early),
                     static_cast<unsigned long long>(malformed), order ? order->heldCount() : 0);
    }
};

Receiver g_receiver;

// A forwarder's line number: 1 or more, decimal digits only.
bool parseLineNumber(std::string_view text, std::uint64_t& value) {
    constexpr std::size_t kMaxDigits = 19;
    if (text.empty() || text.size() > kMaxDigits) return false;
    value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return value > 0;
}

// Ends the process without answering the message at hand: its sender keeps it and sends it
// again. What is held is in the journal already.
[[noreturn]] void endUnanswered() {
    g_receiver.sayCounts();
    std::fflush(stderr);
    std::_Exit(EXIT_SUCCESS);
}

relpRetVal onMessage(void* /*user*/, unsigned char* /*hostName*/, unsigned char* /*address*/,
                     unsigned char* data, size_t length) {
    std::string_view line(reinterpret_cast<const char*>(data), length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() > kMaxSyslogLineLength) line = line.substr(0, kMaxSyslogLineLength);
    const std::lock_guard<std::mutex> guard(g_receiver.lock);
    SyslogMessage message;
    TraceRecord record{};
    const char* error = parseSyslogMessage(line, message);
    if (error == nullptr) error = recordFromMessage(message, std::time(nullptr), record);
    if (error != nullptr) {
        // Sending it again would not mend it: it is answered and counted.
        ++g_receiver.malformed;
        std::fprintf(stderr, "quorvane-relp: message skipped: %s\n", error);
        return RELP_RET_OK;
    }
    std::string_view run;
    std::string_view lineText;
    std::uint64_t lineNumber = 0;
    const bool numbered =
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "run", run) &&
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", lineText) &&
        parseLineNumber(lineText, lineNumber);
    if (!numbered) {
        if (!g_receiver.post(record)) endUnanswered();
        return RELP_RET_OK;
    }
    switch (g_receiver.order->accept(message.hostName, run, lineNumber, record)) {
        case SenderOrder::Outcome::Stopped: endUnanswered();
        case SenderOrder::Outcome::Repeat: ++g_receiver.repeats; break;
        case SenderOrder::Outcome::Held: ++g_receiver.early; break;
        case SenderOrder::Outcome::Posted: break;
    }
    return RELP_RET_OK;
}

void ignoreDebugOutput(char* /*format*/, ...) {}

void onError(void* /*user*/, char* object, char* message, relpRetVal code) {
    std::fprintf(stderr, "quorvane-relp: %s: %s (librelp error %d)\n", object, message, code);
}

void onGenericError(char* object, char* message, relpRetVal code) {
    onError(nullptr, object, message, code);
}

// Sets up the listener; false, having said why, when librelp refuses.
bool listen(relpEngine_t* engine, const Settings& settings) {
    relpSrv_t* server = nullptr;
    const auto failed = [](const char* what, relpRetVal code) {
        std::fprintf(stderr, "quorvane-relp: %s failed (librelp error %d)\n", what, code);
        return false;
    };
    relpRetVal code = relpEngineListnerConstruct(engine, &server);
    if (code != RELP_RET_OK) return failed("creating the listener", code);
    relpSrvSetLstnPort(server, reinterpret_cast<unsigned char*>(const_cast<char*>(settings.port.c_str())));
    if (!settings.address.empty()) {
        relpSrvSetLstnAddr(server,
                           reinterpret_cast<unsigned char*>(const_cast<char*>(settings.address.c_str())));
    }
    if (!settings.plain) {
        if ((code = relpSrvEnableTLS2(server)) != RELP_RET_OK) return failed("enabling TLS", code);
        if ((code = relpSrvSetCACert(server, const_cast<char*>(settings.ca.c_str()))) != RELP_RET_OK ||
            (code = relpSrvSetOwnCert(server, const_cast<char*>(settings.cert.c_str()))) !=
                RELP_RET_OK ||
            (code = relpSrvSetPrivKey(server, const_cast<char*>(settings.key.c_str()))) !=
                RELP_RET_OK) {
            return failed("setting the certificates", code);
        }
        if ((code = relpSrvSetAuthMode(server, const_cast<char*>(settings.authMode.c_str()))) !=
            RELP_RET_OK) {
            return failed("setting the authentication mode", code);
        }
        for (const std::string& peer : settings.permitted) {
            if ((code = relpSrvAddPermittedPeer(server, const_cast<char*>(peer.c_str()))) !=
                RELP_RET_OK) {
                return failed("permitting a peer", code);
            }
        }
    }
    code = relpEngineListnerConstructFinalize(engine, server);
    if (code != RELP_RET_OK) return failed("listening", code);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parseArguments(argc, argv);
    installStopRequest();
    const std::unique_ptr<CMclMailbox> mailbox = openTraceMailbox(kProgram, INFINITE, stopRequest());
    if (!mailbox) return stopRequested() ? EXIT_SUCCESS : kExitFailure;
    quorvane::TracerOptions presenceOptions;
    presenceOptions.viewerProbeIntervalMs = kReaderProbeIntervalMs;
    quorvane::Tracer presence(presenceOptions);
    g_receiver.mailbox = mailbox.get();
    g_receiver.presence = &presence;
    g_receiver.order = std::make_unique<SenderOrder>(
        [](const TraceRecord& record) { return g_receiver.post(record); });
    std::string error;
    if (!g_receiver.order->open(settings.state, error)) {
        std::fprintf(stderr, "quorvane-relp: %s\n", error.c_str());
        return kExitFailure;
    }

    relpEngine_t* engine = nullptr;
    if (relpEngineConstruct(&engine) != RELP_RET_OK) {
        std::fprintf(stderr, "quorvane-relp: cannot start librelp\n");
        return kExitFailure;
    }
    // librelp calls its debug printer unconditionally; there is nothing to say.
    relpEngineSetDbgprint(engine, ignoreDebugOutput);
    relpEngineSetDnsLookupMode(engine, 0);
    relpEngineSetOnErr(engine, onError);
    relpEngineSetOnGenericErr(engine, onGenericError);
    relpEngineSetOnAuthErr(engine, [](void*, char* peer, char* message, relpRetVal code) {
        std::fprintf(stderr, "quorvane-relp: sender %s refused: %s (librelp error %d)\n", peer,
                     message, code);
    });
    relpEngineSetEnableCmd(engine, reinterpret_cast<unsigned char*>(const_cast<char*>("syslog")),
                           eRelpCmdState_Required);
    relpEngineSetSyslogRcv2(engine, onMessage);
    if (!listen(engine, settings)) {
        relpEngineDestruct(&engine);
        return kExitFailure;
    }
    std::fprintf(stderr, "quorvane-relp: listening on %s:%s%s\n",
                 settings.address.empty() ? "*" : settings.address.c_str(), settings.port.c_str(),
                 settings.plain ? " without TLS" : " with TLS");

    // The stop signals go to this thread, whose epoll_wait they interrupt; librelp then reads the
    // flag the handler set (an int, as sig_atomic_t is here) and ends its loop.
    static_assert(sizeof(std::sig_atomic_t) == sizeof(int));
    relpEngineSetShutdownImmdtPtr(engine,
                                  const_cast<int*>(reinterpret_cast<const volatile int*>(stopRequest())));
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::atomic<bool> running{true};
    std::thread housekeeping([&engine, &running, &settings] {
        const auto gapWait = std::chrono::seconds(settings.gapWaitSeconds);
        while (running.load()) {
            std::this_thread::sleep_for(kHousekeepingPause);
            if (stopRequested()) {
                relpEngineSetStop(engine);
                return;
            }
            const std::lock_guard<std::mutex> guard(g_receiver.lock);
            if (!g_receiver.order->expire(gapWait)) {
                relpEngineSetStop(engine);
                return;
            }
        }
    });
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    relpEngineRun(engine);
    running.store(false);
    housekeeping.join();
    relpEngineDestruct(&engine);
    g_receiver.sayCounts();
    g_receiver.order.reset();
    return EXIT_SUCCESS;
}
