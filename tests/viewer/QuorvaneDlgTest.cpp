#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>
#include <regex>

#include "resources/resource.h"
#include "tests/support/ChildProcess.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMutexSimple.h"
#include "viewer/CAboutDlg.h"
#include "viewer/CQuorvaneDlg.h"
#include "viewer/DialogTemplates.h"
#include "viewer/DialogUnits.h"
#include "viewer/MatchHighlight.h"

namespace {

using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::postFromChild;
using viewertest::readFile;
using viewertest::rows;
using Lines = std::vector<std::string>;

class QuorvaneDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = std::make_unique<CQuorvaneDlg>();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void TearDown() override { dialog.reset(); }

    void post(std::initializer_list<TraceRecord> records) {
        ASSERT_TRUE(postFromChild(std::vector<TraceRecord>(records)));
    }

    Lines shown() const { return rows(dialog->logList().model()); }

    // Saves through the Save button with a chooser that answers `path`; returns how often the
    // chooser was asked.
    int saveTo(const QString& path) {
        int asked = 0;
        dialog->setSavePathChooser([&](QWidget*, const QString& defaultName) {
            ++asked;
            proposedName = defaultName;
            return path;
        });
        QTest::mouseClick(&dialog->saveButton(), Qt::LeftButton);
        return asked;
    }

    std::unique_ptr<CQuorvaneDlg> dialog;
    QTemporaryDir folder;
    QString proposedName;
};

// --- polling and the list --------------------------------------------------------------------

TEST_F(QuorvaneDlgTest, NewestLineGoesOnTopByDefaultAndFreezesTheOrder) {
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    EXPECT_TRUE(dialog->reverseCheck().isEnabled());
    post({makeRecord("First", "a", "orig", 42)});
    drainNow(*dialog);
    post({makeRecord("Second", "b", "orig", 42)});
    drainNow(*dialog);
    EXPECT_EQ(shown(), Lines({"00002\t42\t10:00:00\torig\tSecond(b)",
                              "00001\t42\t10:00:00\torig\tFirst(a)"}));
    EXPECT_EQ(dialog->lineCount(), 2u);
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
}

TEST_F(QuorvaneDlgTest, OrderClearedBeforeTheFirstLineAppendsLines) {
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_FALSE(dialog->reverseCheck().isChecked());
    EXPECT_FALSE(dialog->reverse());
    EXPECT_FALSE(dialog->reverseLocked());
    post({makeRecord("First", "", "orig", 7), makeRecord("Second", "", "orig", 7)});
    drainNow(*dialog);
    EXPECT_EQ(shown(),
              Lines({"00001\t7\t10:00:00\torig\tFirst()", "00002\t7\t10:00:00\torig\tSecond()"}));
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_FALSE(dialog->reverseCheck().isChecked());
}

TEST_F(QuorvaneDlgTest, OrderCannotChangeOnceALineIsShown) {
    post({makeRecord("First", "", "o", 1)});
    drainNow(*dialog);
    // The box is disabled: a click does nothing.
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    // Even a change that reaches the handler is taken back.
    dialog->reverseCheck().setEnabled(true);
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog->reverseCheck().isChecked());
    EXPECT_FALSE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverse());
    EXPECT_TRUE(dialog->reverseLocked());
    post({makeRecord("Second", "", "o", 1)});
    drainNow(*dialog);
    EXPECT_EQ(shown().front(), "00002\t1\t10:00:00\to\tSecond()");
}

TEST_F(QuorvaneDlgTest, ClearEmptiesTheListRestartsNumbersKeepsDepthsAndReopensTheOrder) {
    post({makeRecord("Open", "", "o", 5, +1), makeRecord("Inner", "", "o", 5, 0)});
    drainNow(*dialog);
    ASSERT_EQ(shown().front(), "00002\t5\t10:00:00\to\t\tInner()");
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(shown().empty());
    EXPECT_EQ(dialog->logList().model().bytesHeld(), 0u);
    EXPECT_EQ(dialog->lineCount(), 0u);
    EXPECT_TRUE(dialog->reverseCheck().isEnabled());
    EXPECT_TRUE(dialog->reverseCheck().isChecked()) << "Clear leaves the choice as it was";

    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    post({makeRecord("After", "", "o", 5, 0), makeRecord("Later", "", "o", 5, -1)});
    drainNow(*dialog);
    // Sender 5 is still one level deep after Clear; its closing line comes back to depth 0.
    EXPECT_EQ(shown(),
              Lines({"00001\t5\t10:00:00\to\t\tAfter()", "00002\t5\t10:00:00\to\tLater()"}));
}

