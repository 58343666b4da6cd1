// Traces from "machines" on this host to the collector's mailbox: on each machine
// quorvane-forward sends its mailbox's records to a private rsyslogd configured with
// deploy/rsyslog/'s files as quorvane-rsyslog-setup fills them in, which forwards them over RELP
// with TLS (certificates made with certtool from a private CA) to quorvane-relp, which posts them
// into the collector's mailbox, read here. Everything runs on 127.0.0.1 with private
// configuration, work directories and PID files; no system service is touched. The test holds
// the viewer's presence mutex, in a name space of its own, unless it says otherwise.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "quorvane/Names.h"
#include "records/RecordFields.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/support/RsyslogRig.h"
#include "tests/tools/ToolTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::Certificates;
using quorvane::test::connectTo;
using quorvane::test::freePort;
using quorvane::test::LoggedProcess;
using quorvane::test::readFile;
using quorvane::test::rsyslogd;
using quorvane::test::RsyslogDaemon;
using quorvane::test::Subprocess;
using quorvane::test::TcpProxy;
using quorvane::test::uniqueName;
using Clock = std::chrono::steady_clock;

constexpr auto kDeliveryLimit = std::chrono::seconds(60);
constexpr DWORD kReceiveSliceMs = 100;
constexpr DWORD kPostWaitMs = 10000;
// How long a refused or readerless sender is watched for records that must not come.
constexpr auto kNothingComes = std::chrono::seconds(2);
// How long a fault lasts before things are started again.
constexpr auto kFaultPause = std::chrono::milliseconds(700);

constexpr auto kKillDelay = std::chrono::milliseconds(150);

const std::vector<std::string> kMachines = {"machine-1", "machine-2", "machine-3"};
constexpr const char* kRogue = "rogue";

// One traced machine: a mailbox, its rsyslogd and quorvane-forward between them.
struct Machine {
    std::string name;
    std::string directory;
    // The machine's name space (XDG_RUNTIME_DIR): its forwarder, a reader of its mailbox, holds
    // the presence of this machine only, as on a machine of its own.
    std::string runtime;
    std::string mailboxName;
    std::unique_ptr<CMclMailbox> mailbox;
    std::uint16_t inputPort = 0;
    std::string config;
    std::unique_ptr<RsyslogDaemon> rsyslog;
    std::unique_ptr<Subprocess> forwarder;
    std::vector<TraceRecord> records;
    std::thread poster;
};

// What arrived in the collector's mailbox, per machine, by the number in each entry text.
struct Arrivals {
    std::map<std::string, std::vector<std::uint64_t>> byMachine;
    std::uint64_t total = 0;

    void note(const TraceRecord& record) {
        note(recordFieldText(record.originName), record.entryText);
    }
    // A record seen as its origin ("machine/app") and entry text.
    void note(std::string_view origin, const char* text) {
        const std::string machine(origin.substr(0, origin.find('/')));
        byMachine[machine].push_back(std::strtoull(text, nullptr, 10));
        ++total;
    }
    // "" when `machine`'s records 0 .. count-1 each came once and in order, else what is wrong.
    std::string check(const std::string& machine, std::uint64_t count) const {
        const auto found = byMachine.find(machine);
        const std::vector<std::uint64_t> none;
        const std::vector<std::uint64_t>& got = found == byMachine.end() ? none : found->second;
        std::vector<int> seen(count, 0);
        std::uint64_t outOfOrder = 0;
        std::string firstJump;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (got[i] < count) ++seen[got[i]];
            if (i > 0 && got[i] != got[i - 1] + 1 && firstJump.empty()) {
                firstJump = ", first " + std::to_string(got[i]) + " after " +
                            std::to_string(got[i - 1]);
            }
            if (i > 0 && got[i] != got[i - 1] + 1) ++outOfOrder;
        }
        std::uint64_t lost = 0;
        std::uint64_t twice = 0;
        for (const int times : seen) {
            lost += times == 0 ? 1 : 0;
            twice += times > 1 ? static_cast<std::uint64_t>(times - 1) : 0;
        }
        if (lost == 0 && twice == 0 && outOfOrder == 0 && got.size() == count) return "";
        return machine + ": " + std::to_string(got.size()) + " of " + std::to_string(count) +
               " arrived, " + std::to_string(lost) + " lost, " + std::to_string(twice) +
               " twice, " + std::to_string(outOfOrder) + " out of order" + firstJump;
    }
};

class RelpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (rsyslogd().empty()) GTEST_SKIP() << "rsyslogd is not installed (Debian: rsyslog)";
        std::string pattern = std::filesystem::temp_directory_path() / "quorvane-relp-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_directory = pattern;
        for (const char* folder : {"/certificates", "/namespace", "/state"}) {
            std::filesystem::create_directory(m_directory + folder);
        }
        std::filesystem::permissions(m_directory + "/namespace", std::filesystem::perms::owner_all);
        std::string error;
        std::vector<std::string> names = kMachines;
        names.emplace_back(quorvane::test::kCollectorName);
        ASSERT_TRUE(m_certificates.make(m_directory + "/certificates", names, {kRogue}, error))
            << error;
        if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) m_previousRuntime = previous;
        ::setenv("XDG_RUNTIME_DIR", (m_directory + "/namespace").c_str(), 1);
        m_collectorMailbox = std::make_unique<CMclMailbox>(quorvane::kMailSlots, kTraceRecordSize,
                                                           m_collectorName.c_str());
        ASSERT_TRUE(m_presence.getMutex(quorvane::kPresenceMutexName));
        m_receiverPort = freePort();
        ASSERT_NE(m_receiverPort, 0);
    }

    void TearDown() override {
        for (Machine& machine : m_machines) {
            if (machine.poster.joinable()) machine.poster.join();
            machine.forwarder.reset();
            machine.rsyslog.reset();
        }
        m_receiver.reset();
        m_presence.releaseMutex();
        m_collectorMailbox.reset();
        if (!m_previousRuntime.empty()) ::setenv("XDG_RUNTIME_DIR", m_previousRuntime.c_str(), 1);
        if (!m_directory.empty()) std::filesystem::remove_all(m_directory);
    }

    void startReceiver() {
        const std::string collector = quorvane::test::kCollectorName;
        std::vector<std::string> arguments = {QUORVANE_RELP,
                                              "--address=127.0.0.1",
                                              "--port=" + std::to_string(m_receiverPort),
                                              "--state=" + m_directory + "/state",
                                              "--ca=" + m_certificates.ca(),
                                              "--cert=" + m_certificates.cert(collector),
                                              "--key=" + m_certificates.key(collector)};
        for (const std::string& name : kMachines) arguments.push_back("--permit=" + name);
        // The rogue's certificate carries a permitted name, but no CA we trust signed it.
        arguments.push_back(std::string("--permit=") + kRogue);
        m_receiver = std::make_unique<LoggedProcess>(
            arguments, m_directory + "/receiver.log",
            quorvane::test::Environment{{"QUORVANE_MAILBOX", m_collectorName}});
        ASSERT_TRUE(quorvane::test::waitListening(m_receiverPort)) << diagnostics();
    }

    // A machine sending `count` records to `collectorPort` (the receiver's unless a proxy's),
    // with the certificate of `tlsName`.
    Machine& addMachine(const std::string& name, std::size_t count, std::uint16_t collectorPort,
                        const std::string& tlsName) {
        Machine& machine = m_machines.emplace_back();
        machine.name = name;
        machine.directory = m_directory + "/" + name;
        std::filesystem::create_directory(machine.directory);
        machine.runtime = machine.directory + "/namespace";
        std::filesystem::create_directory(machine.runtime);
        std::filesystem::permissions(machine.runtime, std::filesystem::perms::owner_all);
        machine.mailboxName = uniqueName(name);
        // Named objects are found when opened: the mailbox is opened in the machine's name space,
        // then the collector's is this process's again.
        ::setenv("XDG_RUNTIME_DIR", machine.runtime.c_str(), 1);
        machine.mailbox = std::make_unique<CMclMailbox>(quorvane::kMailSlots, kTraceRecordSize,
                                                        machine.mailboxName.c_str());
        ::setenv("XDG_RUNTIME_DIR", (m_directory + "/namespace").c_str(), 1);
        machine.inputPort = freePort();
        std::string error;
        machine.config = quorvane::test::tracedConfig(machine.directory, collectorPort,
                                                      machine.inputPort, m_certificates, tlsName,
                                                      error);
        EXPECT_FALSE(machine.config.empty()) << error;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string text = std::to_string(i) + " " + name;
            const std::int32_t delta = i % 4 == 0 ? 1 : (i % 4 == 3 ? -1 : 0);
            machine.records.push_back(tooltest::makeRecord(
                "step", text, "app", delta, 4242, 1700000000 + static_cast<std::int64_t>(i)));
        }
        return machine;
    }

    void startRsyslog(Machine& machine) {
        machine.rsyslog = std::make_unique<RsyslogDaemon>(machine.directory, "rsyslogd",
                                                          machine.config);
        ASSERT_TRUE(machine.rsyslog->listening(machine.inputPort)) << machine.rsyslog->log();
    }

    // Starts the machine's forwarder and posts its records [from, to) on a thread of its own.
    void startSending(Machine& machine, std::size_t from, std::size_t to) {
        if (!machine.forwarder) {
            machine.forwarder = std::make_unique<Subprocess>(
                std::vector<std::string>{QUORVANE_FORWARD, "--tcp",
                                         "127.0.0.1:" + std::to_string(machine.inputPort),
                                         "--hostname", machine.name, "--count",
                                         std::to_string(machine.records.size())},
                quorvane::test::Environment{{"QUORVANE_MAILBOX", machine.mailboxName},
                                            {"XDG_RUNTIME_DIR", machine.runtime}});
        }
        if (machine.poster.joinable()) machine.poster.join();
        machine.poster = std::thread([&machine, from, to] {
            for (std::size_t i = from; i < to; ++i) {
                machine.mailbox->post(&machine.records[i], kPostWaitMs);
            }
        });
    }

    // Receives until `total` records have arrived or the limit has passed.
    void receiveUntil(std::uint64_t total, std::chrono::milliseconds limit = kDeliveryLimit) {
        const auto deadline = Clock::now() + limit;
        TraceRecord record{};
        while (m_arrivals.total < total && Clock::now() < deadline) {
            if (m_collectorMailbox->receive(&record, kReceiveSliceMs)) m_arrivals.note(record);
        }
    }

    // Receives whatever comes within `limit`.
    void receiveFor(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        TraceRecord record{};
        while (Clock::now() < deadline) {
            if (m_collectorMailbox->receive(&record, kReceiveSliceMs)) m_arrivals.note(record);
        }
    }

    // Sends every machine's records to the end and checks that each came once and in order.
    void expectAllOnceInOrder() {
        std::uint64_t total = 0;
        for (Machine& machine : m_machines) total += machine.records.size();
        receiveUntil(total);
        // Anything sent twice would come after the last one.
        receiveFor(std::chrono::milliseconds(300));
        for (Machine& machine : m_machines) {
            if (machine.poster.joinable()) machine.poster.join();
            EXPECT_EQ(m_arrivals.check(machine.name, machine.records.size()), "") << diagnostics();
        }
        EXPECT_EQ(m_arrivals.total, total);
    }

    std::string diagnostics() const {
        std::string text = "\n--- quorvane-relp:\n" + readFile(m_directory + "/receiver.log");
        for (const Machine& machine : m_machines) {
            text += "\n--- " + machine.name + "'s rsyslogd:\n" +
                    readFile(machine.directory + "/rsyslogd.log");
        }
        return text;
    }

    std::string m_directory;
    std::string m_previousRuntime;
    Certificates m_certificates;
    const std::string m_collectorName = uniqueName("collector");
    std::unique_ptr<CMclMailbox> m_collectorMailbox;
    CMutexSimple m_presence;
    std::uint16_t m_receiverPort = 0;
    std::unique_ptr<LoggedProcess> m_receiver;
    std::deque<Machine> m_machines;
    Arrivals m_arrivals;
};

