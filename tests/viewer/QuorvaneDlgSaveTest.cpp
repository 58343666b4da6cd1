// Saving from the dialog: the file's lines and order, the chooser, replacing and failing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <regex>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/QuorvaneDlgFixture.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

using viewertest::drainNow;
using viewertest::Lines;
using viewertest::makeRecord;
using viewertest::postFromChild;
using viewertest::QuorvaneDlgTest;
using viewertest::readFile;

TEST_F(QuorvaneDlgTest, SavingOneLineWritesItWithTabsCollapsedAndCrLf) {
    post({makeRecord("Name", "a\t\t\tb", "orig", 42)});
    drainNow(*dialog);
    const QString path = folder.filePath(QStringLiteral("one.txt"));
    EXPECT_EQ(saveTo(path), 1);
    EXPECT_EQ(readFile(path.toStdString()), "00001\t42\t10:00:00\torig\tName(a\tb)\r\n");
    EXPECT_TRUE(std::regex_match(proposedName.toStdString(), std::regex("[0-9]{14}")));
    const std::string now = defaultSaveFileName(std::time(nullptr));
    EXPECT_LE(std::stoll(now) - std::stoll(proposedName.toStdString()), 5);
}

TEST_F(QuorvaneDlgTest, BothOrdersSaveLineOneFirst) {
    post({makeRecord("A", "", "o", 1), makeRecord("B", "", "o", 1)});
    drainNow(*dialog);
    ASSERT_EQ(shown().front().substr(0, 5), "00002");
    const QString onTop = folder.filePath(QStringLiteral("top.txt"));
    saveTo(onTop);
    EXPECT_EQ(readFile(onTop.toStdString()),
              "00001\t1\t10:00:00\to\tA()\r\n00002\t1\t10:00:00\to\tB()\r\n");

    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    post({makeRecord("A", "", "o", 1), makeRecord("B", "", "o", 1)});
    drainNow(*dialog);
    ASSERT_EQ(shown().front().substr(0, 5), "00001");
    const QString appended = folder.filePath(QStringLiteral("bottom.txt"));
    saveTo(appended);
    EXPECT_EQ(readFile(appended.toStdString()), readFile(onTop.toStdString()));
}

TEST_F(QuorvaneDlgTest, IndentationAndEmptyOriginLeaveOneTabBetweenFields) {
    post({makeRecord("Outer", "", "orig", 42, +1), makeRecord("Middle", "", "orig", 42, +1),
          makeRecord("Name", "text", "orig", 42, 0), makeRecord("Bare", "x", "", 42, 0)});
    drainNow(*dialog);
    ASSERT_EQ(dialog->logList().model().line(1), "00003\t42\t10:00:00\torig\t\t\tName(text)");
    const QString path = folder.filePath(QStringLiteral("indent.txt"));
    saveTo(path);
    EXPECT_EQ(readFile(path.toStdString()),
              "00001\t42\t10:00:00\torig\tOuter()\r\n"
              "00002\t42\t10:00:00\torig\tMiddle()\r\n"
              "00003\t42\t10:00:00\torig\tName(text)\r\n"
              "00004\t42\t10:00:00\tBare(x)\r\n");
}

TEST_F(QuorvaneDlgTest, AnEmptyListShowsNoSaveDialog) {
    const QString path = folder.filePath(QStringLiteral("none.txt"));
    EXPECT_EQ(saveTo(path), 0);
    EXPECT_FALSE(QFileInfo::exists(path));
    post({makeRecord("A", "", "o", 1)});
    drainNow(*dialog);
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    EXPECT_EQ(saveTo(path), 0);
}

