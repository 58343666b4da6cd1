// Saved logs in read-only windows: the command line, the window itself, opening from a window by
// menu or drop, and the program run on files as a separate process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/app/CQuorvaneApp.h"
#include "viewer/app/CommandLine.h"
#include "viewer/files/SavedLog.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace {

constexpr int kProcessTimeoutMs = 10000;
constexpr int kPollStepMs = 20;

using viewertest::writeFile;

using viewertest::closeSavedLogWindows;
using viewertest::savedLogWindows;

class SavedLogWindowTest : public ::testing::Test {
  protected:
    void TearDown() override { closeSavedLogWindows(); }

    QString write(const char* name, const std::string& bytes) const {
        QString path = m_folder.filePath(QString::fromLatin1(name));
        writeFile(path.toStdString(), bytes);
        return path;
    }

    QTemporaryDir m_folder;
};

TEST(SavedLogCommandLine, OperandsAreFilesAndOptionsAfterThemOrUnknownOnesStillFail) {
    const CommandLine files = CommandLine::parse(
        {"quorvane-viewer", "a.log", "-style", "fusion", "b.txt", "--", "--help", "-x"});
    EXPECT_EQ(files.action, CommandLine::Action::Run);
    EXPECT_EQ(files.files, (std::vector<std::string>{"a.log", "b.txt", "--help", "-x"}));

    const CommandLine unknown = CommandLine::parse({"quorvane-viewer", "a.log", "--bogus"});
    EXPECT_EQ(unknown.action, CommandLine::Action::UsageError);
    EXPECT_EQ(unknown.error, "unrecognized option '--bogus'");

    EXPECT_EQ(CommandLine::parse({"quorvane-viewer", "a.log", "--help"}).action,
              CommandLine::Action::Help);
    EXPECT_TRUE(CommandLine::parse({"quorvane-viewer", "-reverse"}).files.empty());
    EXPECT_NE(viewerHelpText().find("[FILE]..."), std::string::npos);
}

TEST_F(SavedLogWindowTest, ASavedLogShowsReadOnlyWithFindAndCopyAndLeavesTheRegistryAlone) {
    viewertest::writeRegistryFlag(7);
    const QString path = write("run.log",
                               "00001\t42\t10:00:00\tapp\tStart(first)\r\n"
                               "00002\t42\t10:00:01\tapp\t\tWork(needle here)\r\n"
                               "00003\t42\t10:00:02\tapp\tStop(last)");
    QString failure = QStringLiteral("unchanged");
    QPointer<CSavedLogDlg> window = CSavedLogDlg::open(path, nullptr, failure);
    ASSERT_NE(window, nullptr) << failure.toStdString();
    EXPECT_TRUE(failure.isEmpty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("run.log"));
    EXPECT_EQ(viewertest::rows(window->logList().model()),
              (std::vector<std::string>{"00001\t42\t10:00:00\tapp\tStart(first)",
                                        "00002\t42\t10:00:01\tapp\t\tWork(needle here)",
                                        "00003\t42\t10:00:02\tapp\tStop(last)"}));
    EXPECT_TRUE(window->findChildren<QPushButton*>().isEmpty()) << "no Clear, Save or Close";
    EXPECT_EQ(viewertest::readRegistryFlag(), 7);

    QApplication::setActiveWindow(window);
    QTest::keyClick(&window->logList(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(window->findBar().isVisible());
    QTest::keyClicks(&window->findBar().patternEdit(), QStringLiteral("needle"));
    QTest::keyClick(&window->findBar().patternEdit(), Qt::Key_Return);
    EXPECT_EQ(window->logList().currentRow(), 1);
    QTest::keyClick(&window->logList(), Qt::Key_C, Qt::ControlModifier);
    // Copied as shown: the line as the file holds it, LF at the end.
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("00002\t42\t10:00:01\tapp\t\tWork(needle here)\n"));

    // Escape closes the bar, and only the bar; Enter does nothing.
    QTest::keyClick(&window->findBar().patternEdit(), Qt::Key_Escape);
    EXPECT_FALSE(window->findBar().isVisible());
    QTest::keyClick(window, Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());

    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull()) << "a closed window is deleted with its mapping";
}

