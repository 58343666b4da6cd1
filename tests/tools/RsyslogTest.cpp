// Two real rsyslog daemons between two mailboxes, configured from deploy/rsyslog/: on "machine A"
// quorvane-forward sends the records of its mailbox over TCP to rsyslogd #1 (the traced machine's
// configuration), which forwards them to rsyslogd #2 (the collector's), which passes them to
// quorvane-send --syslog --confirm through omprog into "machine B"'s mailbox, read by
// quorvane-tail. The daemons run in the foreground on 127.0.0.1 with private configuration, work
// directories and PID files; no system service is touched. The test holds the presence mutex of
// machine B's viewer, in a name space of its own.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "quorvane/Names.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/RecordFields.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/support/RsyslogRig.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::accepts;
using quorvane::test::freePort;
using quorvane::test::readFile;
using quorvane::test::rsyslogd;
using quorvane::test::RsyslogDaemon;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using tooltest::formatAll;
using tooltest::makeRecord;
using tooltest::throughShell;
using Clock = std::chrono::steady_clock;

// The longest wait for the daemons to pass everything on; a run takes a few seconds.
constexpr auto kDeliveryLimit = std::chrono::seconds(20);
constexpr auto kPollPause = std::chrono::milliseconds(20);
// How long the collector stays away while machine A goes on tracing.
constexpr auto kCollectorAway = std::chrono::seconds(1);

// Records a traced program on machine A could post: two threads nesting calls, and texts that
// hold every byte a field can hold.
std::vector<TraceRecord> machineARecords(std::size_t count, int seed) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    std::vector<TraceRecord> records;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t thread = i % 2 == 0 ? 4242 : 4243;
        const std::size_t step = i / 2 % 4;
        const std::int32_t delta = step == 0 || step == 1 ? 1 : -1;
        std::string text = std::to_string(seed) + "/" + std::to_string(i);
        if (i % 5 == 1) text += " " + everyByte.substr(i % 200, 55);
        if (i % 7 == 3) text = " \"quoted\" [b]racket\\ 100% caf\xC3\xA9 \xFF ";
        if (i % 11 == 5) text = std::string(511, 'x');
        const std::string name = step % 2 == 0 ? "outer" : "in\"n]er\\";
        records.push_back(makeRecord(name, text, i % 3 == 0 ? "app" : "app \x01 two", delta, thread,
                                     1700000000 + static_cast<std::int64_t>(i)));
    }
    return records;
}

// What quorvane-tail on machine B prints for machine A's records.
std::string expectedLines(const std::vector<TraceRecord>& sent) {
    DepthTable depthTable;
    LineFormatter formatter(depthTable);
    std::string text;
    std::uint32_t lineNumber = 0;
    for (const TraceRecord& original : sent) {
        TraceRecord record = original;
        setRecordField(record.originName,
                       ("machine-a/" + std::string(recordFieldText(original.originName))).c_str());
        record.senderKey = syslogSenderKey("machine-a", std::to_string(original.senderKey));
        text += formatter.formatLine(record, ++lineNumber);
        text += '\n';
        formatter.storeDepth();
    }
    return text;
}

class RsyslogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (rsyslogd().empty()) GTEST_SKIP() << "rsyslogd is not installed (Debian: rsyslog)";
        std::string pattern = std::filesystem::temp_directory_path() / "quorvane-rsyslog-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_directory = pattern;
        for (const char* folder : {"/relay", "/collector", "/probe", "/namespace"}) {
            std::filesystem::create_directory(m_directory + folder);
        }
        std::filesystem::permissions(m_directory + "/namespace", std::filesystem::perms::owner_all);
        if (!canStart()) {
            GTEST_SKIP() << "rsyslogd cannot start here, even with a minimal configuration: "
                         << readFile(m_directory + "/probe.log");
        }
        if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) m_previousRuntime = previous;
        ::setenv("XDG_RUNTIME_DIR", (m_directory + "/namespace").c_str(), 1);
        m_mailboxA =
            std::make_unique<CMclMailbox>(quorvane::kMailSlots, kTraceRecordSize, m_nameA.c_str());
        ASSERT_TRUE(m_presence.getMutex(quorvane::kPresenceMutexName));
        m_relayPort = freePort();
        m_collectorPort = freePort();
        ASSERT_NE(m_relayPort, 0);
        ASSERT_NE(m_collectorPort, 0);
    }

    void TearDown() override {
        m_relay.reset();
        m_collector.reset();
        m_presence.releaseMutex();
        m_mailboxA.reset();
        if (!m_previousRuntime.empty()) ::setenv("XDG_RUNTIME_DIR", m_previousRuntime.c_str(), 1);
        if (!m_directory.empty()) std::filesystem::remove_all(m_directory);
    }

    // Whether rsyslogd runs at all with nothing of ours in its configuration.
    bool canStart() {
        const std::uint16_t port = freePort();
        RsyslogDaemon probe(m_directory, "probe",
                            "global(workDirectory=\"" + m_directory +
                                "/probe\" net.enableDNS=\"off\")\n"
                                "module(load=\"imtcp\")\n"
                                "input(type=\"imtcp\" port=\"" +
                                std::to_string(port) +
                                "\" address=\"127.0.0.1\")\n"
                                "action(type=\"omfile\" file=\"" +
                                m_directory + "/probe.out\")\n");
        return port != 0 && probe.listening(port);
    }

    std::string collectorConfig() const {
        return quorvane::test::collectorConfig(m_directory + "/collector", m_collectorPort,
                                               m_directory + "/send.log");
    }

    std::string relayConfig() const {
        return quorvane::test::relayConfig(m_directory + "/relay", m_relayPort, m_collectorPort,
                                           m_directory + "/relay.sock");
    }

    void startCollector() {
        m_collector = std::make_unique<RsyslogDaemon>(m_directory, "collector", collectorConfig(),
                                                      environmentB());
        ASSERT_TRUE(m_collector->listening(m_collectorPort)) << m_collector->log();
    }

    void startRelay() {
        m_relay = std::make_unique<RsyslogDaemon>(m_directory, "relay", relayConfig());
        ASSERT_TRUE(m_relay->listening(m_relayPort)) << m_relay->log();
    }

    std::vector<std::pair<std::string, std::string>> environmentA() const {
        return {{"QUORVANE_MAILBOX", m_nameA}};
    }
    std::vector<std::pair<std::string, std::string>> environmentB() const {
        return {{"QUORVANE_MAILBOX", m_nameB}};
    }

    std::unique_ptr<Subprocess> startForwarder(std::size_t count) {
        return std::make_unique<Subprocess>(
            std::vector<std::string>{QUORVANE_FORWARD, "--tcp",
                                     "127.0.0.1:" + std::to_string(m_relayPort), "--hostname",
                                     "machine-a", "--count", std::to_string(count)},
            environmentA());
    }

    void post(const std::vector<TraceRecord>& records, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) ASSERT_TRUE(m_mailboxA->post(&records[i], 1000));
    }

    // Records in machine A's mailbox that the forwarder has not taken yet.
    LONG pendingInA() const {
        const std::string name = std::string(CMclMailbox::kPendingCountPrefix) + "::" + m_nameA;
        HANDLE semaphore = CreateSemaphoreA(nullptr, 0, quorvane::kMailSlots, name.c_str());
        LONG count = -1;
        if (semaphore != nullptr) {
            if (!GetSemaphoreCount(semaphore, &count)) count = -1;
            CloseHandle(semaphore);
        }
        return count;
    }

    std::string diagnostics() const {
        return "\n--- relay:\n" + readFile(m_directory + "/relay.log") + "\n--- collector:\n" +
               readFile(m_directory + "/collector.log") + "\n--- quorvane-send:\n" +
               readFile(m_directory + "/send.log");
    }

    const std::string m_nameA = uniqueName("machine-a");
    const std::string m_nameB = uniqueName("machine-b");
    std::string m_directory;
    std::string m_previousRuntime;
    std::unique_ptr<CMclMailbox> m_mailboxA;
    CMutexSimple m_presence;
    std::uint16_t m_relayPort = 0;
    std::uint16_t m_collectorPort = 0;
    std::unique_ptr<RsyslogDaemon> m_collector;
    std::unique_ptr<RsyslogDaemon> m_relay;
};

