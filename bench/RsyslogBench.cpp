// Traces from three machines over RELP, records per second into the collector, with TLS and
// without, beside rsyslog's own imrelp writing the same messages to a file in the same run, and
// beside the hand-off the collector's rsyslog had before quorvane-relp (imrelp, then omprog
// passing each message to quorvane-send --syslog --confirm). First the collector's own pace:
// three librelp clients, as omrelp uses it, send straight to it. Then end to end: three traced
// machines' rsyslogd (configured from deploy/rsyslog/) forward to it.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
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
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/RecordMix.h"
#include "bench/RsyslogDaemons.h"
#include "bench/TempDirectory.h"
#include "quorvane/Names.h"
#include "records/RecordFields.h"
#include "tests/support/RsyslogRig.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::Certificates;
using quorvane::test::connectTo;
using quorvane::test::rsyslogd;
using Clock = std::chrono::steady_clock;
using Collector = RsyslogDaemons::Collector;

constexpr std::uint64_t kDefaultRecordCount = 30'000;
constexpr int kDefaultRounds = 3;
constexpr double kTargetRatio = 0.5;
constexpr std::uint32_t kMixSeed = 12;
constexpr auto kDeliveryLimit = std::chrono::seconds(120);
constexpr auto kPollPause = std::chrono::milliseconds(5);
constexpr DWORD kReceiveSliceMs = 100;
constexpr int kSequenceDigits = 9;
constexpr int kMachines = RsyslogDaemons::kMachines;