TEST_F(QuorvaneDlgTest, RecordsPostedBetweenTicksArriveInOneTickNumberedInPostingOrder) {
    post(
        {makeRecord("A", "1", "o", 9), makeRecord("B", "2", "o", 9), makeRecord("C", "3", "o", 9)});
    dialog->OnTimer(CQuorvaneDlg::POLL_TIMER_ID);
    EXPECT_FALSE(dialog->isDraining()) << "three records fit in one slice";
    EXPECT_EQ(shown(), Lines({"00003\t9\t10:00:00\to\tC(3)", "00002\t9\t10:00:00\to\tB(2)",
                              "00001\t9\t10:00:00\to\tA(1)"}));
}

TEST_F(QuorvaneDlgTest, ManyRunsOfRecordsAcrossDrainsAreNumberedInPostingOrder) {
    // More records than one run takes, twice, with a drain in between; each record carries its
    // posting number in its text.
    constexpr std::uint32_t kPerPost = RecordDrain::kRunLength * 3 + 17;
    std::uint32_t posted = 0;
    for (int post = 0; post < 2; ++post) {
        std::vector<TraceRecord> records;
        for (std::uint32_t i = 0; i < kPerPost; ++i) {
            records.push_back(makeRecord("Run", std::to_string(++posted).c_str(), "o", 4));
        }
        ASSERT_TRUE(postFromChild(records));
        drainNow(*dialog);
        ASSERT_EQ(dialog->lineCount(), posted);
    }
    const Lines lines = shown();
    ASSERT_EQ(lines.size(), posted);
    for (std::uint32_t number = 1; number <= posted; ++number) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.5u\t4\t10:00:00\to\tRun(%u)", number, number);
        // Newest on top: line `number` is `number` rows from the bottom.
        ASSERT_EQ(lines[posted - number], expected);
    }
}

TEST_F(QuorvaneDlgTest, ATimerOtherThanThePollTimerDoesNotDrain) {
    post({makeRecord("Waiting", "", "o", 3)});
    dialog->OnTimer(CQuorvaneDlg::POLL_TIMER_ID + 1);
    QTimerEvent foreign(CQuorvaneDlg::POLL_TIMER_ID - 1);
    QCoreApplication::sendEvent(dialog.get(), &foreign);
    EXPECT_TRUE(shown().empty());
    EXPECT_FALSE(dialog->isDraining());
    drainNow(*dialog);
    EXPECT_EQ(shown(), Lines({"00001\t3\t10:00:00\to\tWaiting()"}));
}

TEST_F(QuorvaneDlgTest, ThePollTimerDrainsTheMailboxOnItsOwn) {
    post({makeRecord("Tick", "", "o", 3)});
    QTRY_COMPARE_WITH_TIMEOUT(dialog->lineCount(), 1u, 3000);
    EXPECT_EQ(shown(), Lines({"00001\t3\t10:00:00\to\tTick()"}));
}

// --- saving ----------------------------------------------------------------------------------

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

// --- the window frame ------------------------------------------------------------------------

TEST_F(QuorvaneDlgTest, EscapeAndEnterDoNothingInTheMainDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    for (QWidget* target :
         {static_cast<QWidget*>(&dialog->logList()), static_cast<QWidget*>(&dialog->reverseCheck()),
          static_cast<QWidget*>(&dialog->saveButton())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->hasEnded());
    dialog->reject();
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible());
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    }
}