TEST_F(RsyslogTest, TracesCrossTwoRsyslogDaemonsIntoTheOtherMachinesMailboxByteForByte) {
    const std::vector<TraceRecord> records = machineARecords(400, 1);
    Subprocess tail({QUORVANE_TAIL, "--count", std::to_string(records.size())}, environmentB());
    startCollector();
    startRelay();
    const std::unique_ptr<Subprocess> forwarder = startForwarder(records.size());
    post(records, 0, records.size());

    const Subprocess::Result forwarded = forwarder->finish(kDeliveryLimit);
    EXPECT_EQ(forwarded.status, 0) << forwarded.err;
    const Subprocess::Result tailed = tail.finish(kDeliveryLimit);
    EXPECT_EQ(tailed.status, 0) << tailed.err << diagnostics();
    EXPECT_EQ(tailed.out, expectedLines(records)) << diagnostics();
    EXPECT_EQ(readFile(m_directory + "/send.log"), "") << "nothing skipped";
}

TEST_F(RsyslogTest, TracesSentWhileTheCollectorIsDownArriveOnceItIsBack) {
    const std::vector<TraceRecord> records = machineARecords(600, 2);
    const std::size_t beforeStop = 100;
    const std::size_t whileAway = 400;
    Subprocess tail({QUORVANE_TAIL, "--count", std::to_string(records.size())}, environmentB());
    startCollector();
    startRelay();
    const std::unique_ptr<Subprocess> forwarder = startForwarder(records.size());

    post(records, 0, beforeStop);
    const std::string expected = expectedLines(records);
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < beforeStop; ++i) {
        const std::optional<std::string> line = tail.readLine(kDeliveryLimit);
        ASSERT_TRUE(line.has_value()) << i << diagnostics();
        const std::size_t lineEnd = expected.find('\n', lineStart);
        ASSERT_EQ(*line, expected.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
    }
    EXPECT_EQ(m_collector->stop(), 0) << diagnostics();
    EXPECT_FALSE(accepts(m_collectorPort));

    post(records, beforeStop, beforeStop + whileAway);
    const auto deadline = Clock::now() + kDeliveryLimit;
    while (pendingInA() != 0) {
        ASSERT_LT(Clock::now(), deadline) << "the forwarder stopped taking records";
        std::this_thread::sleep_for(kPollPause);
    }
    std::this_thread::sleep_for(kCollectorAway);
    startCollector();
    post(records, beforeStop + whileAway, records.size());

    const Subprocess::Result forwarded = forwarder->finish(kDeliveryLimit);
    EXPECT_EQ(forwarded.status, 0) << forwarded.err;
    const Subprocess::Result tailed = tail.finish(kDeliveryLimit);
    EXPECT_EQ(tailed.status, 0) << tailed.err << diagnostics();
    EXPECT_EQ(tailed.out, expected.substr(lineStart)) << diagnostics();
}

TEST_F(RsyslogTest, TracesWaitInTheCollectorsQueueWhileNoReaderRunsAndATailAloneReceivesAll) {
    const std::vector<TraceRecord> records = machineARecords(50, 3);
    m_presence.releaseMutex();
    startCollector();
    startRelay();
    const std::unique_ptr<Subprocess> forwarder = startForwarder(records.size());
    post(records, 0, records.size());
    const Subprocess::Result forwarded = forwarder->finish(kDeliveryLimit);
    EXPECT_EQ(forwarded.status, 0) << forwarded.err;

    std::this_thread::sleep_for(kCollectorAway);
    {
        CMclMailbox mailboxB(quorvane::kMailSlots, kTraceRecordSize, m_nameB.c_str());
        TraceRecord record{};
        EXPECT_FALSE(mailboxB.receive(&record, 0)) << "posted with no reader running";
    }
    // quorvane-tail is a reader as the viewer is: with it alone, the collector confirms.
    Subprocess tail({QUORVANE_TAIL, "--count", std::to_string(records.size())}, environmentB());
    const Subprocess::Result tailed = tail.finish(kDeliveryLimit);
    EXPECT_EQ(tailed.status, 0) << tailed.err << diagnostics();
    EXPECT_EQ(tailed.out, expectedLines(records)) << diagnostics();
}

}  // namespace
