// Traces carried by rsyslog: records per second from a mailbox on "machine A", through
// quorvane-forward, two rsyslog daemons configured from deploy/rsyslog/ and quorvane-send
// --syslog --confirm under omprog, into the mailbox of "machine B"; beside rsyslog's own rate for
// the same messages sent into the same first daemon and written to a file by the second. Then
// what happens to records while the collector is stopped and restarted.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/RecordMix.h"
#include "bench/RsyslogDaemons.h"
#include "bench/TempDirectory.h"
#include "platform/Win32.h"
#include "quorvane/Names.h"
#include "tests/support/RsyslogRig.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::connectTo;
using quorvane::test::Environment;
using quorvane::test::LoggedProcess;
using quorvane::test::readFile;
using quorvane::test::rsyslogd;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kDefaultRecordCount = 50'000;
constexpr int kDefaultRounds = 3;
constexpr double kTargetRatio = 0.5;
constexpr std::uint32_t kMixSeed = 12;
constexpr auto kDeliveryLimit = std::chrono::seconds(120);
constexpr auto kPollPause = std::chrono::milliseconds(5);
constexpr DWORD kReceiveSliceMs = 100;
constexpr DWORD kPostWaitMs = 10000;
// How long the collector stays stopped while machine A goes on tracing.
constexpr auto kCollectorAway = std::chrono::seconds(3);
constexpr int kSequenceDigits = 9;

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

// What machine B's mailbox received, by sequence number.
struct Arrivals {
    std::uint64_t received = 0;
    std::uint64_t repeated = 0;
    std::uint64_t outOfOrder = 0;
    std::uint64_t next = 0;
    std::vector<bool> seen;

    explicit Arrivals(std::uint64_t count) : seen(count, false) {}
    void note(const TraceRecord& record) {
        const std::uint64_t sequence = std::strtoull(record.entryText, nullptr, 10);
        if (sequence >= seen.size()) return;
        ++received;
        if (seen[sequence]) ++repeated;
        if (sequence != next) ++outOfOrder;
        seen[sequence] = true;
        next = sequence + 1;
    }
    std::uint64_t distinct() const {
        std::uint64_t count = 0;
        for (const bool one : seen) count += one ? 1 : 0;
        return count;
    }
};

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

// Posts records [from, to) into mailbox A on a thread of its own.
std::thread postInBackground(CMclMailbox& mailbox, const std::vector<TraceRecord>& records,
                             std::size_t from, std::size_t to) {
    return std::thread([&mailbox, &records, from, to] {
        for (std::size_t i = from; i < to; ++i) mailbox.post(&records[i], kPostWaitMs);
    });
}

// Receives from mailbox B until `until` distinct records arrived or the limit passed.
void receiveUntil(CMclMailbox& mailbox, Arrivals& arrivals, std::uint64_t until) {
    TraceRecord record{};
    const auto deadline = Clock::now() + kDeliveryLimit;
    while (arrivals.received - arrivals.repeated < until && Clock::now() < deadline) {
        if (mailbox.receive(&record, kReceiveSliceMs)) arrivals.note(record);
    }
}

struct Run {
    TempDirectory& directory;
    const std::vector<TraceRecord>& records;
    int index = 0;
};

std::unique_ptr<LoggedProcess> startForwarder(const RsyslogDaemons& daemons,
                                              const std::string& mailboxA, std::size_t count) {
    return std::make_unique<LoggedProcess>(
        std::vector<std::string>{QUORVANE_FORWARD, "--tcp",
                                 "127.0.0.1:" + std::to_string(daemons.relayPort()), "--hostname",
                                 "machine-a", "--count", std::to_string(count)},
        daemons.path("forward.log"), Environment{{"QUORVANE_MAILBOX", mailboxA}});
}