TEST_F(SavedLogWindowTest, OpeningFromAWindowShowsEveryFileThatOpensAndOneBoxForTheRest) {
    const QString good = write("good.log", "one\r\ntwo\r\n");
    const QString binary = write("binary.log", std::string("\x7f"
                                                           "ELF\0\0\0",
                                                           7));
    QString failure;
    CSavedLogDlg* first = CSavedLogDlg::open(good, nullptr, failure);
    ASSERT_NE(first, nullptr);
    QStringList told;
    first->opener().setMessageBox([&told](QWidget*, const QString& text) { told << text; });
    first->opener().setFileChooser([&](QWidget*) {
        return QStringList{good, m_folder.filePath(QStringLiteral("missing.log")), binary,
                           m_folder.path()};
    });

    QMenu menu;
    first->opener().addMenuAction(menu);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions().first()->text(), QStringLiteral("Open Saved &Log..."));
    menu.actions().first()->trigger();

    EXPECT_EQ(savedLogWindows().size(), 2u);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told.first(),
              QStringLiteral("Cannot open \"%1\": No such file or directory.\n"
                             "Cannot open \"%2\": it is not a saved log: it holds a NUL byte at "
                             "offset 4.\n"
                             "Cannot open \"%3\": it is a directory.")
                  .arg(m_folder.filePath(QStringLiteral("missing.log")), binary, m_folder.path()));
}

TEST_F(SavedLogWindowTest, FilesDroppedOnTheLiveWindowOpenInWindowsTheLiveWindowsModalityLetsIn) {
    const QString dropped = write("dropped.log", "dropped line\r\n");
    CQuorvaneDlg live;
    live.setWindowModality(Qt::ApplicationModal);
    live.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &live);

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(dropped)});
    const QPoint over = live.logList().geometry().center();
    QDragEnterEvent enter(over, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&live, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(over), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&live, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();

    const std::vector<CSavedLogDlg*> windows = savedLogWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows.front()->path(), dropped);
    EXPECT_EQ(windows.front()->parentWidget(), &live);
    EXPECT_TRUE(windows.front()->isWindow());
    EXPECT_EQ(viewertest::rows(windows.front()->logList().model()),
              std::vector<std::string>{"dropped line"});

    // Text that names no local file is not taken.
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QDragEnterEvent textEnter(over, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    textEnter.setAccepted(false);
    QApplication::sendEvent(&live, &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    closeSavedLogWindows();
}

TEST_F(SavedLogWindowTest, TheLiveWindowsContextMenuOpensTheSavedLogsChosen) {
    const QString chosen = write("chosen.log", "chosen line\r\n");
    CQuorvaneDlg live;
    live.show();
    live.savedLogOpener().setFileChooser([&chosen](QWidget*) { return QStringList{chosen}; });
    QStringList items;
    QTimer::singleShot(0, &live, [&items] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        QAction* open = nullptr;
        for (QAction* action : menu->actions()) {
            items << action->text();
            if (action->text() == QStringLiteral("Open Saved &Log...")) {
                open = action;
            }
        }
        menu->close();
        if (open != nullptr) {
            open->trigger();
        }
    });
    const QPoint at = live.logList().geometry().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, live.mapToGlobal(at));
    QApplication::sendEvent(&live, &event);

    EXPECT_TRUE(items.contains(QStringLiteral("Open Saved &Log...")))
        << items.join(QLatin1Char('|')).toStdString();
    const std::vector<CSavedLogDlg*> windows = savedLogWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows.front()->windowTitle(), QStringLiteral("chosen.log"));
    EXPECT_EQ(viewertest::rows(windows.front()->logList().model()),
              std::vector<std::string>{"chosen line"});
    closeSavedLogWindows();
}

TEST_F(SavedLogWindowTest, RunOnFilesTheApplicationEndsWhenItsLastWindowCloses) {
    const QString first = write("first.log", "first\r\n");
    const QString second = write("second.log", "second\r\n");
    constexpr int kNeverClosed = 7;
    QStringList shown;
    bool ranOnAfterTheFirst = false;
    QTimer::singleShot(0, [&shown, &ranOnAfterTheFirst] {
        for (CSavedLogDlg* window : savedLogWindows()) {
            shown << window->windowTitle();
        }
        // One window closed leaves the application running; the next timer closes the other.
        savedLogWindows().front()->close();
        QTimer::singleShot(0, [&ranOnAfterTheFirst] {
            ranOnAfterTheFirst = true;
            savedLogWindows().front()->close();
        });
    });
    QTimer::singleShot(kProcessTimeoutMs, [] { QCoreApplication::exit(kNeverClosed); });
    CQuorvaneApp application;
    application.runSavedLogs({first.toStdString(),
                              m_folder.filePath(QStringLiteral("missing.log")).toStdString(),
                              second.toStdString()});
    EXPECT_EQ(application.exitCode(), 0);
    EXPECT_TRUE(ranOnAfterTheFirst);
    shown.sort();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("first.log"), QStringLiteral("second.log")}));
}