TEST_F(QuorvaneDlgTest, EnterPressesTheFocusedPushButtonAndOnlyThatOne) {
    post({makeRecord("f", "one", "p", 1)});
    drainNow(*dialog);
    ASSERT_EQ(shown().size(), 1u);
    QSignalSpy finished(dialog.get(), &QDialog::finished);

    // Enter on the list or the check box leaves the lines; on Clear it clears them.
    for (QWidget* target : {static_cast<QWidget*>(&dialog->logList()),
                            static_cast<QWidget*>(&dialog->reverseCheck())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_EQ(shown().size(), 1u);
    dialog->clearButton().setFocus();
    QTest::keyClick(&dialog->clearButton(), Qt::Key_Return);
    EXPECT_TRUE(shown().empty());

    // Enter on Save asks where to save; Enter on Close ends the dialog.
    post({makeRecord("f", "two", "p", 1)});
    drainNow(*dialog);
    int asked = 0;
    dialog->setSavePathChooser([&](QWidget*, const QString&) {
        ++asked;
        return QString();
    });
    dialog->saveButton().setFocus();
    QTest::keyClick(&dialog->saveButton(), Qt::Key_Enter);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(finished.count(), 0);

    dialog->closeButton().setFocus();
    QTest::keyClick(&dialog->closeButton(), Qt::Key_Return);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(dialog->hasEnded());
}

// --- find -----------------------------------------------------------------------------------

int highlightedPixels(CLogListView& list) {
    list.viewport()->repaint();
    const QImage image = list.viewport()->grab().toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += QColor(image.pixel(x, y)) == kMatchHighlight ? 1 : 0;
        }
    }
    return count;
}

