// quorvane-forward over TCP against collectors that misbehave: one that never accepts, one that
// resets the connection before reading what it was sent.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"
#include "tools/SyslogDestination.h"
#include "tools/SyslogMessage.h"

namespace {

using quorvane::test::kHangLimit;
using quorvane::test::Subprocess;
using tooltest::kExitFailure;
using tooltest::kToTheEnd;
using tooltest::listenTcp;
using tooltest::makeRecord;
using tooltest::readable;
using tooltest::readFrames;
using tooltest::Socket;
using tooltest::throughShell;
using tooltest::ToolsTest;

int acceptFrom(const Socket& listener) {
    if (!readable(listener.fd, std::chrono::steady_clock::now() + kHangLimit)) return -1;
    return ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
}

TEST_F(ToolsTest, ForwardGivesUpConnectingToACollectorThatNeverAcceptsAndSaysSo) {
    std::uint16_t port = 0;
    const std::unique_ptr<Socket> listener = listenTcp(0, port, 0);
    ASSERT_NE(listener, nullptr);
    // The one connection the queue holds is never accepted: the next one's SYN goes unanswered.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const Socket queued(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(queued.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const TraceRecord record = makeRecord("held", "", "o", 0, 3, 0);
    ASSERT_TRUE(m_mailbox.post(&record, 0));
    const std::string target = "127.0.0.1:" + std::to_string(port);
    Subprocess forward(throughShell({QUORVANE_FORWARD, "--tcp", target}), environment());
    ASSERT_TRUE(forward.readLine().has_value());
    const std::optional<std::string> failed =
        forward.readLine(3 * std::chrono::milliseconds(SyslogDestination::kConnectTimeoutMs));
    ASSERT_TRUE(failed.has_value()) << "no word within three connect time-outs";
    EXPECT_EQ(*failed, "quorvane-forward: " + target +
                           " (TCP): cannot connect: not accepted within " +
                           std::to_string(SyslogDestination::kConnectTimeoutMs / 1000) +
                           " s; trying again until it works");
    forward.signal(SIGTERM);
    const Subprocess::Result stopped = forward.finish();
    EXPECT_EQ(stopped.status, kExitFailure) << stopped.out;
    EXPECT_NE(stopped.out.find("records 1 to 1, taken from the mailbox, were not sent"),
              std::string::npos)
        << stopped.out;
}

// A collector that takes a connection, reads 100 bytes of it and resets it.
bool acceptAndReset(const Socket& listener) {
    const Socket connection(acceptFrom(listener));
    char head[100];
    std::size_t got = 0;
    while (connection.fd >= 0 && got < sizeof head) {
        const ssize_t part = ::read(connection.fd, head + got, sizeof head - got);
        if (part <= 0) return false;
        got += static_cast<std::size_t>(part);
    }
    const linger resetOnClose{1, 0};
    return got == sizeof head && ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &resetOnClose,
                                              sizeof resetOnClose) == 0;
}

std::vector<std::string> texts(const std::vector<std::string>& messages) {
    std::vector<std::string> texts;
    for (const std::string& text : messages) {
        SyslogMessage message;
        EXPECT_EQ(parseSyslogMessage(text, message), nullptr) << text;
        texts.emplace_back(message.text);
    }
    return texts;
}

class ForwardTcpTest : public ToolsTest {
  protected:
    void SetUp() override {
        m_listener = listenTcp(0, m_port);
        ASSERT_NE(m_listener, nullptr);
    }
    void post(int first, int last) {
        for (int i = first; i <= last; ++i) {
            const TraceRecord record = makeRecord("step", std::to_string(i), "app", 0, 3, i);
            ASSERT_TRUE(m_mailbox.post(&record, 0));
        }
    }
    std::vector<std::string> forwarder(int count) {
        return throughShell({QUORVANE_FORWARD, "--tcp", "127.0.0.1:" + std::to_string(m_port), "-n",
                             std::to_string(count)});
    }

    std::uint16_t m_port = 0;
    std::unique_ptr<Socket> m_listener;
};

// Reset while the forwarder runs, and again once it has sent its last record: each time all it
// sent goes again, and it ends well only once a connection ends in order.
TEST_F(ForwardTcpTest, WhatACollectorResetGoesAgainAsAWholeUntilAConnectionEndsInOrder) {
    const std::vector<std::string> all = {"1", "2", "3", "4", "5", "6"};
    post(1, 3);
    Subprocess forward(forwarder(6), environment());
    ASSERT_TRUE(forward.readLine().has_value());
    ASSERT_TRUE(acceptAndReset(*m_listener));
    post(4, 6);
    std::vector<std::string> messages;
    {
        const Socket second(acceptFrom(*m_listener));
        ASSERT_TRUE(readFrames(second.fd, all.size(), messages)) << messages.size();
        EXPECT_EQ(texts(messages), all);
        const linger resetOnClose{1, 0};
        ::setsockopt(second.fd, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
    }
    messages.clear();
    Socket third(acceptFrom(*m_listener));
    ASSERT_TRUE(readFrames(third.fd, kToTheEnd, messages)) << messages.size();
    EXPECT_EQ(texts(messages), all);
    third.reset();

    const Subprocess::Result ended = forward.finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    EXPECT_NE(ended.out.find("the last 3 records sent went again"), std::string::npos) << ended.out;
}

TEST_F(ForwardTcpTest, ACollectorThatResetsEveryConnectionEndsTheForwarderWithTheLossNamed) {
    post(1, 3);
    Subprocess forward(forwarder(3), environment());
    ASSERT_TRUE(forward.readLine().has_value());
    ASSERT_TRUE(acceptAndReset(*m_listener));
    // Until the forwarder stops connecting, a second after its last try.
    while (readable(m_listener->fd, std::chrono::steady_clock::now() + std::chrono::seconds(1))) {
        ASSERT_TRUE(acceptAndReset(*m_listener));
    }
    const Subprocess::Result ended = forward.finish();
    EXPECT_EQ(ended.status, kExitFailure) << ended.out;
    EXPECT_NE(ended.out.find("(TCP): records 1 to 3 were sent but may be lost: "),
              std::string::npos)
        << ended.out;
}

}  // namespace