TEST_F(RelpTest, TracesOfThreeMachinesArriveOverTlsCompleteAndEachInItsOrder) {
    startReceiver();
    for (const std::string& name : kMachines) {
        Machine& machine = addMachine(name, 3000, m_receiverPort, name);
        startRsyslog(machine);
    }
    for (Machine& machine : m_machines) startSending(machine, 0, machine.records.size());
    expectAllOnceInOrder();
}

TEST_F(RelpTest, ReceiverKilledMidFloodAndStartedAgainLosesAndRepeatsNothing) {
    startReceiver();
    Machine& machine = addMachine(kMachines[0], 20000, m_receiverPort, kMachines[0]);
    startRsyslog(machine);
    startSending(machine, 0, machine.records.size());
    receiveUntil(5000);
    // Killed while it posts on, not just as the test takes a record it posted: the kill must not
    // fall between a post and the note of it on purpose.
    std::this_thread::sleep_for(kKillDelay);
    m_receiver->kill();
    std::this_thread::sleep_for(kFaultPause);
    startReceiver();
    expectAllOnceInOrder();
}

TEST_F(RelpTest, TracedRsyslogdRestartedMidFloodLosesAndRepeatsNothing) {
    startReceiver();
    Machine& machine = addMachine(kMachines[0], 10000, m_receiverPort, kMachines[0]);
    startRsyslog(machine);
    startSending(machine, 0, machine.records.size());
    receiveUntil(3000);
    EXPECT_EQ(machine.rsyslog->stop(), 0) << diagnostics();
    std::this_thread::sleep_for(kFaultPause);
    startRsyslog(machine);
    expectAllOnceInOrder();
}

