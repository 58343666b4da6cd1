// Readers of one mailbox as real processes: quorvane-tail names the reader already running, never
// one that was killed, and counts as a reader for quorvane-send --syslog --confirm; so does
// quorvane-forward. In a name space of their own, so that the presence mutex of another test (or
// a desktop) is not seen.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/Names.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/PrivateNamespaceTest.h"
#include "tests/tools/ToolTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/ReaderPresence.h"

namespace {

using quorvane::test::kHangLimit;
using quorvane::test::run;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using tooltest::throughShell;

class ReadersTest : public tooltest::PrivateNamespaceTest {
  protected:
    ReadersTest() : PrivateNamespaceTest("readers") {}

    // Waits until the reader `pid` has made itself known.
    bool awaitReader(const std::string& pid) {
        const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const MarkedProcess& reader : runningReaders(m_name))
                if (std::to_string(reader.processId) == pid) return true;
            ::usleep(10'000);
        }
        return false;
    }
};

TEST_F(ReadersTest, TailStartingBesideAnotherReaderNamesItButNeverOneThatWasKilled) {
    Subprocess first(throughShell({QUORVANE_TAIL}));
    const std::optional<std::string> firstPid = first.readLine();
    ASSERT_TRUE(firstPid.has_value());
    ASSERT_TRUE(awaitReader(*firstPid));

    const Subprocess::Result second = run({QUORVANE_TAIL, "--idle", "200"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "quorvane-tail: another reader of the mailbox " + m_name +
                              " runs: quorvane-tail (pid " + *firstPid +
                              "); each record goes to one reader only\n");

    first.signal(SIGKILL);
    EXPECT_EQ(first.finish().status, 128 + SIGKILL);
    const Subprocess::Result third = run({QUORVANE_TAIL, "--idle", "200"});
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(third.err, "") << "a killed reader is not named";
    EXPECT_TRUE(std::filesystem::is_empty(m_directory + "/quorvane/marks"))
        << "what the killed reader left is cleared away";
}

TEST_F(ReadersTest, SendSyslogConfirmsEverythingWhileOnlyATailRunsAndStopsOnceItIsKilled) {
    Subprocess send({QUORVANE_SEND, "--syslog", "--confirm", "--timeout", "100"});
    ASSERT_EQ(send.readLine(), "OK");
    const auto trace = [](int number) {
        return "<15>1 - a app 7 trace [quorvane@32473 line=\"" + std::to_string(number) +
               "\" depth=\"0\" name=\"n\" time=\"1\"] m" + std::to_string(number) + "\n";
    };
    ASSERT_TRUE(send.writeInput(trace(0)));
    ASSERT_EQ(send.readLine(), "no Quorvane viewer is running");

    Subprocess tail({QUORVANE_TAIL});
    // The sender reuses its finding for a moment: pass the message again, as rsyslog does.
    auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    std::optional<std::string> answer;
    do {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        ASSERT_TRUE(send.writeInput(trace(0)));
        answer = send.readLine();
        ASSERT_TRUE(answer.has_value());
    } while (*answer != "OK");

    constexpr int kMessages = 200;
    for (int number = 1; number <= kMessages; ++number) {
        ASSERT_TRUE(send.writeInput(trace(number)));
        ASSERT_EQ(send.readLine(), "OK") << number;
    }
    for (int number = 0; number <= kMessages; ++number) {
        const std::optional<std::string> line = tail.readLine();
        ASSERT_TRUE(line.has_value()) << number;
        EXPECT_NE(line->find("(m" + std::to_string(number) + ")"), std::string::npos) << *line;
    }

    tail.signal(SIGKILL);
    deadline = std::chrono::steady_clock::now() + kHangLimit;
    do {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        ASSERT_TRUE(send.writeInput(trace(0)));
        answer = send.readLine();
        ASSERT_TRUE(answer.has_value());
    } while (*answer == "OK");
    EXPECT_EQ(*answer, "no Quorvane viewer is running") << "a killed tail is no reader";
    EXPECT_EQ(send.finish().status, 0);
}

TEST_F(ReadersTest, ForwardHoldsThePresenceNamesTheReaderBeforeItAndIsNamedByTheTail) {
    // A UDP destination: nothing is sent while the mailbox stays empty.
    Subprocess forward(throughShell({QUORVANE_FORWARD, "--udp", "127.0.0.1:9"}));
    const std::optional<std::string> forwardPid = forward.readLine();
    ASSERT_TRUE(forwardPid.has_value());
    ASSERT_TRUE(awaitReader(*forwardPid));
    const ReaderPresence probe("probe", m_name);
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    while (std::to_string(probe.presenceHolder()) != *forwardPid) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the forwarder holds no presence";
        ::usleep(10'000);
    }

    const std::string named =
        " runs: quorvane-forward (pid " + *forwardPid + "); each record goes to one reader only\n";
    const Subprocess::Result tail = run({QUORVANE_TAIL, "--idle", "200"});
    EXPECT_EQ(tail.status, 0) << tail.err;
    EXPECT_EQ(tail.err, "quorvane-tail: another reader of the mailbox " + m_name + named);
    const Subprocess::Result second =
        run({QUORVANE_FORWARD, "--udp", "127.0.0.1:9", "--idle", "200"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "quorvane-forward: another reader of the mailbox " + m_name + named);

    forward.signal(SIGTERM);
    EXPECT_EQ(forward.finish().status, 0);
    EXPECT_EQ(probe.presenceHolder(), 0U) << "the forwarder lets the presence go as it ends";
}

}  // namespace
