// The viewer program as a whole, run as a separate process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

#include "quorvane/Names.h"
#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/CMutexSimple.h"
#include "transport/TraceMailbox.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kPollStepMs = 20;

QProcess* startViewer(QProcess& process, const QString& mailbox) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUORVANE_MAILBOX"), mailbox);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    // Qt options on the command line must not reach the viewer's window.
    process.start(QStringLiteral(QUORVANE_VIEWER_PATH), {QStringLiteral("-reverse")});
    return &process;
}

TEST(ViewerProcess, AMailboxNameTooLongEndsWithTheMessageAndStatusOne) {
    const QString name(300, QLatin1Char('n'));
    QProcess viewer;
    startViewer(viewer, name);
    ASSERT_TRUE(viewer.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
    const QString expected =
        QStringLiteral(
            "quorvane-viewer: cannot open mailbox \"%1\": the name is longer than 229 "
            "characters (error 206: The filename or extension is too long.)\n")
            .arg(name);
    EXPECT_TRUE(QString::fromLocal8Bit(viewer.readAllStandardError()).endsWith(expected))
        << viewer.readAllStandardError().toStdString();
}

TEST(ViewerProcess, AMailboxOfAnotherGeometryEndsWithTheMessageAndStatusOne) {
    const std::string name = std::string(traceMailboxName()) + "-geometry";
    CMclMailbox other(4, kTraceRecordSize, name.c_str());
    QProcess viewer;
    startViewer(viewer, QString::fromStdString(name));
    ASSERT_TRUE(viewer.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(viewer.exitCode(), 1);
    const std::string error = viewer.readAllStandardError().toStdString();
    EXPECT_NE(error.find("quorvane-viewer: cannot open mailbox \"" + name +
                         "\": an existing mailbox of that name has another slot count or slot "
                         "size (error 87: The parameter is incorrect.)\n"),
              std::string::npos)
        << error;
    EXPECT_EQ(viewertest::readRegistryFlag(), -1) << "no window, no presence";
}

TEST(ViewerProcess, TerminationSignalEndsTheViewerAndWithdrawsEveryPresenceSignal) {
    const QString mailbox = QString::fromLatin1(traceMailboxName()) + QStringLiteral("-run");
    QProcess viewer;
    startViewer(viewer, mailbox);
    ASSERT_TRUE(viewer.waitForStarted(kStartTimeoutMs));
    QElapsedTimer waited;
    waited.start();
    while (viewertest::readRegistryFlag() != 1 && waited.elapsed() < kStartTimeoutMs) {
        QThread::msleep(20);
    }
    ASSERT_EQ(viewertest::readRegistryFlag(), 1);
    {
        CMutexSimple presence;
        EXPECT_FALSE(presence.getMutex("QuorvaneMutex_Alive"));
    }
    for (const int signalNumber : {SIGTERM}) {
        ::kill(static_cast<pid_t>(viewer.processId()), signalNumber);
    }
    ASSERT_TRUE(viewer.waitForFinished(kStartTimeoutMs));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 0);
    EXPECT_EQ(viewertest::readRegistryFlag(), 0);
    CMutexSimple presence;
    EXPECT_TRUE(presence.getMutex("QuorvaneMutex_Alive"));
    presence.releaseMutex();
    // The viewer was the mailbox's only holder: it is gone, so another geometry is accepted.
    EXPECT_NO_THROW(CMclMailbox(4, kTraceRecordSize, mailbox.toLatin1().constData()));
}

TEST(ViewerProcess, InterruptAndHangUpEndTheViewerToo) {
    for (const int signalNumber : {SIGINT, SIGHUP}) {
        QProcess viewer;
        startViewer(viewer, QString::fromLatin1(traceMailboxName()) + QStringLiteral("-sig"));
        ASSERT_TRUE(viewer.waitForStarted(kStartTimeoutMs));
        QElapsedTimer waited;
        waited.start();
        while (viewertest::readRegistryFlag() != 1 && waited.elapsed() < kStartTimeoutMs) {
            QThread::msleep(20);
        }
        ::kill(static_cast<pid_t>(viewer.processId()), signalNumber);
        ASSERT_TRUE(viewer.waitForFinished(kStartTimeoutMs)) << signalNumber;
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit) << signalNumber;
        EXPECT_EQ(viewer.exitCode(), 0) << signalNumber;
        EXPECT_EQ(viewertest::readRegistryFlag(), 0) << signalNumber;
    }
}

TEST(ViewerPresence, APresenceMutexHeldElsewhereCostsSixPausesThenTheViewerWorks) {
    quorvane::test::ChildProcess holder([](quorvane::test::ChildProcess& self) {
        CMutexSimple presence;
        if (!presence.getMutex(PresenceKeeper::kMutexName)) {
            return 1;
        }
        self.signal();
        self.awaitSignal();
        return 0;
    });
    ASSERT_EQ(holder.awaitSignal(), 'x');
    QElapsedTimer started;
    started.start();
    CQuorvaneDlg dialog;
    const qint64 startUpMs = started.elapsed();
    EXPECT_GE(startUpMs, PresenceKeeper::kStartAttempts * PresenceKeeper::kStartRetryMs - 50);
    EXPECT_EQ(viewertest::readRegistryFlag(), 1);
    ASSERT_TRUE(viewertest::postFromChild({viewertest::makeRecord("Still", "works", "o", 2)}));
    viewertest::drainNow(dialog);
    EXPECT_EQ(dialog.lineCount(), 1u);
    holder.signal();
    EXPECT_EQ(holder.wait(), 0);
}