// The mix with its sequence number written over the start of each entry text.
std::vector<TraceRecord> numberedRecords(std::uint64_t count) {
    std::vector<TraceRecord> records = makeRecordMix(count, kMixSeed);
    for (std::uint64_t i = 0; i < count; ++i) {
        // Nine digits and a space over the start of the text, which is at least 20 bytes long.
        char digits[24];
        std::snprintf(digits, sizeof digits, "%0*llu ", kSequenceDigits,
                      static_cast<unsigned long long>(i % 1'000'000'000));
        std::memcpy(records[i].entryText, digits, kSequenceDigits + 1);
    }
    return records;
}

// Each machine's messages as quorvane-forward writes them to its rsyslogd: octet-counted frames.
std::vector<std::string> machineFrames(const std::vector<TraceRecord>& records) {
    std::vector<std::string> frames(kMachines);
    std::string message;
    for (int machine = 0; machine < kMachines; ++machine) {
        const std::string run = "000000000000000" + std::to_string(machine + 1);
        for (std::size_t i = 0; i < records.size(); ++i) {
            message.clear();
            appendTraceMessage(message, records[i], run, i + 1,
                               RsyslogDaemons::machineName(machine));
            frames[machine] += std::to_string(message.size()) + " " + message;
        }
    }
    return frames;
}

// Each machine's messages, one a string, as omrelp passes them on.
std::vector<std::vector<std::string>> machineMessages(const std::vector<TraceRecord>& records) {
    std::vector<std::vector<std::string>> messages(kMachines);
    for (int machine = 0; machine < kMachines; ++machine) {
        const std::string run = "000000000000000" + std::to_string(machine + 1);
        for (std::size_t i = 0; i < records.size(); ++i) {
            std::string& message = messages[static_cast<std::size_t>(machine)].emplace_back();
            appendTraceMessage(message, records[i], run, i + 1,
                               RsyslogDaemons::machineName(machine));
        }
    }
    return messages;
}

void ignoreDebugOutput(char* /*format*/, ...) {}

// One machine's RELP client: an engine and a client of librelp's, as omrelp sets them up, that
// sends `messages` to the collector and closes the session once each was answered.
void sendOverRelp(std::uint16_t port, const Certificates* tls, const std::string& machine,
                  const std::vector<std::string>& messages, std::atomic<int>& failures) {
    constexpr int kWindow = 1024;
    relpEngine_t* engine = nullptr;
    relpClt_t* client = nullptr;
    const auto text = [](const std::string& value) { return const_cast<char*>(value.c_str()); };
    std::string portText = std::to_string(port);
    std::string host = "127.0.0.1";
    std::string syslog = "syslog";
    std::string name = "name";
    std::string collector = quorvane::test::kCollectorName;
    std::string ca = tls != nullptr ? tls->ca() : std::string();
    std::string cert = tls != nullptr ? tls->cert(machine) : std::string();
    std::string key = tls != nullptr ? tls->key(machine) : std::string();
    bool ok = relpEngineConstruct(&engine) == RELP_RET_OK &&
              relpEngineSetDbgprint(engine, ignoreDebugOutput) == RELP_RET_OK &&
              relpEngineSetEnableCmd(engine, reinterpret_cast<unsigned char*>(text(syslog)),
                                     eRelpCmdState_Required) == RELP_RET_OK &&
              relpEngineCltConstruct(engine, &client) == RELP_RET_OK &&
              relpCltSetWindowSize(client, kWindow) == RELP_RET_OK;
    if (ok && tls != nullptr) {
        ok = relpCltEnableTLS(client) == RELP_RET_OK &&
             relpCltSetCACert(client, text(ca)) == RELP_RET_OK &&
             relpCltSetOwnCert(client, text(cert)) == RELP_RET_OK &&
             relpCltSetPrivKey(client, text(key)) == RELP_RET_OK &&
             relpCltSetAuthMode(client, text(name)) == RELP_RET_OK &&
             relpCltAddPermittedPeer(client, text(collector)) == RELP_RET_OK;
    }
    ok = ok && relpCltConnect(client, AF_INET, reinterpret_cast<unsigned char*>(text(portText)),
                              reinterpret_cast<unsigned char*>(text(host))) == RELP_RET_OK;
    for (std::size_t i = 0; ok && i < messages.size(); ++i) {
        ok = relpCltSendSyslog(client,
                               reinterpret_cast<unsigned char*>(text(messages[i])),
                               messages[i].size()) == RELP_RET_OK;
    }
    if (!ok) ++failures;
    if (client != nullptr) relpEngineCltDestruct(engine, &client);
    if (engine != nullptr) relpEngineDestruct(&engine);
}

// Writes each machine's frames into its rsyslogd's TCP input, a thread a machine.
class Senders {
  public:
    Senders(const RsyslogDaemons& daemons, const std::vector<std::string>& frames) {
        for (int machine = 0; machine < kMachines; ++machine) {
            const int fd = connectTo(daemons.inputPort(machine));
            m_threads.emplace_back([fd, &frames, machine] {
                std::string_view left = frames[static_cast<std::size_t>(machine)];
                while (fd >= 0 && !left.empty()) {
                    const ssize_t sent = ::send(fd, left.data(), left.size(), MSG_NOSIGNAL);
                    if (sent <= 0) break;
                    left.remove_prefix(static_cast<std::size_t>(sent));
                }
                if (fd >= 0) ::close(fd);
            });
        }
    }
    Senders(const Senders&) = delete;
    Senders& operator=(const Senders&) = delete;
    ~Senders() {
        for (std::thread& thread : m_threads) thread.join();
    }

  private:
    std::vector<std::thread> m_threads;
};

// Records of each machine that arrived in the mailbox, checked for order as they come.
struct Arrivals {
    std::map<std::string, std::uint64_t> next;
    std::uint64_t received = 0;
    std::uint64_t wrong = 0;

    void note(const TraceRecord& record) {
        const std::string origin(recordFieldText(record.originName));
        const std::string machine = origin.substr(0, origin.find('/'));
        const std::uint64_t sequence = std::strtoull(record.entryText, nullptr, 10);
        std::uint64_t& expected = next[machine];
        if (sequence != expected) ++wrong;
        expected = sequence + 1;
        ++received;
    }
};

struct Round {
    TempDirectory& directory;
    const Certificates& tls;
    const std::vector<std::string>& frames;
    const std::vector<std::vector<std::string>>& messages;
    std::uint64_t perMachine;
    int index;
    // Whether librelp clients send straight to the collector, not the machines' rsyslogd.
    bool direct;
};

// Sends every machine's messages the round's way, on threads of their own, until destroyed.
class RoundSenders {
  public:
    RoundSenders(const Round& round, const RsyslogDaemons& daemons, bool useTls) {
        if (!round.direct) {
            m_senders = std::make_unique<Senders>(daemons, round.frames);
            return;
        }
        for (int machine = 0; machine < kMachines; ++machine) {
            m_clients.emplace_back([&round, &daemons, useTls, machine, this] {
                sendOverRelp(daemons.collectorPort(), useTls ? &round.tls : nullptr,
                             RsyslogDaemons::machineName(machine),
                             round.messages[static_cast<std::size_t>(machine)], m_failures);
            });
        }
    }
    RoundSenders(const RoundSenders&) = delete;
    RoundSenders& operator=(const RoundSenders&) = delete;
    ~RoundSenders() {
        for (std::thread& client : m_clients) client.join();
    }

  private:
    std::unique_ptr<Senders> m_senders;
    std::vector<std::thread> m_clients;
    std::atomic<int> m_failures{0};
};

// Records a second from the first byte sent until every record is in the mailbox; negative, with
// the reason in `failure`, when the run is void.
double intoMailbox(const Round& round, bool useTls, Collector collector, std::string& failure) {
    const std::string tag = std::string(collector == Collector::QuorvaneRelp ? "relp" : "omprog") +
                            (useTls ? "-tls" : "-plain") + (round.direct ? "-direct" : "") +
                            std::to_string(round.index) + "-";
    const std::string mailboxName = "bench-relp-" + std::to_string(::getpid()) + "-" + tag;
    CMclMailbox mailbox(quorvane::kMailSlots, kTraceRecordSize, mailboxName.c_str());
    RsyslogDaemons daemons(round.directory.path(), tag, round.tls, useTls, collector, mailboxName);
    if (!daemons.start(failure, !round.direct)) return -1.0;
    const std::uint64_t total = round.perMachine * kMachines;
    Arrivals arrivals;
    TraceRecord record{};
    const auto start = Clock::now();
    {
        const RoundSenders senders(round, daemons, useTls);
        const auto deadline = start + kDeliveryLimit;
        while (arrivals.received < total && Clock::now() < deadline) {
            if (mailbox.receive(&record, kReceiveSliceMs)) arrivals.note(record);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (arrivals.received != total || arrivals.wrong != 0) {
        failure = std::to_string(arrivals.received) + " of " + std::to_string(total) +
                  " arrived, " + std::to_string(arrivals.wrong) + " out of their order";
        return -1.0;
    }
    return static_cast<double>(total) / seconds;
}

std::uint64_t countLines(const std::string& path, std::uint64_t& offset, std::uint64_t lines) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        const auto got = static_cast<std::size_t>(file.gcount());
        for (std::size_t i = 0; i < got; ++i) lines += chunk[i] == '\n' ? 1 : 0;
        offset += got;
    }
    return lines;
}

// The peer: the collector's rsyslogd writes the same messages to a file.
double intoFile(const Round& round, bool useTls, std::string& failure) {
    const std::string tag = std::string("file") + (useTls ? "-tls" : "-plain") +
                            (round.direct ? "-direct" : "") + std::to_string(round.index) + "-";
    RsyslogDaemons daemons(round.directory.path(), tag, round.tls, useTls, Collector::RsyslogFile,
                           std::string());
    if (!daemons.start(failure, !round.direct)) return -1.0;
    const std::uint64_t total = round.perMachine * kMachines;
    std::uint64_t offset = 0;
    std::uint64_t lines = 0;
    const auto start = Clock::now();
    {
        const RoundSenders senders(round, daemons, useTls);
        const auto deadline = start + kDeliveryLimit;
        while (lines < total && Clock::now() < deadline) {
            lines = countLines(daemons.outputFile(), offset, lines);
            if (lines < total) std::this_thread::sleep_for(kPollPause);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (lines != total) {
        failure = std::to_string(lines) + " of " + std::to_string(total) + " lines written";
        return -1.0;
    }
    return static_cast<double>(total) / seconds;
}

void addOrNote(BenchReport& report, Samples& samples, double value, const std::string& what,
               int round, const std::string& failure) {
    if (value > 0) {
        samples.add(value);
    } else {
        report.note("round " + std::to_string(round + 1) + ", " + what + " void: " + failure);
    }
}

}  // namespace

int main(int argc, char** argv) {
    BenchReport report(argc, argv);
    if (rsyslogd().empty()) {
        std::fprintf(stderr, "rsyslogd not found (Debian: rsyslog, rsyslog-relp)\n");
        return 1;
    }
    const std::uint64_t perMachine =
        environmentNumber("QUORVANE_BENCH_RSYSLOG_RECORDS", kDefaultRecordCount);
    const int rounds = benchRounds(kDefaultRounds);
    TempDirectory directory;
    if (!directory.valid()) return 1;
    // A name space of its own, where this benchmark holds the viewer's presence mutex.
    const std::string space = directory.file("namespace");
    ::mkdir(space.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", space.c_str(), 1);
    CMutexSimple presence;
    if (!presence.getMutex(quorvane::kPresenceMutexName)) return 1;
    Certificates tls;
    const std::string certificates = directory.file("certificates");
    ::mkdir(certificates.c_str(), 0700);
    std::vector<std::string> names = {quorvane::test::kCollectorName};
    for (int machine = 0; machine < kMachines; ++machine) {
        names.push_back(RsyslogDaemons::machineName(machine));
    }
    std::string error;
    if (!tls.make(certificates, names, {}, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    const std::vector<TraceRecord> records = numberedRecords(perMachine);
    const std::vector<std::string> frames = machineFrames(records);
    const std::vector<std::vector<std::string>> messages = machineMessages(records);
    double load[3] = {};
    bool complete = true;
    for (const bool direct : {true, false}) {
        getloadavg(load, 3);
        report.section(std::string(direct ? "RELP clients straight to the collector"
                                          : "End to end through the machines' rsyslogd") +
                       ": 3 machines, " + std::to_string(perMachine) +
                       " records of the mix each, " + std::to_string(rounds) +
                       " rounds, load average " + std::to_string(load[0]).substr(0, 4) +
                       " at start");
        Samples relpTls, fileTls, relpPlain, filePlain, omprogTls;
        for (int round = 0; round < rounds; ++round) {
            const Round run{directory, tls, frames, messages, perMachine, round, direct};
            std::string failure;
            addOrNote(report, relpTls, intoMailbox(run, true, Collector::QuorvaneRelp, failure),
                      "quorvane-relp with TLS", round, failure);
            addOrNote(report, fileTls, intoFile(run, true, failure), "file with TLS", round,
                      failure);
            addOrNote(report, relpPlain, intoMailbox(run, false, Collector::QuorvaneRelp, failure),
                      "quorvane-relp plain", round, failure);
            addOrNote(report, filePlain, intoFile(run, false, failure), "file plain", round,
                      failure);
            addOrNote(report, omprogTls, intoMailbox(run, true, Collector::RsyslogOmprog, failure),
                      "imrelp + omprog with TLS", round, failure);
        }
        report.comparison("records/s into the mailbox, quorvane-relp, TLS", relpTls,
                          "rsyslog imrelp to a file, TLS", fileTls, Unit::PerSecond);
        report.comparison("records/s into the mailbox, quorvane-relp, plain RELP", relpPlain,
                          "rsyslog imrelp to a file, plain RELP", filePlain, Unit::PerSecond);
        report.comparison(
            "records/s into the mailbox, imrelp + omprog quorvane-send --confirm, TLS", omprogTls,
            "rsyslog imrelp to a file, TLS", fileTls, Unit::PerSecond);
        const std::string prefix = direct ? "relp_direct_" : "relp_end_to_end_";
        report.result(resultLine(prefix + "tls_collector", relpTls.median(), fileTls.median(),
                                 kTargetRatio, Better::Higher));
        report.result(resultLine(prefix + "plain_collector", relpPlain.median(),
                                 filePlain.median(), kTargetRatio, Better::Higher));
        complete = complete && !relpTls.empty() && !fileTls.empty() && !relpPlain.empty() &&
                   !filePlain.empty();
    }
    getloadavg(load, 3);
    report.note("load average at the end: " + std::to_string(load[0]).substr(0, 4));
    report.finish();
    return complete ? 0 : 1;
}
