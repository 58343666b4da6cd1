// Find and Pause in the dialog: the find bar driven by keys, the highlight, Pause and Resume.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "tests/viewer/QuorvaneDlgFixture.h"
#include "viewer/list/MatchHighlight.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

using viewertest::drainNow;
using viewertest::Lines;
using viewertest::makeRecord;
using viewertest::QuorvaneDlgTest;
using viewertest::waitUntil;

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
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !bar.isCounting(); }));
    EXPECT_EQ(bar.matchCount(), 2u);
    EXPECT_EQ(bar.statusText(), QStringLiteral("2 lines match"));
    EXPECT_GT(highlightedPixels(list), 0);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(list.currentRow(), 1);
    EXPECT_EQ(list.selectedCount(), 1u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("00002\t"))) << copied.toStdString();
    EXPECT_TRUE(copied.endsWith(QStringLiteral("f(banana)\n"))) << copied.toStdString();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("wrapped to the top")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(list.currentRow(), 1);
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("wrapped to the bottom")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(list.currentRow(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
    EXPECT_EQ(list.currentRow(), 1);

    // Match case finds nothing in capitals; a broken expression says so.
    bar.matchCaseBox().click();
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !bar.isCounting(); }));
    EXPECT_EQ(bar.matchCount(), 0u);
    EXPECT_EQ(highlightedPixels(list), 0);
    bar.regexBox().click();
    bar.patternEdit().setFocus();
    QTest::keyClicks(&bar.patternEdit(), "(");
    EXPECT_TRUE(bar.statusText().startsWith(QStringLiteral("Invalid pattern")));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(bar.isHidden());
    // The line found stopped the list following: the note that says so is all that is left.
    ASSERT_TRUE(dialog->followNote().isVisible());
    EXPECT_EQ(list.geometry().bottom(), dialog->followNote().geometry().top() - FollowNote::kGapAboveNote - 1);
    EXPECT_EQ(dialog->followNote().geometry().bottom(), listAlone.bottom());
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
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("wrapped to the top")));
}

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

}  // namespace
