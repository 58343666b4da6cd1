// The tools facing a mailbox that does not move: a stopped holder of its guard, a ring whose read
// index another process scribbled on, or a tail killed while it waits on an empty ring.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Win32.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"
#include "transport/CMclMailbox.h"
#include "transport/CMclSharedMemory.h"
#include "transport/MailboxHeader.h"

namespace {

using quorvane::test::ChildProcess;
using quorvane::test::Event;
using quorvane::test::kHangLimit;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using tooltest::formatAll;
using tooltest::kExitFailure;
using tooltest::kMailSlots;
using tooltest::makeRecord;
using tooltest::throughShell;
using tooltest::ToolsTest;

// The state letter of /proc/PID/stat ('R' running, 'S' asleep, ...), or 0 when unreadable.
char processState(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    // The command name may hold parentheses: the state follows the last one.
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 0;
}

// The processor time a process has used, user and system, in clock ticks (100 a second as a
// rule); -1 when unreadable.
long cpuTicks(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    long user = -1;
    long system = -1;
    const std::size_t close = text.rfind(')');  // utime and stime, 12th and 13th after it
    return close != std::string::npos &&
                   std::sscanf(text.c_str() + close + 1,
                               "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %ld %ld", &user,
                               &system) == 2
               ? user + system
               : -1;
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

// A record stays announced in a ring it cannot be read from: the tail must wait, not spin, and
// print the record once the read index is mended.
TEST_F(ToolsTest, TailFacingAScribbledReadIndexSleepsAndCarriesOnOnceItIsMended) {
    const TraceRecord record = makeRecord("held", "by the scribble", "app", 0, 8, 0);
    ASSERT_TRUE(m_mailbox.post(&record, 0));
    CMclSharedMemory section(kMailSlots * kTraceRecordSize + kMailboxDataOffset, m_name.c_str());
    auto* header = static_cast<MailboxHeader*>(section.getView());
    header->readIndex = 0xFFFFFFFFu;

    Subprocess tail(throughShell({QUORVANE_TAIL, "-n", "1"}), environment());
    const pid_t pid = std::stoi(tail.readLine().value_or("0"));
    // A count over a second, not a timing: a spinning tail uses about every tick of it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = cpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_GE(before, 0);
    EXPECT_LT(cpuTicks(pid) - before, 20) << "clock ticks used in a second";

    header->readIndex = 0;
    const Subprocess::Result ended = tail.finish();
    EXPECT_EQ(ended.status, 0) << ended.out;
    EXPECT_EQ(ended.out, formatAll({record}));
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
