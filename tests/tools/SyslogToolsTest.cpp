// quorvane-forward and quorvane-send --syslog as real processes, against sockets and a mailbox
// this test holds, in a name space of their own (the presence mutex taken here must not be seen
// by other tests running beside this one).

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/Names.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/RecordFields.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/PrivateNamespaceTest.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/syslog/SyslogMessage.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"

namespace {

using quorvane::test::kHangLimit;
using quorvane::test::run;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using tooltest::formatAll;
using tooltest::listenTcp;
using tooltest::makeRecord;
using tooltest::readable;
using tooltest::readFrames;
using tooltest::Socket;
using tooltest::throughShell;

class SyslogToolsTest : public tooltest::PrivateNamespaceTest {
  protected:
    SyslogToolsTest() : PrivateNamespaceTest("syslog") {}
};

TEST_F(SyslogToolsTest, SendSyslogKeepsOneIndentationPerHostWhenTwoHostsShareAThreadId) {
    const std::string input =
        "<15>1 - a app 7 trace [quorvane@32473 line=\"1\" depth=\"1\" name=\"main\" "
        "time=\"100\"] start\n"
        "<15>1 - b app 7 trace [quorvane@32473 line=\"1\" depth=\"1\" name=\"main\" "
        "time=\"101\"]\n"
        "<15>1 - a app 7 trace [quorvane@32473 line=\"2\" depth=\"1\" name=\"inner\" "
        "time=\"102\"] %09tab\n"
        "<15>1 - b app 7 trace [quorvane@32473 line=\"2\" depth=\"-1\" name=\"main\" "
        "time=\"103\"]\n"
        "<30>1 2024-05-01T10:00:00Z web sshd 12 - - Accepted\n"
        "not a syslog message\n"
        "<15>1 - a app 7 trace [quorvane@32473 run=\"r\" line=\"3\" depth=\"-1\" "
        "name=\"inner\" time=\"104\"]\n"
        "<15>1 - a app 7 trace [quorvane@32473 run=\"r\" line=\"3\" depth=\"-1\" "
        "name=\"inner\" time=\"104\"]\n"
        "<15>1 - a app 7 trace [quorvane@32473 line=\"4\" depth=\"-1\" name=\"main\" "
        "time=\"105\"] done";
    const Subprocess::Result sent = run({QUORVANE_SEND, "--syslog"}, input);
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(sent.err.find("line 6 skipped: no <PRI> at the start (1 malformed so far)"),
              std::string::npos)
        << sent.err;
    EXPECT_NE(sent.err.find("1 malformed lines skipped"), std::string::npos) << sent.err;
    EXPECT_NE(sent.err.find("1 repeated traces skipped"), std::string::npos) << sent.err;

    const std::uint32_t a = syslogSenderKey("a", "7");
    const std::uint32_t b = syslogSenderKey("b", "7");
    const std::vector<TraceRecord> expected = {
        makeRecord("main", "start", "a/app", 1, a, 100),
        makeRecord("main", "", "b/app", 1, b, 101),
        makeRecord("inner", "\ttab", "a/app", 1, a, 102),
        makeRecord("main", "", "b/app", -1, b, 103),
        makeRecord("info", "Accepted", "web/sshd", 0, syslogSenderKey("web", "12"), 1714557600),
        makeRecord("inner", "", "a/app", -1, a, 104),
        makeRecord("main", "done", "a/app", -1, a, 105),
    };
    const Subprocess::Result tailed = run({QUORVANE_TAIL, "-n", std::to_string(expected.size())});
    ASSERT_EQ(tailed.status, 0) << tailed.err;
    EXPECT_EQ(tailed.out, formatAll(expected));
}

TEST_F(SyslogToolsTest, SendSyslogConfirmsOnlyRecordsInTheMailboxWhileAViewerRuns) {
    Subprocess send({QUORVANE_SEND, "--syslog", "--confirm", "--timeout", "100"});
    EXPECT_EQ(send.readLine(), "OK") << "ready once the mailbox is open";
    const std::string trace =
        "<15>1 - a app 7 trace [quorvane@32473 line=\"1\" depth=\"0\" name=\"n\" time=\"1\"] t\n";

    ASSERT_TRUE(send.writeInput(trace));
    EXPECT_EQ(send.readLine(), "no Quorvane viewer is running");
    EXPECT_TRUE(drain().empty());

    CMutexSimple presence;
    ASSERT_TRUE(presence.getMutex(quorvane::kPresenceMutexName));
    // The finding is reused for a moment: pass the message again, as rsyslog does, until taken.
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    std::optional<std::string> answer;
    do {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        ASSERT_TRUE(send.writeInput(trace));
        answer = send.readLine();
        ASSERT_TRUE(answer.has_value());
    } while (*answer != "OK");
    std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 1u) << "confirmed once it is in the mailbox";
    EXPECT_STREQ(records[0].entryText, "t");

