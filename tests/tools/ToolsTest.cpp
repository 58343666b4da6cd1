// The command-line tools run as real processes against a mailbox this test holds open, so that
// records outlive the tool that posted them.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "transport/CMclMailbox.h"

namespace {

using quorvane::test::ChildProcess;
using quorvane::test::Event;
using quorvane::test::kHangLimit;
using quorvane::test::run;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using tooltest::formatAll;
using tooltest::makeRecord;
using tooltest::throughShell;

constexpr std::uint32_t kMailSlots = 32768;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The state letter of /proc/PID/stat ('R' running, 'S' asleep, ...), or 0 when unreadable.
char processState(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    // The command name may hold parentheses: the state follows the last one.
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 0;
}

// The records waiting in a mailbox, read from its pending count without taking any.
class PendingCount {
  public:
    explicit PendingCount(const std::string& mailbox)
        : m_semaphore(CreateSemaphoreA(
              nullptr, 0, kMailSlots,
              (std::string(CMclMailbox::kPendingCountPrefix) + "::" + mailbox).c_str())) {}
    ~PendingCount() {
        if (m_semaphore != nullptr) CloseHandle(m_semaphore);
    }
    LONG get() const {
        LONG count = -1;
        return GetSemaphoreCount(m_semaphore, &count) ? count : -1;
    }

  private:
    HANDLE m_semaphore;
};

// A child process that owns the guard mutex of `mailbox` and then stops itself, as a client
// stopped in a debugger in the middle of a post would.
class StoppedGuardHolder {
  public:
    explicit StoppedGuardHolder(const std::string& mailbox)
        : m_child([&](ChildProcess&) {
              const std::string guard = std::string(CMclMailbox::kGuardPrefix) + "::" + mailbox;
              HANDLE mutex = CreateMutexA(nullptr, TRUE, guard.c_str());
              if (mutex == nullptr) return 1;
              // The initial owner counts only for the process that creates the mutex.
              if (GetLastError() == ERROR_ALREADY_EXISTS &&
                  WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) {
                  return 2;
              }
              m_holding.notify();
              raise(SIGSTOP);
              return 0;
          }) {}

    bool holding() { return m_holding.await(); }
    pid_t pid() const { return m_child.pid(); }

  private:
    Event m_holding;
    ChildProcess m_child;
};

class ToolsTest : public ::testing::Test {
  protected:
    std::vector<std::pair<std::string, std::string>> environment() const {
        return {{"QUORVANE_MAILBOX", m_name}};
    }

    std::vector<TraceRecord> drain() {
        std::vector<TraceRecord> records;
        TraceRecord record{};
        while (m_mailbox.receive(&record, 0)) records.push_back(record);
        return records;
    }

    const std::string m_name = uniqueName("tools");
    CMclMailbox m_mailbox{kMailSlots, kTraceRecordSize, m_name.c_str()};
};

TEST_F(ToolsTest, SendRawIntoTailPrintsEachRecordAsTheViewerShowsIt) {
    std::vector<TraceRecord> records = {
        makeRecord("main", "argc=2", "app", 1, 100, 1700000000),
        makeRecord("parse", "", "app", 1, 100, 1700000001),
        makeRecord("other", "sender zero", "lib", 0, 0, 0),
        makeRecord("token", "'x'", "app", 0, 100, 1700000002),
        makeRecord("parse", "", "app", -1, 100, 1700000003),
        makeRecord("main", "", "app", -1, 100, 1700000004),
        makeRecord("", "", "", -1, 7, 86399),
    };
    // Bytes the viewer never reads travel unchanged and change nothing.
    std::memset(records[0].reserved1, 0xAB, sizeof records[0].reserved1);
    std::memset(records[0].reserved2, 0xCD, sizeof records[0].reserved2);

    Subprocess tail({QUORVANE_TAIL, "-n", std::to_string(records.size())}, environment());
    const Subprocess::Result send =
        run({QUORVANE_SEND, "--raw"},
            std::string_view(reinterpret_cast<const char*>(records.data()),
                             records.size() * sizeof(TraceRecord)),
            environment());
    EXPECT_EQ(send.status, 0) << send.err;
    const Subprocess::Result printed = tail.finish();
    EXPECT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.out, formatAll(records));
    EXPECT_TRUE(drain().empty()) << "tail took exactly its count";
}

