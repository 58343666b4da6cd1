// A mailbox whose guard a stopped process holds: the viewer shows its window with a note, tries
// again on each poll tick and drains once the holder is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/Win32.h"
#include "quorvane/Names.h"
#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"
#include "viewer/app/CQuorvaneApp.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

constexpr DWORD kGuardTakeMs = 1000;

// A child that takes the guard of this process's mailbox and stops itself holding it.
class StoppedGuardHolder {
  public:
    StoppedGuardHolder()
        : m_child([](quorvane::test::ChildProcess& self) {
              const std::string name =
                  std::string(CMclMailbox::kGuardPrefix) + "::" + traceMailboxName();
              HANDLE guard = CreateMutexA(nullptr, TRUE, name.c_str());
              if (guard == nullptr) {
                  return 1;
              }
              if (GetLastError() == ERROR_ALREADY_EXISTS) {
                  const DWORD wait = WaitForSingleObject(guard, kGuardTakeMs);
                  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
                      return 2;
                  }
              }
              self.signal();
              ::raise(SIGSTOP);
              return 0;
          }) {}

    bool holds() { return m_child.awaitSignal() == 'x'; }
    pid_t pid() const { return m_child.pid(); }
    // SIGKILL: the guard is abandoned, and the next opener takes it over.
    void kill() {
        m_child.kill(SIGKILL);
        m_child.wait();
    }

  private:
    quorvane::test::ChildProcess m_child;
};

// Runs `body` with standard error going to a file; returns what was written there.
std::string standardErrorOf(const std::function<void()>& body) {
    QTemporaryFile file;
    if (!file.open()) {
        return "(no file for standard error)";
    }
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    body();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return viewertest::readFile(file.fileName().toStdString());
}

TEST(MailboxWait, AGuardHeldByAStoppedProcessShowsANoteUntilItsHolderDiesThenLinesArrive) {
    StoppedGuardHolder holder;
    ASSERT_TRUE(holder.holds());
    CQuorvaneDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(dialog.isWaitingForMailbox());
    EXPECT_FALSE(dialog.hasEnded());
    ASSERT_TRUE(dialog.waitNote().isVisible());
    const std::string note = dialog.waitNote().text().toStdString();
    EXPECT_NE(note.find(std::string("\"") + traceMailboxName() + "\""), std::string::npos) << note;
    EXPECT_NE(note.find("process " + std::to_string(holder.pid())), std::string::npos) << note;
    EXPECT_EQ(note.find('\n'), std::string::npos) << "one sentence";
    // Over the top of the list, which keeps its place, with room for all of the sentence.
    const QRect list = dialog.logList().geometry();
    const int noteHeight = dialog.waitNote().heightForWidth(list.width());
    EXPECT_EQ(dialog.waitNote().geometry(), QRect(list.x(), list.y(), list.width(), noteHeight));
    EXPECT_GE(noteHeight, dialog.waitNote().minimumSizeHint().height());
    EXPECT_LT(noteHeight, list.height() / 3);

    // A tick while the holder stays stopped waits briefly and leaves everything as it was.
    dialog.OnTimer(CQuorvaneDlg::POLL_TIMER_ID);
    EXPECT_TRUE(dialog.isWaitingForMailbox());
    EXPECT_TRUE(dialog.waitNote().isVisible());
    EXPECT_FALSE(dialog.hasEnded());

    holder.kill();
    viewertest::drainNow(dialog);
    EXPECT_FALSE(dialog.isWaitingForMailbox());
    EXPECT_FALSE(dialog.waitNote().isVisible());
    ASSERT_TRUE(viewertest::postFromChild({viewertest::makeRecord("After", "wait", "o", 4)}));
    viewertest::drainNow(dialog);
    EXPECT_EQ(viewertest::rows(dialog.logList().model()),
              std::vector<std::string>{"00001\t4\t10:00:00\to\tAfter(wait)"});
}

TEST(MailboxWait, AnotherFailureWhileWaitingEndsTheViewerWithTheMessageAndStatusOne) {
    StoppedGuardHolder holder;
    ASSERT_TRUE(holder.holds());
    // Once the window runs, the holder dies and a ring of another geometry takes the name before
    // the next poll tick.
    std::unique_ptr<CMclMailbox> other;
    QTimer::singleShot(0, [&] {
        holder.kill();
        other = std::make_unique<CMclMailbox>(4, kTraceRecordSize, traceMailboxName());
    });
    CQuorvaneApp app;
    const std::string error = standardErrorOf([&] { app.InitInstance(); });
    ASSERT_NE(other, nullptr) << "the window never ran";
    EXPECT_EQ(app.exitCode(), CQuorvaneApp::kExitMailboxFailure);
    EXPECT_NE(
        error.find(std::string("quorvane-viewer: cannot open mailbox \"") + traceMailboxName() +
                   "\": an existing mailbox of that name has another slot count or slot "
                   "size (error 87: The parameter is incorrect.)\n"),
        std::string::npos)
        << error;
}

}  // namespace