TEST_F(QuorvaneDlgTest, CtrlFTypingAndEnterFindTheLineThatCtrlCThenCopies) {
    post({makeRecord("f", "apple", "p", 1), makeRecord("f", "banana", "p", 1),
          makeRecord("f", "cherry banana", "p", 1)});
    drainNow(*dialog);
    ASSERT_EQ(shown().size(), 3u);
    FindBar& bar = dialog->findBar();
    CLogListView& list = dialog->logList();
    const QRect listAlone = list.geometry();
    EXPECT_TRUE(bar.isHidden());
    QSignalSpy finished(dialog.get(), &QDialog::finished);

    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), &bar.patternEdit());
    EXPECT_LT(list.geometry().height(), listAlone.height());
    EXPECT_GE(bar.geometry().top(), list.geometry().bottom()) << "the bar is under the list";

    // Newest on top: rows are "cherry banana", "banana", "apple". Typing finds the first.
    QTest::keyClicks(QApplication::focusWidget(), "BANANA");
    EXPECT_EQ(list.currentRow(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isCounting(), 5000);
    EXPECT_EQ(bar.matchCount(), 2u);
    EXPECT_EQ(bar.status().text(), QStringLiteral("2 lines match"));
    EXPECT_GT(highlightedPixels(list), 0);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(list.currentRow(), 1);
    EXPECT_EQ(list.selectedCount(), 1u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("00002\t"))) << copied.toStdString();
    EXPECT_TRUE(copied.endsWith(QStringLiteral("f(banana)\r\n"))) << copied.toStdString();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_TRUE(bar.status().text().contains(QStringLiteral("wrapped to the top")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(list.currentRow(), 1);
    EXPECT_TRUE(bar.status().text().contains(QStringLiteral("wrapped to the bottom")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(list.currentRow(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
    EXPECT_EQ(list.currentRow(), 1);

    // Match case finds nothing in capitals; a broken expression says so.
    bar.matchCaseBox().click();
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isCounting(), 5000);
    EXPECT_EQ(bar.matchCount(), 0u);
    EXPECT_EQ(highlightedPixels(list), 0);
    bar.regexBox().click();
    bar.patternEdit().setFocus();
    QTest::keyClicks(&bar.patternEdit(), "(");
    EXPECT_TRUE(bar.status().text().startsWith(QStringLiteral("Invalid pattern")));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(list.geometry(), listAlone);
    EXPECT_EQ(QApplication::focusWidget(), &list);
    QTest::keyClick(&list, Qt::Key_Escape);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(dialog->hasEnded());

    // F3 with the bar closed opens it again on the last text and goes on from the current line.
    bar.regexBox().click();
    bar.patternEdit().setText(QStringLiteral("banana"));
    bar.close();
    list.selectRow(2);
    QTest::keyClick(&list, Qt::Key_F3);
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_TRUE(bar.status().text().contains(QStringLiteral("wrapped to the top")));
}

// --- pause ----------------------------------------------------------------------------------

TEST_F(QuorvaneDlgTest, PauseHoldsNewLinesBackWhileTheMailboxIsStillDrainedAndResumeShowsThem) {
    post({makeRecord("f", "one", "p", 1), makeRecord("f", "two", "p", 1)});
    drainNow(*dialog);
    ListPause& pause = dialog->listPause();
    const QLabel& note = pause.note();
    EXPECT_TRUE(note.isHidden());
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->logList().setFocus();
    QTest::keyClick(&dialog->logList(), Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(pause.isPaused());

    post({makeRecord("f", "three", "p", 1), makeRecord("f", "four", "p", 1),
          makeRecord("f", "five", "p", 1)});
    drainNow(*dialog);
    EXPECT_EQ(dialog->lineCount(), 5u) << "the mailbox is drained while paused";
    ASSERT_EQ(shown().size(), 2u);
    EXPECT_EQ(pause.heldBack(), 3u);
    EXPECT_TRUE(note.isVisible());
    EXPECT_TRUE(note.text().contains(QStringLiteral("3 new lines held back")))
        << note.text().toStdString();
    EXPECT_LE(note.geometry().bottom(), dialog->logList().geometry().bottom());

    // The context menu offers Resume while paused, and it shows every line held back.
    QMenu menu;
    pause.addMenuAction(menu);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions().at(0)->text(), QStringLiteral("&Resume"));
    menu.actions().at(0)->trigger();
    EXPECT_FALSE(pause.isPaused());
    EXPECT_TRUE(note.isHidden());
    const Lines lines = shown();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.front().substr(0, 6), "00005\t");
    EXPECT_EQ(lines.back().substr(0, 6), "00001\t");

    // Clear while paused drops the held lines with the shown ones; the pause goes on.
    QTest::keyClick(&dialog->logList(), Qt::Key_Pause);
    ASSERT_TRUE(pause.isPaused());
    post({makeRecord("f", "six", "p", 1)});
    drainNow(*dialog);
    EXPECT_EQ(pause.heldBack(), 1u);
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    EXPECT_EQ(pause.heldBack(), 0u);
    EXPECT_TRUE(note.text().contains(QStringLiteral("0 new lines held back")));
    pause.resume();
    EXPECT_TRUE(shown().empty());
}

TEST_F(QuorvaneDlgTest, ACloseRequestedByCodeIsIgnored) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    EXPECT_FALSE(dialog->close());
    EXPECT_FALSE(dialog->windowHandle()->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(dialog->WindowProc(0x0010, 0));
    EXPECT_TRUE(dialog->WindowProc(0x0112, 0xF061));
    EXPECT_TRUE(dialog->WindowProc(0x0218, 7));
    EXPECT_FALSE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, TheWindowManagersCloseEndsTheDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    // What the platform sends for the title-bar button or Alt+F4.
    QCloseEvent close;
    QCoreApplication::sendEvent(dialog->windowHandle(), &close);
    EXPECT_TRUE(dialog->hasEnded());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(QuorvaneDlgTest, TheCloseButtonEndsTheDialog) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    QTest::mouseClick(&dialog->closeButton(), Qt::LeftButton);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, ExactCloseCommandAndSuspendAndLowBatteryEndTheDialog) {
    EXPECT_TRUE(dialog->WindowProc(0x0112, 0xF060));
    EXPECT_TRUE(dialog->hasEnded());
    dialog.reset();
    dialog = std::make_unique<CQuorvaneDlg>();
    dialog->WindowProc(0x0218, 0);
    EXPECT_TRUE(dialog->hasEnded());
    dialog = nullptr;
    dialog = std::make_unique<CQuorvaneDlg>();
    dialog->WindowProc(0x0218, 9);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, TerminationSignalEndsTheDialogLikeTheCloseButton) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    ::raise(SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
    EXPECT_TRUE(dialog->hasEnded());
}

TEST_F(QuorvaneDlgTest, ContextMenuOpensTheAboutBoxWhichEnterAndEscapeClose) {
    QString menuText;
    QString version;
    QStringList makerLines;
    bool okIsDefault = false;
    int aboutBoxesSeen = 0;
    int finishedInAbout = 0;
    bool nextKeyIsEscape = false;

    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menuText = menu->actions().value(0)->text();
            QTest::keyClick(menu, Qt::Key_A);  // the item's mnemonic
            return;
        }
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            ++aboutBoxesSeen;
            version = about->findChild<QLabel*>(QStringLiteral("IDC_VERSION"))->text();
            makerLines.clear();
            for (const char* name : {"IDC_MAKER1", "IDC_MAKER2", "IDC_MAKER3"}) {
                makerLines << about->findChild<QLabel*>(QString::fromLatin1(name))->text();
            }
            okIsDefault = about->findChild<QPushButton*>(QStringLiteral("IDOK"))->isDefault();
            QObject::connect(about, &QDialog::finished, [&] { ++finishedInAbout; });
            QTest::keyClick(about, nextKeyIsEscape ? Qt::Key_Escape : Qt::Key_Return);
        }
    });
    watcher.start();

    QWidget* viewport = dialog->logList().viewport();
    QContextMenuEvent onList(QContextMenuEvent::Mouse, QPoint(10, 10),
                             viewport->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(viewport, &onList);
    EXPECT_EQ(menuText, QStringLiteral("&About Quorvane..."));
    EXPECT_EQ(aboutBoxesSeen, 1);
    EXPECT_EQ(finishedInAbout, 1) << "Enter closes the About box";
    EXPECT_EQ(version, QStringLiteral("Quorvane Version 2.0"));
    EXPECT_EQ(makerLines.size(), 3);
    for (const QString& line : makerLines) {
        EXPECT_FALSE(line.isEmpty());
    }
    EXPECT_TRUE(okIsDefault);

    nextKeyIsEscape = true;
    menuText.clear();
    QContextMenuEvent onDialog(QContextMenuEvent::Keyboard, QPoint(5, 5),
                               dialog->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(dialog.get(), &onDialog);
    EXPECT_EQ(menuText, QStringLiteral("&About Quorvane..."));
    EXPECT_EQ(aboutBoxesSeen, 2);
    EXPECT_EQ(finishedInAbout, 2) << "Escape closes the About box";
    EXPECT_FALSE(dialog->hasEnded());
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(QuorvaneDlgTest, ControlsFollowTheTemplateInTextIdPlaceAndTabOrder) {
    const DialogUnits units = DialogUnits::fromFont(dialog->font());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Quorvane"));
    EXPECT_EQ(dialog->reverseCheck().text(), QStringLiteral("Reverse Output"));
    EXPECT_EQ(dialog->clearButton().text(), QStringLiteral("Clear"));
    EXPECT_EQ(dialog->saveButton().text(), QStringLiteral("Save"));
    EXPECT_EQ(dialog->closeButton().text(), QStringLiteral("Close"));
    EXPECT_EQ(dialog->logList().property(kControlIdProperty).toInt(), IDC_LOG_LIST);
    EXPECT_EQ(dialog->reverseCheck().property(kControlIdProperty).toInt(), IDC_REVERSE);
    EXPECT_EQ(dialog->clearButton().property(kControlIdProperty).toInt(), IDC_CLEAR);
    EXPECT_EQ(dialog->closeButton().property(kControlIdProperty).toInt(), IDC_CLOSE);
    EXPECT_EQ(dialog->saveButton().property(kControlIdProperty).toInt(), IDC_SAVE);
    EXPECT_EQ(dialog->reverseCheck().geometry(), units.toPixels(9, 3, 66, 12));
    EXPECT_EQ(dialog->clearButton().geometry(), units.toPixels(84, 3, 66, 12));
    EXPECT_EQ(dialog->saveButton().geometry(), units.toPixels(159, 3, 66, 12));
    EXPECT_EQ(dialog->closeButton().geometry(), units.toPixels(237, 3, 66, 12));
    EXPECT_EQ(dialog->size(), QSize(units.toPixelsX(310), units.toPixelsY(289)));
    EXPECT_EQ(dialog->logList().tabStopDistance(), units.toPixelsX(32));
    // Left to right on screen: Reverse Output, Clear, Save, Close.
    EXPECT_LT(dialog->clearButton().x(), dialog->saveButton().x());
    EXPECT_LT(dialog->saveButton().x(), dialog->closeButton().x());

    // Tab visits the list, the check box, Clear, Close, then Save.
    dialog->activateWindow();
    dialog->logList().setFocus();
    std::vector<QWidget*> visited;
    for (int i = 0; i < 5; ++i) {
        visited.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<QWidget*>{&dialog->logList(), &dialog->reverseCheck(),
                                              &dialog->clearButton(), &dialog->closeButton(),
                                              &dialog->saveButton()}));
    EXPECT_EQ(QApplication::focusWidget(), &dialog->logList());
}

TEST_F(QuorvaneDlgTest, TheListFollowsTheWindowSize) {
    const int checkHeight = dialog->reverseCheck().height();
    EXPECT_EQ(dialog->logList().geometry(), QRect(5, checkHeight + 10, dialog->width() - 10,
                                                  dialog->height() - checkHeight - 15));
    dialog->resize(700, 520);
    EXPECT_EQ(dialog->logList().geometry(),
              QRect(5, checkHeight + 10, 690, 520 - checkHeight - 15));
    dialog->resize(300, 200);
    EXPECT_EQ(dialog->logList().geometry(),
              QRect(5, checkHeight + 10, 290, 200 - checkHeight - 15));
}

TEST_F(QuorvaneDlgTest, TheWindowIconComesInSmallAndLargeSizes) {
    const QList<QSize> sizes = dialog->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));
    EXPECT_FALSE(dialog->windowIcon().pixmap(32, 32).toImage().isNull());
}