TEST_F(ToolsTest, SendPostsOneRecordWithTheGivenFields) {
    const Subprocess::Result sent =
        run({QUORVANE_SEND, "-o", "script", "-k", "9", "-d", "-3", "finish", "all", "done"}, {},
            environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const Subprocess::Result entered = run({QUORVANE_SEND, "--enter", "begin"}, {}, environment());
    ASSERT_EQ(entered.status, 0) << entered.err;

    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].entryName, "finish");
    EXPECT_STREQ(records[0].entryText, "all done");
    EXPECT_STREQ(records[0].originName, "script");
    EXPECT_EQ(records[0].senderKey, 9u);
    EXPECT_EQ(records[0].depthDelta, -3);

    EXPECT_STREQ(records[1].entryText, "");
    EXPECT_EQ(records[1].depthDelta, 1);
    EXPECT_STREQ(records[1].originName, "quorvane-send");
    EXPECT_EQ(records[1].senderKey, static_cast<std::uint32_t>(getpid()))
        << "the calling process is the default sender";
}

TEST_F(ToolsTest, SendLinesPostsOneRecordPerInputLine) {
    const Subprocess::Result sent = run({QUORVANE_SEND, "--lines", "--leave", "-k", "42", "log"},
                                        "first line\n\nlast without newline", environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 3u);
    const char* texts[] = {"first line", "", "last without newline"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_STREQ(records[i].entryName, "log");
        EXPECT_STREQ(records[i].entryText, texts[i]);
        EXPECT_EQ(records[i].depthDelta, -1);
        EXPECT_EQ(records[i].senderKey, 42u);
    }
}

TEST_F(ToolsTest, SendRawRejectsATruncatedRecordAfterPostingTheWholeOnes) {
    const TraceRecord whole = makeRecord("whole", "", "o", 0, 1, 1);
    std::string input(reinterpret_cast<const char*>(&whole), sizeof whole);
    input.append(100, 'x');
    const Subprocess::Result sent = run({QUORVANE_SEND, "--raw"}, input, environment());
    EXPECT_EQ(sent.status, kExitFailure);
    EXPECT_NE(sent.err.find("ends inside a record (100 of 732 bytes)"), std::string::npos)
        << sent.err;
    const std::vector<TraceRecord> records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].entryName, "whole");
}

TEST_F(ToolsTest, SendWithTimeoutGivesUpOnAFullMailbox) {
    const TraceRecord filler = makeRecord("fill", "", "o", 0, 1, 1);
    for (std::uint32_t i = 0; i < kMailSlots; ++i) ASSERT_TRUE(m_mailbox.post(&filler, 0));

    const Subprocess::Result full =
        run({QUORVANE_SEND, "--timeout", "20", "late"}, {}, environment());
    EXPECT_EQ(full.status, kExitFailure);
    EXPECT_NE(full.err.find("record 1 not posted"), std::string::npos) << full.err;

    TraceRecord taken{};
    ASSERT_TRUE(m_mailbox.receive(&taken, 0));
    const Subprocess::Result room =
        run({QUORVANE_SEND, "--timeout", "20", "late"}, {}, environment());
    EXPECT_EQ(room.status, 0) << room.err;
}

