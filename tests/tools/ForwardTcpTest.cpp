// quorvane-forward over TCP against collectors that misbehave: one that never accepts, ones that
// reset connections before reading what they carry.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/support/RsyslogRig.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"
#include "tools/syslog/SyslogDestination.h"
#include "tools/syslog/SyslogMessage.h"

namespace {

using quorvane::test::kHangLimit;
using quorvane::test::Subprocess;
using tooltest::kExitFailure;
using tooltest::readable;
using tooltest::Socket;
using tooltest::throughShell;

class ForwardTcpTest : public tooltest::ToolsTest {
  protected:
    void SetUp() override { ASSERT_NE(m_listener = tooltest::listenTcp(0, m_port, 0), nullptr); }
    // Posts records whose texts are the numbers `first` to `last`.
    void post(int first, int last) {
        for (int i = first; i <= last; ++i) {
            const TraceRecord record =
                tooltest::makeRecord("step", std::to_string(i), "a", 0, 3, i);
            ASSERT_TRUE(m_mailbox.post(&record, 0));
        }
    }
    std::vector<std::string> forwarder(const std::string& count) const {
        return throughShell(
            {QUORVANE_FORWARD, "--tcp", "127.0.0.1:" + std::to_string(m_port), "-n", count});
    }
    int accept() const {
        if (!readable(m_listener->fd, std::chrono::steady_clock::now() + kHangLimit)) return -1;
        return ::accept4(m_listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    // Accepts a connection, reads `frames` frames of it, and resets it.
    std::vector<std::string> readAndReset(std::size_t frames) const {
        const Socket connection(accept());
        std::vector<std::string> messages;
        tooltest::readFrames(connection.fd, frames, messages);  // more may follow them
        const linger resetOnClose{1, 0};
        ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
        return texts(messages);
    }
    static std::vector<std::string> texts(const std::vector<std::string>& messages) {
        std::vector<std::string> texts;
        for (const std::string& text : messages) {
            SyslogMessage message;
            EXPECT_EQ(parseSyslogMessage(text, message), nullptr) << text;
            texts.emplace_back(message.text);
        }
        return texts;
    }

    std::uint16_t m_port = 0;
    std::unique_ptr<Socket> m_listener;
};

TEST_F(ForwardTcpTest, ACollectorThatNeverAcceptsIsGivenUpOnWithAWord) {
    // The one connection the queue holds is never accepted: the next one's SYN goes unanswered.
    const Socket queued(quorvane::test::connectTo(m_port));
    post(1, 1);
    Subprocess forward(forwarder("1"), environment());
    ASSERT_TRUE(forward.readLine().has_value());
    const auto failed =
        forward.readLine(3 * std::chrono::milliseconds(SyslogDestination::kConnectTimeoutMs));
    ASSERT_TRUE(failed.has_value()) << "no word within three connect time-outs";
    EXPECT_NE(failed->find("(TCP): cannot connect: not accepted within 5 s; trying again"),
              std::string::npos)
        << *failed;
    forward.signal(SIGTERM);
    const Subprocess::Result stopped = forward.finish();
    EXPECT_EQ(stopped.status, kExitFailure) << stopped.out;
    EXPECT_NE(stopped.out.find("records 1 to 1, taken from the mailbox, were not sent"),
              std::string::npos)
        << stopped.out;
}

// Reset while the forwarder runs, and again after its last record: each time all it sent goes
// again, and it ends well only once a connection ends in order.
TEST_F(ForwardTcpTest, WhatACollectorResetGoesAgainAsAWholeUntilAConnectionEndsInOrder) {
    const std::vector<std::string> all = {"1", "2", "3", "4", "5", "6"};
    post(1, 3);
    Subprocess forward(forwarder("6"), environment());
    EXPECT_EQ(readAndReset(1), std::vector<std::string>(all.begin(), all.begin() + 1));
    post(4, 6);
    EXPECT_EQ(readAndReset(6), all);
    Socket last(accept());
    std::vector<std::string> messages;
    ASSERT_TRUE(tooltest::readFrames(last.fd, tooltest::kToTheEnd, messages));
    EXPECT_EQ(texts(messages), all);
    last.reset();
    const Subprocess::Result ended = forward.finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    EXPECT_NE(ended.out.find("the last 3 records sent went again"), std::string::npos) << ended.out;
}

TEST_F(ForwardTcpTest, ACollectorThatResetsEveryConnectionEndsTheForwarderWithTheLossNamed) {
    post(1, 3);
    Subprocess forward(forwarder("3"), environment());
    // Until the forwarder stops connecting, a second after its last try.
    do {
        EXPECT_EQ(readAndReset(1).size(), 1u);
    } while (readable(m_listener->fd, std::chrono::steady_clock::now() + std::chrono::seconds(1)));
    const Subprocess::Result ended = forward.finish();
    EXPECT_EQ(ended.status, kExitFailure) << ended.out;
    EXPECT_NE(ended.out.find("(TCP): records 1 to 3 were sent but may be lost: "),
              std::string::npos)
        << ended.out;
}

}  // namespace