// Ours: mailbox A to mailbox B. Returns records per second, or a negative value on failure.
double oursRate(const Run& run, std::string& failure) {
    const std::string tag = "ours" + std::to_string(run.index) + "-";
    const std::string nameA = "bench-a-" + std::to_string(::getpid()) + "-" + tag;
    const std::string nameB = "bench-b-" + std::to_string(::getpid()) + "-" + tag;
    CMclMailbox mailboxA(quorvane::kMailSlots, kTraceRecordSize, nameA.c_str());
    CMclMailbox mailboxB(quorvane::kMailSlots, kTraceRecordSize, nameB.c_str());
    RsyslogDaemons daemons(run.directory, tag, nameB, false);
    if (!daemons.startCollector() || !daemons.startRelay()) {
        failure = "rsyslogd did not start: " + readFile(daemons.path("collector.log")) +
                  readFile(daemons.path("relay.log"));
        return -1.0;
    }
    const std::unique_ptr<LoggedProcess> forwarder =
        startForwarder(daemons, nameA, run.records.size());
    Arrivals arrivals(run.records.size());
    const auto start = Clock::now();
    std::thread poster = postInBackground(mailboxA, run.records, 0, run.records.size());
    receiveUntil(mailboxB, arrivals, run.records.size());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    poster.join();
    if (arrivals.distinct() != run.records.size() || arrivals.repeated != 0 ||
        arrivals.outOfOrder != 0) {
        failure = std::to_string(arrivals.distinct()) + " of " +
                  std::to_string(run.records.size()) + " arrived, " +
                  std::to_string(arrivals.repeated) + " twice, " +
                  std::to_string(arrivals.outOfOrder) + " out of order";
        return -1.0;
    }
    return static_cast<double>(run.records.size()) / seconds;
}

// The peer: the same messages sent straight into the relay, written to a file by the collector.
double peerRate(const Run& run, const std::string& frames, std::string& failure) {
    const std::string tag = "peer" + std::to_string(run.index) + "-";
    RsyslogDaemons daemons(run.directory, tag, std::string(), true);
    if (!daemons.startCollector() || !daemons.startRelay()) {
        failure = "rsyslogd did not start";
        return -1.0;
    }
    const int fd = connectTo(daemons.relayPort());
    if (fd < 0) {
        failure = "cannot connect to the relay";
        return -1.0;
    }
    const auto start = Clock::now();
    std::thread sender([fd, &frames] {
        std::string_view left = frames;
        while (!left.empty()) {
            const ssize_t sent = ::send(fd, left.data(), left.size(), MSG_NOSIGNAL);
            if (sent <= 0) break;
            left.remove_prefix(static_cast<std::size_t>(sent));
        }
    });
    std::uint64_t offset = 0;
    std::uint64_t lines = 0;
    const auto deadline = start + kDeliveryLimit;
    while (lines < run.records.size() && Clock::now() < deadline) {
        lines = countLines(daemons.outputFile(), offset, lines);
        if (lines < run.records.size()) std::this_thread::sleep_for(kPollPause);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sender.join();
    ::close(fd);
    if (lines != run.records.size()) {
        failure =
            std::to_string(lines) + " of " + std::to_string(run.records.size()) + " lines written";
        return -1.0;
    }
    return static_cast<double>(run.records.size()) / seconds;
}

// The collector is stopped after the first third has arrived, stays away while the second third
// is posted and forwarded, and comes back for the last third.
void collectorDown(BenchReport& report, TempDirectory& directory,
                   const std::vector<TraceRecord>& records) {
    const std::string nameA = "bench-a-" + std::to_string(::getpid()) + "-down";
    const std::string nameB = "bench-b-" + std::to_string(::getpid()) + "-down";
    CMclMailbox mailboxA(quorvane::kMailSlots, kTraceRecordSize, nameA.c_str());
    CMclMailbox mailboxB(quorvane::kMailSlots, kTraceRecordSize, nameB.c_str());
    RsyslogDaemons daemons(directory, "down-", nameB, false);
    if (!daemons.startCollector() || !daemons.startRelay()) {
        report.note("collector down: rsyslogd did not start");
        return;
    }
    const std::size_t third = records.size() / 3;
    const std::unique_ptr<LoggedProcess> forwarder = startForwarder(daemons, nameA, records.size());
    Arrivals arrivals(records.size());
    std::thread poster = postInBackground(mailboxA, records, 0, third);
    receiveUntil(mailboxB, arrivals, third);
    poster.join();
    const int collectorStatus = daemons.stopCollector();

    poster = postInBackground(mailboxA, records, third, 2 * third);
    poster.join();
    std::this_thread::sleep_for(kCollectorAway);
    const std::uint64_t arrivedWhileDown = arrivals.received;
    TraceRecord record{};
    while (mailboxB.receive(&record, 0)) arrivals.note(record);
    const std::uint64_t beforeRestart = arrivals.received;

    const auto restart = Clock::now();
    if (!daemons.startCollector()) {
        report.note("collector down: the collector did not start again");
        return;
    }
    poster = postInBackground(mailboxA, records, 2 * third, records.size());
    receiveUntil(mailboxB, arrivals, records.size());
    const double catchUp = std::chrono::duration<double>(Clock::now() - restart).count();
    poster.join();
    daemons.stopAll();
    forwarder->stop();

    const std::uint64_t lost = records.size() - arrivals.distinct();
    const std::string sendLog = readFile(daemons.sendLog());
    // Each run of quorvane-send says on its way out how many repeats it skipped.
    std::uint64_t skipped = 0;
    for (std::size_t at = sendLog.find(" repeated traces skipped"); at != std::string::npos;
         at = sendLog.find(" repeated traces skipped", at + 1)) {
        const std::size_t start = sendLog.rfind(' ', at - 1) + 1;
        skipped += std::strtoull(sendLog.c_str() + start, nullptr, 10);
    }
    report.note(
        "collector down: " + std::to_string(records.size()) + " records, collector " +
        "stopped (exit " + std::to_string(collectorStatus) + ") after the first " +
        std::to_string(third) + " arrived, away " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kCollectorAway).count()) +
        " s while " + std::to_string(third) + " more were posted and forwarded");
    report.note(
        "collector down: arrived while it was down: " + std::to_string(beforeRestart - third) +
        " (" + std::to_string(arrivedWhileDown - third) + " before the pause ended)");
    report.note("collector down: from the restart to the last arrival " +
                std::to_string(catchUp).substr(0, 5) +
                " s: " + std::to_string(arrivals.distinct()) + " of " +
                std::to_string(records.size()) + " arrived, " + std::to_string(lost) + " lost, " +
                std::to_string(arrivals.repeated) + " twice in the mailbox, " +
                std::to_string(arrivals.outOfOrder) + " out of order; quorvane-send skipped " +
                std::to_string(skipped) + " repeats the relay passed again");
    report.result(resultLine("rsyslog_collector_down_lost_records", static_cast<double>(lost), 0.0,
                             Better::Lower));
}

}  // namespace