TEST_F(RelpTest, ConnectionDroppedMidFloodLosesAndRepeatsNothing) {
    startReceiver();
    TcpProxy proxy(m_receiverPort);
    ASSERT_TRUE(proxy.start());
    Machine& machine = addMachine(kMachines[0], 20000, proxy.port(), kMachines[0]);
    startRsyslog(machine);
    startSending(machine, 0, machine.records.size());
    receiveUntil(5000);
    proxy.kill();
    std::this_thread::sleep_for(kFaultPause);
    ASSERT_TRUE(proxy.start());
    expectAllOnceInOrder();
}

TEST_F(RelpTest, SenderWithAWrongCertificateOrPlainTcpGetsNothingIn) {
    // A machine whose key is missing is not set up at all, rather than set up to fail later.
    std::filesystem::rename(m_certificates.key(kMachines[2]), m_directory + "/elsewhere.pem");
    std::string error;
    EXPECT_EQ(quorvane::test::tracedConfig(m_directory, m_receiverPort, freePort(),
                                           m_certificates, kMachines[2], error),
              "");
    EXPECT_NE(error.find(m_certificates.key(kMachines[2]) + " is not a readable file"),
              std::string::npos)
        << error;

    startReceiver();
    Machine& rogue = addMachine(kRogue, 50, m_receiverPort, kRogue);
    startRsyslog(rogue);
    startSending(rogue, 0, rogue.records.size());
    // A RELP session opened without TLS on the TLS port, with a message that a receiver without
    // TLS would post.
    const int plain = connectTo(m_receiverPort);
    ASSERT_GE(plain, 0);
    const auto frame = [](int number, const std::string& command, const std::string& data) {
        return std::to_string(number) + " " + command + " " + std::to_string(data.size()) + " " +
               data + "\n";
    };
    const std::string frames =
        frame(1, "open", "relp_version=0\nrelp_software=test\ncommands=syslog") +
        frame(2, "syslog", "<15>1 - plain app - - - 0 plain");
    EXPECT_GT(::write(plain, frames.data(), frames.size()), 0);
    receiveFor(kNothingComes);
    ::close(plain);
    EXPECT_EQ(m_arrivals.total, 0U) << diagnostics();
    EXPECT_NE(readFile(m_directory + "/receiver.log").find("refused"), std::string::npos)
        << "the refusal is said" << diagnostics();

    // The receiver still takes a sender it trusts.
    Machine& trusted = addMachine(kMachines[1], 50, m_receiverPort, kMachines[1]);
    startRsyslog(trusted);
    startSending(trusted, 0, trusted.records.size());
    receiveUntil(trusted.records.size());
    receiveFor(std::chrono::milliseconds(300));
    EXPECT_EQ(m_arrivals.check(trusted.name, trusted.records.size()), "") << diagnostics();
    EXPECT_EQ(m_arrivals.total, trusted.records.size()) << diagnostics();
}

TEST_F(RelpTest, TracesWaitInTheSendersQueueWhileNoReaderRunsAndArriveWhenOneStarts) {
    m_presence.releaseMutex();
    startReceiver();
    Machine& machine = addMachine(kMachines[0], 500, m_receiverPort, kMachines[0]);
    startRsyslog(machine);
    startSending(machine, 0, machine.records.size());
    receiveFor(kNothingComes);
    EXPECT_EQ(m_arrivals.total, 0U) << "posted with no reader running" << diagnostics();
    ASSERT_TRUE(m_presence.getMutex(quorvane::kPresenceMutexName));
    expectAllOnceInOrder();
}

TEST_F(RelpTest, CollectorWithOnlyQuorvaneTailReceivesEverythingInOrder) {
    m_presence.releaseMutex();
    startReceiver();
    std::size_t total = 0;
    for (const std::string& name : kMachines) {
        Machine& machine = addMachine(name, 1000, m_receiverPort, name);
        startRsyslog(machine);
        total += machine.records.size();
    }
    Subprocess tail({QUORVANE_TAIL, "--count", std::to_string(total)},
                    {{"QUORVANE_MAILBOX", m_collectorName}});
    for (Machine& machine : m_machines) startSending(machine, 0, machine.records.size());
    const Subprocess::Result tailed = tail.finish(kDeliveryLimit);
    EXPECT_EQ(tailed.status, 0) << tailed.err << diagnostics();
    // Line number, sender key, time, origin, then the entry name with "(text)" after the tabs
    // that indent it.
    std::istringstream lines(tailed.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');) fields.push_back(field);
        ASSERT_GE(fields.size(), 5U) << line;
        const std::size_t text = fields.back().find('(');
        ASSERT_NE(text, std::string::npos) << line;
        m_arrivals.note(fields[3], fields.back().c_str() + text + 1);
    }
    for (const Machine& machine : m_machines) {
        EXPECT_EQ(m_arrivals.check(machine.name, machine.records.size()), "") << diagnostics();
    }
}

}  // namespace