    ASSERT_TRUE(send.writeInput("<15>1 - a app\n"));
    EXPECT_EQ(send.readLine(), "OK") << "a malformed line is dealt with by skipping it";

    const TraceRecord filler = makeRecord("fill", "", "o", 0, 1, 1);
    while (m_mailbox->post(&filler, 0)) {
    }
    ASSERT_TRUE(send.writeInput(trace));
    EXPECT_EQ(send.readLine(), "the Quorvane mailbox is full");
    TraceRecord taken{};
    ASSERT_TRUE(m_mailbox->receive(&taken, 0));
    ASSERT_TRUE(send.writeInput(trace));
    EXPECT_EQ(send.readLine(), "OK");

    const Subprocess::Result ended = send.finish();
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_NE(ended.err.find("1 malformed lines skipped"), std::string::npos) << ended.err;
    records = drain();
    ASSERT_EQ(records.size(), quorvane::kMailSlots);
    EXPECT_STREQ(records.back().entryText, "t");
}

TEST_F(SyslogToolsTest, ForwardSendsEachRecordAsOneDatagramToALocalSocketOrOverUdp) {
    const std::string path = m_directory + "/log.sock";
    Socket local(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un unixAddress{};
    unixAddress.sun_family = AF_UNIX;
    std::strncpy(unixAddress.sun_path, path.c_str(), sizeof unixAddress.sun_path - 1);
    ASSERT_EQ(::bind(local.fd, reinterpret_cast<sockaddr*>(&unixAddress), sizeof unixAddress), 0);

    Socket udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in inetAddress{};
    inetAddress.sin_family = AF_INET;
    inetAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(udp.fd, reinterpret_cast<sockaddr*>(&inetAddress), sizeof inetAddress), 0);
    socklen_t length = sizeof inetAddress;
    ::getsockname(udp.fd, reinterpret_cast<sockaddr*>(&inetAddress), &length);
    const std::string udpAddress = "127.0.0.1:" + std::to_string(ntohs(inetAddress.sin_port));

    const std::vector<TraceRecord> records = {
        makeRecord("main", "with \"quotes\" and \x01", "app", 1, 5, 1700000000),
        makeRecord("main", "", "app", -1, 5, 1700000001),
    };
    for (const auto& [option, target, fd] :
         {std::tuple{"--socket", path, local.fd}, std::tuple{"--udp", udpAddress, udp.fd}}) {
        Subprocess forward({QUORVANE_FORWARD, option, target, "-H", "machine-a", "-n", "2"});
        for (const TraceRecord& record : records) ASSERT_TRUE(m_mailbox->post(&record, 0));
        const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
        for (std::size_t i = 0; i < records.size(); ++i) {
            ASSERT_TRUE(readable(fd, deadline)) << option;
            char datagram[4096];
            const ssize_t got = ::recv(fd, datagram, sizeof datagram, 0);
            ASSERT_GT(got, 0);
            SyslogMessage message;
            const std::string text(datagram, static_cast<std::size_t>(got));
            ASSERT_EQ(parseSyslogMessage(text, message), nullptr) << text;
            TraceRecord received;
            ASSERT_EQ(recordFromMessage(message, 0, received), nullptr);
            EXPECT_STREQ(received.entryText, records[i].entryText) << option;
            EXPECT_EQ(received.depthDelta, records[i].depthDelta);
            EXPECT_EQ(received.timestamp, records[i].timestamp);
            EXPECT_STREQ(received.originName, "machine-a/app");
            std::string_view line;
            ASSERT_TRUE(
                findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", line));
            EXPECT_EQ(line, std::to_string(i + 1)) << "numbered by this forwarder";
        }
        const Subprocess::Result ended = forward.finish();
        EXPECT_EQ(ended.status, 0) << option << ": " << ended.err;
    }
}

// The collector first closes the connection while the forwarder is idle, then is away
// altogether for a while: every record arrives, once, in order.
TEST_F(SyslogToolsTest, ForwardOverTcpReconnectsAndLosesNoRecordWhileTheCollectorIsAway) {
    std::uint16_t port = 0;
    std::unique_ptr<Socket> listener = listenTcp(0, port);
    ASSERT_NE(listener, nullptr);
    Subprocess forward(throughShell({QUORVANE_FORWARD, "--tcp", "127.0.0.1:" + std::to_string(port),
                                     "-H", "machine-a", "-n", "9"}));
    ASSERT_TRUE(forward.readLine().has_value());

    std::vector<std::string> messages;
    const auto postThree = [&](int first) {
        for (int i = first; i < first + 3; ++i) {
            const TraceRecord record =
                makeRecord("step", std::to_string(i).c_str(), "app", 0, 3, i);
            ASSERT_TRUE(m_mailbox->post(&record, 0));
        }
    };
    const auto acceptAndRead = [&] {
        ASSERT_TRUE(readable(listener->fd, std::chrono::steady_clock::now() + kHangLimit));
        Socket connection(::accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC));
        ASSERT_GE(connection.fd, 0);
        ASSERT_TRUE(readFrames(connection.fd, 3, messages)) << messages.size();
    };

    postThree(1);
    acceptAndRead();
    postThree(4);
    acceptAndRead();
    listener.reset();
    postThree(7);
    const std::optional<std::string> refused = forward.readLine();
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("(TCP): cannot connect: Connection refused; trying again"),
              std::string::npos)
        << *refused;
    std::uint16_t samePort = 0;
    listener = listenTcp(port, samePort);
    ASSERT_NE(listener, nullptr);
    acceptAndRead();
    EXPECT_EQ(forward.readLine(),
              "quorvane-forward: 127.0.0.1:" + std::to_string(port) + " (TCP): sending again");

    const Subprocess::Result ended = forward.finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    ASSERT_EQ(messages.size(), 9u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        SyslogMessage message;
        ASSERT_EQ(parseSyslogMessage(messages[i], message), nullptr) << messages[i];
        EXPECT_EQ(message.text, std::to_string(i + 1));
        std::string_view line;
        ASSERT_TRUE(
            findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", line));
        EXPECT_EQ(line, std::to_string(i + 1));
    }
}