// The program on files: windows without the mailbox, its objects or the registry flag.
class SavedLogProcessTest : public SavedLogWindowTest {
  protected:
    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        return environment;
    }
    // What the viewer left in its runtime and configuration folders.
    QStringList leftBehind() const {
        return QDir(m_runtime.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) +
               QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_runtime;
    QTemporaryDir m_config;
};

bool mapsFile(qint64 pid, const QString& path) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(path));
}

TEST_F(SavedLogProcessTest, TheViewerOnAFileShowsItWithoutTouchingTheMailboxOrTheRegistry) {
    const QString path = write("shown.log", "00001\t1\t10:00:00\tapp\tMain(shown)\r\n");
    QProcess viewer;
    viewer.setProcessEnvironment(environment());
    viewer.start(QStringLiteral(QUORVANE_VIEWER_PATH),
                 {m_folder.filePath(QStringLiteral("missing.log")), path});
    ASSERT_TRUE(viewer.waitForStarted(kProcessTimeoutMs));
    // The mapped file says the window has its lines.
    for (int waited = 0; !mapsFile(viewer.processId(), path) && waited < kProcessTimeoutMs;
         waited += kPollStepMs) {
        ASSERT_FALSE(viewer.waitForFinished(kPollStepMs))
            << viewer.readAllStandardError().toStdString();
    }
    ASSERT_TRUE(mapsFile(viewer.processId(), path));
    EXPECT_EQ(viewer.state(), QProcess::Running);
    EXPECT_TRUE(leftBehind().isEmpty()) << leftBehind().join(QLatin1Char(' ')).toStdString();
    viewer.terminate();
    ASSERT_TRUE(viewer.waitForFinished(kProcessTimeoutMs));
    EXPECT_EQ(QString::fromLocal8Bit(viewer.readAllStandardError()),
              QStringLiteral("quorvane-viewer: cannot open \"%1\": No such file or directory\n")
                  .arg(m_folder.filePath(QStringLiteral("missing.log"))));

    // The same environment does get the mailbox's objects from the live viewer.
    QProcess live;
    live.setProcessEnvironment(environment());
    live.start(QStringLiteral(QUORVANE_VIEWER_PATH), {});
    ASSERT_TRUE(live.waitForStarted(kProcessTimeoutMs));
    for (int waited = 0; leftBehind().isEmpty() && waited < kProcessTimeoutMs;
         waited += kPollStepMs) {
        live.waitForFinished(kPollStepMs);
    }
    EXPECT_FALSE(leftBehind().isEmpty());
    live.terminate();
    ASSERT_TRUE(live.waitForFinished(kProcessTimeoutMs));
}

TEST_F(SavedLogProcessTest, NoFileThatOpensEndsTheViewerWithStatusOneAndAReasonForEach) {
    const QString huge = write("huge.log", std::string(SavedLog::kMaxLineLength + 1, 'h'));
    QProcess viewer;
    viewer.setProcessEnvironment(environment());
    viewer.start(QStringLiteral(QUORVANE_VIEWER_PATH),
                 {QStringLiteral("--"), huge, m_folder.path()});
    ASSERT_TRUE(viewer.waitForFinished(kProcessTimeoutMs));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
    EXPECT_EQ(QString::fromLocal8Bit(viewer.readAllStandardError()),
              QStringLiteral("quorvane-viewer: cannot open \"%1\": it is not a saved log: line 1 "
                             "is longer than 65536 bytes\n"
                             "quorvane-viewer: cannot open \"%2\": it is a directory\n")
                  .arg(huge, m_folder.path()));
    EXPECT_TRUE(leftBehind().isEmpty());
}

}  // namespace