int main(int argc, char** argv) {
    BenchReport report(argc, argv);
    if (rsyslogd().empty()) {
        std::fprintf(stderr, "rsyslogd not found (Debian: rsyslog)\n");
        return 1;
    }
    const std::uint64_t count =
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

    const std::vector<TraceRecord> records = numberedRecords(count);
    std::string frames;
    std::string message;
    for (std::size_t i = 0; i < records.size(); ++i) {
        message.clear();
        appendTraceMessage(message, records[i], "0000000000000001", i + 1, "machine-a");
        frames += std::to_string(message.size()) + " " + message;
    }

    double load[3] = {};
    getloadavg(load, 3);
    report.section("rsyslog: " + std::to_string(count) + " records of the mix, " +
                   std::to_string(rounds) + " rounds, load average " +
                   std::to_string(load[0]).substr(0, 4) + " at start");
    Samples ours;
    Samples peer;
    for (int round = 0; round < rounds; ++round) {
        const Run run{directory, records, round};
        std::string failure;
        const double oursValue = oursRate(run, failure);
        if (oursValue > 0) {
            ours.add(oursValue);
        } else {
            report.note("round " + std::to_string(round + 1) + ", ours void: " + failure);
        }
        const double peerValue = peerRate(run, frames, failure);
        if (peerValue > 0) {
            peer.add(peerValue);
        } else {
            report.note("round " + std::to_string(round + 1) + ", peer void: " + failure);
        }
    }
    report.comparison("records/s, mailbox A to mailbox B", ours, "rsyslog, same messages to a file",
                      peer, Unit::PerSecond);
    report.result(resultLine("rsyslog_forwarding", ours.median(), peer.median(), kTargetRatio,
                             Better::Higher));
    collectorDown(report, directory, records);
    getloadavg(load, 3);
    report.note("load average at the end: " + std::to_string(load[0]).substr(0, 4));
    report.finish();
    return ours.empty() || peer.empty() ? 1 : 0;
}