TEST_F(SyslogToolsTest, ForwardEndsOnSigintAndSigtermAndSaysWhenARecordTakenWasNotSent) {
    for (int signalNumber : {SIGINT, SIGTERM}) {
        Socket udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(udp.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t length = sizeof address;
        ::getsockname(udp.fd, reinterpret_cast<sockaddr*>(&address), &length);
        Subprocess forward(
            {QUORVANE_FORWARD, "--udp", "127.0.0.1:" + std::to_string(ntohs(address.sin_port))});
        const TraceRecord record = makeRecord("ping", "", "o", 0, 3, 0);
        ASSERT_TRUE(m_mailbox->post(&record, 0));
        ASSERT_TRUE(readable(udp.fd, std::chrono::steady_clock::now() + kHangLimit));
        forward.signal(signalNumber);
        const Subprocess::Result result = forward.finish();
        EXPECT_EQ(result.status, 0) << "signal " << signalNumber << ": " << result.err;
    }

    std::uint16_t port = 0;
    std::unique_ptr<Socket> closed = listenTcp(0, port);
    ASSERT_NE(closed, nullptr);
    closed.reset();
    Subprocess forward(
        throughShell({QUORVANE_FORWARD, "--tcp", "127.0.0.1:" + std::to_string(port)}));
    ASSERT_TRUE(forward.readLine().has_value());
    const TraceRecord record = makeRecord("held", "", "o", 0, 3, 0);
    ASSERT_TRUE(m_mailbox->post(&record, 0));
    ASSERT_TRUE(forward.readLine().has_value()) << "the refusal";
    forward.signal(SIGTERM);
    const Subprocess::Result stopped = forward.finish();
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.out.find("records 1 to 1, taken from the mailbox, were not sent"),
              std::string::npos)
        << stopped.out;
}

}  // namespace