// --- start-up and shutdown -------------------------------------------------------------------

// Each case starts from a registry of its own, where the flag is absent.
class QuorvaneDlgLifetimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registryFolder.isValid());
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
            previousFolder = previous;
        }
        ::setenv("XDG_CONFIG_HOME", registryFolder.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override { ::setenv("XDG_CONFIG_HOME", previousFolder.c_str(), 1); }

    QTemporaryDir registryFolder;
    std::string previousFolder;
};

TEST_F(QuorvaneDlgLifetimeTest, RegistryFlagIsSetWhileRunningAndZeroOnceTheOnlyViewerEnds) {
    ASSERT_EQ(viewertest::readRegistryFlag(), -1);
    {
        CQuorvaneDlg dialog;
        EXPECT_EQ(viewertest::readRegistryFlag(), 1);
    }
    EXPECT_EQ(viewertest::readRegistryFlag(), 0) << "an absent flag comes back as 0";

    // A flag left set, by a viewer that was killed or by anything else, is kept while this
    // viewer runs and cleared when it ends: no other viewer holds the presence mutex.
    for (const std::uint32_t left : {1u, 7u}) {
        viewertest::writeRegistryFlag(left);
        {
            CQuorvaneDlg dialog;
            EXPECT_EQ(viewertest::readRegistryFlag(), left);
        }
        EXPECT_EQ(viewertest::readRegistryFlag(), 0) << left;
    }
}

TEST_F(QuorvaneDlgLifetimeTest, PresenceMutexIsHeldForOtherProcessesWhileTheDialogLives) {
    auto otherProcessObtains = [] {
        quorvane::test::ChildProcess child([](quorvane::test::ChildProcess&) {
            CMutexSimple mutex;
            return mutex.getMutex(PresenceKeeper::kMutexName) ? 1 : 0;
        });
        return child.wait() == 1;
    };
    {
        CQuorvaneDlg dialog;
        EXPECT_FALSE(otherProcessObtains());
    }
    EXPECT_TRUE(otherProcessObtains());
}

}  // namespace