TEST_F(ToolsTest, ToolsReportAMailboxThatCannotBeOpened) {
    const std::vector<std::pair<std::string, std::string>> tooLong = {
        {"QUORVANE_MAILBOX", std::string(CMclMailbox::kMaxNameLength + 1, 'n')}};
    const std::vector<std::vector<std::string>> invocations = {{QUORVANE_SEND, "x"},
                                                               {QUORVANE_TAIL, "-n", "1"}};
    for (const auto& arguments : invocations) {
        const Subprocess::Result result = run(arguments, {}, tooLong);
        EXPECT_EQ(result.status, kExitFailure) << arguments[0];
        EXPECT_NE(result.err.find("cannot open mailbox"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("error 206"), std::string::npos) << result.err;
    }
}

TEST_F(ToolsTest, TailEndsCleanlyOnSigintAndSigterm) {
    for (int signalNumber : {SIGINT, SIGTERM}) {
        Subprocess tail({QUORVANE_TAIL}, environment());
        const TraceRecord record = makeRecord("ping", "", "o", 0, 3, 0);
        ASSERT_TRUE(m_mailbox.post(&record, 0));
        // Once a line is out, the tail has its handlers and the mailbox.
        const std::optional<std::string> line = tail.readLine();
        ASSERT_TRUE(line.has_value());
        EXPECT_NE(line->find("ping()"), std::string::npos) << *line;
        tail.signal(signalNumber);
        const Subprocess::Result result = tail.finish();
        EXPECT_EQ(result.status, 0) << "signal " << signalNumber << ": " << result.err;
    }
}

TEST_F(ToolsTest, TailStopsAfterAnIdleSpellOrACountOfZero) {
    const Subprocess::Result idle = run({QUORVANE_TAIL, "--idle", "200"}, {}, environment());
    EXPECT_EQ(idle.status, 0) << idle.err;
    EXPECT_EQ(idle.out, "");

    const TraceRecord record = makeRecord("kept", "", "o", 0, 3, 0);
    ASSERT_TRUE(m_mailbox.post(&record, 0));
    const Subprocess::Result none = run({QUORVANE_TAIL, "-n", "0"}, {}, environment());
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(drain().size(), 1u) << "a count of zero takes nothing";
}

TEST_F(ToolsTest, UsageErrorsExitWithTwoAndHelpExitsWithZero) {
    const std::vector<std::vector<std::string>> misuses = {
        {QUORVANE_SEND},
        {QUORVANE_SEND, "--delta", "up", "x"},
        {QUORVANE_SEND, "--raw", "name"},
        {QUORVANE_SEND, "--bogus", "x"},
        {QUORVANE_TAIL, "extra"},
        {QUORVANE_TAIL, "-n", "-1"},
        {QUORVANE_SEND, "--delta", " -5", "x"},
        {QUORVANE_SEND, "--timeout", " 5", "x"},
        {QUORVANE_SEND, "--sender-key", "+5", "x"},
        {QUORVANE_TAIL, "--idle", "5 "},
        {QUORVANE_DEMO, "--seconds", "soon"},
        {QUORVANE_FORWARD, "--tcp", "no-port"},
        {QUORVANE_FORWARD, "--udp", "[::1]514"},
        {QUORVANE_FORWARD, "--idle", "-1"},
        {QUORVANE_SEND, "--confirm", "x"},
        {QUORVANE_SEND, "--syslog", "x"},
    };
    for (const auto& arguments : misuses) {
        const Subprocess::Result result = run(arguments, {}, environment());
        EXPECT_EQ(result.status, kExitUsage) << arguments[1] << " '" << arguments[2] << "'";
        EXPECT_NE(result.err.find("--help' for more information"), std::string::npos) << result.err;
    }
    for (const char* tool : {QUORVANE_SEND, QUORVANE_TAIL, QUORVANE_FORWARD, QUORVANE_DEMO}) {
        const Subprocess::Result help = run({tool, "--help"});
        EXPECT_EQ(help.status, 0) << tool;
        EXPECT_EQ(help.out.rfind("Usage: quorvane-", 0), 0u) << help.out;
        const Subprocess::Result version = run({tool, "--version"});
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_NE(version.out.find("(Quorvane)"), std::string::npos) << version.out;
    }
    EXPECT_TRUE(drain().empty());
}

TEST_F(ToolsTest, DemoTracesBalancedNestedScopesFromSeveralThreads) {
    const Subprocess::Result demo = run({QUORVANE_DEMO, "--seconds", "1"}, {}, environment());
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.err.find("posted"), std::string::npos) << demo.err;

    std::map<std::uint32_t, int> depth;
    int deepest = 0;
    const std::vector<TraceRecord> records = drain();
    for (const TraceRecord& record : records) {
        int& current = depth[record.senderKey];
        current += record.depthDelta;
        EXPECT_GE(current, 0) << record.entryName;
        deepest = std::max(deepest, current);
        EXPECT_STREQ(record.originName, "quorvane-demo");
    }
    EXPECT_GE(depth.size(), 3u) << "three threads trace";
    EXPECT_GE(deepest, 2) << "scopes nest";
    for (const auto& [sender, final] : depth) EXPECT_EQ(final, 0) << "sender " << sender;
}

TEST_F(ToolsTest, HelpAndVersionThatCannotBeWrittenExitWithOneAndSayWhy) {
    for (const char* tool : {QUORVANE_SEND, QUORVANE_TAIL, QUORVANE_FORWARD, QUORVANE_DEMO}) {
        for (const char* option : {"--help", "--version"}) {
            const Subprocess::Result full =
                run({"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", tool, option});
            EXPECT_EQ(full.status, kExitFailure) << tool << " " << option;
            EXPECT_NE(full.err.find("error writing standard output"), std::string::npos)
                << tool << " " << option << ": " << full.err;
        }
    }
}

TEST_F(ToolsTest, ARecordWithLineBreaksSentAndTailedStaysOneLine) {
    const Subprocess::Result sent =
        run({QUORVANE_SEND, "-o", "or\rigin", "-k", "5", "two\nlines", "text\r\nAfter: forged"}, {},
            environment());
    ASSERT_EQ(sent.status, 0) << sent.err;
    const Subprocess::Result tailed = run({QUORVANE_TAIL, "--count=1"}, {}, environment());
    ASSERT_EQ(tailed.status, 0) << tailed.err;
    EXPECT_EQ(std::count(tailed.out.begin(), tailed.out.end(), '\n'), 1) << tailed.out;
    EXPECT_EQ(tailed.out.find('\r'), std::string::npos) << tailed.out;
    EXPECT_NE(tailed.out.find("\tor\\rigin\ttwo\\nlines(text\\r\\nAfter: forged)\n"),
              std::string::npos)
        << tailed.out;
}