TEST_F(QuorvaneDlgTest, ACancelledSaveDialogWritesNothing) {
    post({makeRecord("A", "", "o", 1)});
    drainNow(*dialog);
    EXPECT_EQ(saveTo(QString()), 1);
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(QuorvaneDlgTest, SavingOverAnExistingFileReplacesAllOfIt) {
    const QString path = folder.filePath(QStringLiteral("old.txt"));
    viewertest::writeFile(path.toStdString(), std::string(10000, 'z'));
    post({makeRecord("A", "", "o", 1)});
    drainNow(*dialog);
    saveTo(path);
    EXPECT_EQ(readFile(path.toStdString()), "00001\t1\t10:00:00\to\tA()\r\n");
}

TEST_F(QuorvaneDlgTest, OnlyLinesShownSinceClearAreSaved) {
    post({makeRecord("Before", "", "o", 1), makeRecord("Before2", "", "o", 1)});
    drainNow(*dialog);
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    post({makeRecord("After", "", "o", 1)});
    drainNow(*dialog);
    const QString path = folder.filePath(QStringLiteral("after.txt"));
    saveTo(path);
    EXPECT_EQ(readFile(path.toStdString()), "00001\t1\t10:00:00\to\tAfter()\r\n");
}

TEST_F(QuorvaneDlgTest, LinesThatArriveWhileTheSaveDialogIsOpenAreSaved) {
    post({makeRecord("Early", "", "o", 1)});
    drainNow(*dialog);
    QString path = folder.filePath(QStringLiteral("late.txt"));
    dialog->setSavePathChooser([&](QWidget*, const QString&) {
        EXPECT_TRUE(postFromChild({makeRecord("Late", "", "o", 1)}));
        drainNow(*dialog);
        return path;
    });
    dialog->OnSaveClicked();
    EXPECT_EQ(readFile(path.toStdString()),
              "00001\t1\t10:00:00\to\tEarly()\r\n00002\t1\t10:00:00\to\tLate()\r\n");
}

TEST_F(QuorvaneDlgTest, AFailedSaveKeepsTheOldFileAndTellsTheUserWhereAndWhy) {
    const std::string path = folder.filePath(QStringLiteral("precious.txt")).toStdString();
    const std::string old = "precious\r\n";
    viewertest::writeFile(path, old);
    std::vector<TraceRecord> many;
    for (int i = 0; i < 200; ++i) {
        many.push_back(makeRecord("Entry", std::string(400, 'p').c_str(), "o", 1));
    }
    ASSERT_TRUE(postFromChild(many));
    drainNow(*dialog);
    ASSERT_EQ(dialog->lineCount(), 200u);
    dialog->setSavePathChooser(
        [&](QWidget*, const QString&) { return QString::fromStdString(path); });
    QStringList shown;
    bool overTheDialog = true;
    dialog->setMessageBox([&](QWidget* parent, const QString& text) {
        overTheDialog = overTheDialog && parent == dialog.get();
        shown << text;
    });

    // The file-size limit stops the write part-way, as a full disk would. The child sends back
    // what it would have shown, NUL-terminated.
    quorvane::test::ChildProcess child([&](quorvane::test::ChildProcess& self) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        dialog->OnSaveClicked();
        for (const char c : shown.join(QLatin1Char('|')).toStdString()) {
            self.signal(c);
        }
        self.signal('\0');
        return overTheDialog ? 0 : 1;
    });
    ASSERT_TRUE(child.started());
    std::string told;
    for (char c = child.awaitSignal(); c != '\0'; c = child.awaitSignal()) {
        told += c;
    }
    EXPECT_EQ(child.wait(), 0) << "the message was not shown over the dialog";
    EXPECT_EQ(told, "The lines could not be saved to \"" + path +
                        "\": File too large.\nNo file was changed.");
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file is left beside the target";

    dialog->OnSaveClicked();
    EXPECT_GT(readFile(path).size(), 200u * 400u);
    EXPECT_TRUE(shown.isEmpty()) << "a save that succeeds shows nothing";

    // Without an injected box the failure shows in a real warning box.
    dialog->setMessageBox(nullptr);
    QString missing = folder.filePath(QStringLiteral("missing/x.txt"));
    dialog->setSavePathChooser([&](QWidget*, const QString&) { return missing; });
    QString boxText;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxText = box->text();
            EXPECT_EQ(box->parentWidget(), dialog.get());
            box->button(QMessageBox::Ok)->click();
        }
    });
    dialog->OnSaveClicked();
    EXPECT_EQ(boxText, QStringLiteral("The lines could not be saved to \"%1\": No such file or "
                                      "directory.\nNo file was changed.")
                           .arg(missing));
}

}  // namespace