// True when another process holds the presence mutex; asked from a child, since this thread
// would obtain a mutex it holds itself again.
bool presenceHeldElsewhere() {
    quorvane::test::ChildProcess child([](quorvane::test::ChildProcess&) {
        CMutexSimple presence;
        return presence.getMutex(PresenceKeeper::kMutexName) ? 0 : 1;
    });
    return child.wait() == 1;
}

// True once a viewer process holds the presence mutex and has set the registry flag, which it
// does just after taking the mutex.
bool viewerAnnounced() {
    return presenceHeldElsewhere() && viewertest::readRegistryFlag() == 1;
}

// Turns the event loop until `condition` holds; false when it still does not after the limit.
bool turnEventLoopUntil(const std::function<bool()>& condition) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > kStartTimeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollStepMs);
        QThread::msleep(kPollStepMs);
    }
    return true;
}

void endViewer(QProcess& viewer, int signalNumber) {
    ::kill(static_cast<pid_t>(viewer.processId()), signalNumber);
    ASSERT_TRUE(viewer.waitForFinished(kStartTimeoutMs));
}

TEST(ViewerPresence, ASecondViewerTakesThePresenceOnceTheFirstEndsAndTheLastClearsTheFlag) {
    QProcess first;
    startViewer(first, QString::fromLatin1(traceMailboxName()) + QStringLiteral("-one"));
    ASSERT_TRUE(turnEventLoopUntil(viewerAnnounced));

    auto second = std::make_unique<CQuorvaneDlg>();
    EXPECT_FALSE(second->presence().holdsMutex());
    EXPECT_TRUE(second->presence().isRetrying());
    endViewer(first, SIGTERM);
    EXPECT_TRUE(turnEventLoopUntil([&] { return second->presence().holdsMutex(); }))
        << "the second viewer never took the presence over";
    EXPECT_FALSE(second->presence().isRetrying());
    EXPECT_TRUE(presenceHeldElsewhere()) << "from a client's point of view";
    EXPECT_EQ(viewertest::readRegistryFlag(), 1) << "a viewer runs, though the first has ended";
    second.reset();
    EXPECT_EQ(viewertest::readRegistryFlag(), 0);
}

TEST(ViewerPresence, AfterAKilledViewerAndOverlappingOnesTheLastToEndLeavesTheFlagZero) {
    const QString mailbox = QString::fromLatin1(traceMailboxName()) + QStringLiteral("-killed");
    QProcess killed;
    startViewer(killed, mailbox);
    ASSERT_TRUE(turnEventLoopUntil(viewerAnnounced));
    endViewer(killed, SIGKILL);
    EXPECT_EQ(viewertest::readRegistryFlag(), 1) << "a killed viewer cannot withdraw";

    QProcess last;
    startViewer(last, mailbox);
    ASSERT_TRUE(turnEventLoopUntil(presenceHeldElsewhere));
    {
        // A viewer that ends while another still runs leaves the flag set.
        CQuorvaneDlg overlapping;
        EXPECT_FALSE(overlapping.presence().holdsMutex());
    }
    EXPECT_EQ(viewertest::readRegistryFlag(), 1);
    endViewer(last, SIGTERM);
    EXPECT_EQ(last.exitCode(), 0);
    EXPECT_EQ(viewertest::readRegistryFlag(), 0) << "the flag read at start was 1";
}

}  // namespace

namespace {

struct Finished {
    int status = -1;
    QString out;
    QString err;
};

Finished runViewer(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(QUORVANE_VIEWER_PATH), arguments);
    if (!viewer.waitForFinished(kStartTimeoutMs)) return {};
    return {viewer.exitStatus() == QProcess::NormalExit ? viewer.exitCode() : -1,
            QString::fromLocal8Bit(viewer.readAllStandardOutput()),
            QString::fromLocal8Bit(viewer.readAllStandardError())};
}

TEST(ViewerCommandLine, HelpVersionUsageErrorsAndAMissingDisplayNeverOpenAWindow) {
    // No display at all: the informational options still work, and running says why it cannot.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(QString::fromLatin1(name));

    const Finished help = runViewer({QStringLiteral("--help")}, bare);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: quorvane-viewer")))
        << help.out.toStdString();

    const Finished version = runViewer({QStringLiteral("--version")}, bare);
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("quorvane-viewer (Quorvane) ")));
    EXPECT_TRUE(version.out.contains(QStringLiteral("License MIT")));

    const Finished noDisplay = runViewer({}, bare);
    EXPECT_EQ(noDisplay.status, 1);
    EXPECT_TRUE(noDisplay.err.startsWith(QStringLiteral("quorvane-viewer: no display")))
        << noDisplay.err.toStdString();
    EXPECT_EQ(noDisplay.err.count(QLatin1Char('\n')), 1);

    // An unknown option is a usage error, after a file operand too.
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("stray.log"), QStringLiteral("--bogus")}}) {
        const Finished usage = runViewer(wrong, bare);
        EXPECT_EQ(usage.status, 2) << wrong.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(usage.err.contains(QStringLiteral("'--bogus'"))) << usage.err.toStdString();
    }
}

}  // namespace