// The tail is killed once it has taken every record and gone to sleep on the empty mailbox: the
// pipe must by then hold every line, not only a full buffer's worth.
TEST_F(ToolsTest, TailKilledWhileTheMailboxIsEmptyHasPassedOnEveryRecordItTook) {
    std::vector<TraceRecord> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back(makeRecord("step", std::to_string(i).c_str(), "app", 0, 8, 0));
    }
    for (const TraceRecord& record : records) ASSERT_TRUE(m_mailbox.post(&record, 0));

    Subprocess tail(throughShell({QUORVANE_TAIL}), environment());
    const std::optional<std::string> pidLine = tail.readLine();
    ASSERT_TRUE(pidLine.has_value());
    const pid_t pid = std::stoi(*pidLine);
    const PendingCount pending(m_name);
    const auto limit = std::chrono::steady_clock::now() + kHangLimit;
    while (pending.get() != 0 || processState(pid) != 'S') {
        ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the tail never went to sleep";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    tail.signal(SIGKILL);
    const Subprocess::Result killed = tail.finish();
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    EXPECT_EQ(killed.out, formatAll(records));
}

TEST_F(ToolsTest, ToolsFacingAStoppedGuardHolderNeitherHangNorWaitSilently) {
    const std::string held = uniqueName("held");
    StoppedGuardHolder holder(held);
    ASSERT_TRUE(holder.holding());
    const std::vector<std::pair<std::string, std::string>> heldMailbox = {
        {"QUORVANE_MAILBOX", held}};
    const std::string holderText = "process " + std::to_string(holder.pid()) + " ";

    Subprocess send({QUORVANE_SEND, "--timeout=300", "name", "text"}, heldMailbox);
    const Subprocess::Result gaveUp = send.finish(std::chrono::seconds(5));
    EXPECT_EQ(gaveUp.status, kExitFailure) << gaveUp.err;
    EXPECT_NE(gaveUp.err.find(holderText), std::string::npos) << gaveUp.err;
    EXPECT_NE(gaveUp.err.find("error 1460"), std::string::npos) << gaveUp.err;

    Subprocess tail(throughShell({QUORVANE_TAIL}), heldMailbox);
    ASSERT_TRUE(tail.readLine().has_value());
    const std::optional<std::string> waiting = tail.readLine();
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ(waiting->rfind("quorvane-tail: waiting: cannot open mailbox", 0), 0u) << *waiting;
    EXPECT_NE(waiting->find(holderText), std::string::npos) << *waiting;
    tail.signal(SIGTERM);
    const Subprocess::Result stopped = tail.finish(std::chrono::seconds(5));
    EXPECT_EQ(stopped.status, kExitFailure) << "a tail interrupted before opening fails";
    EXPECT_EQ(stopped.out.find("waiting"), std::string::npos) << "said once: " << stopped.out;
}

// quorvane-send without --timeout outlasts the mailbox's own open time-out while the guard is
// held, then posts once its holder is gone.
TEST_F(ToolsTest, SendWithoutTimeoutWaitsOutAStoppedGuardHolderAndThenPosts) {
    const std::string held = uniqueName("held");
    CMclMailbox keeper(kMailSlots, kTraceRecordSize, held.c_str());
    auto holder = std::make_unique<StoppedGuardHolder>(held);
    ASSERT_TRUE(holder->holding());

    Subprocess send(throughShell({QUORVANE_SEND, "late", "but", "posted"}),
                    {{"QUORVANE_MAILBOX", held}});
    ASSERT_TRUE(send.readLine().has_value());
    const std::optional<std::string> waiting = send.readLine();
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ(waiting->rfind("quorvane-send: waiting: ", 0), 0u) << *waiting;
    // Wait out a whole default open time-out of our own before letting go.
    try {
        CMclMailbox opener(kMailSlots, kTraceRecordSize, held.c_str(), nullptr,
                           CMclMailbox::kDefaultOpenTimeoutMs);
        ADD_FAILURE() << "the guard was not held";
    } catch (DWORD code) {
        EXPECT_EQ(code, ERROR_TIMEOUT);
    }
    holder.reset();

    const Subprocess::Result posted = send.finish();
    EXPECT_EQ(posted.status, 0) << posted.out;
    TraceRecord record{};
    ASSERT_TRUE(keeper.receive(&record, 0));
    EXPECT_STREQ(record.entryName, "late");
    EXPECT_STREQ(record.entryText, "but posted");
}

}  // namespace
