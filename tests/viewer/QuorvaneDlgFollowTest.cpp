// The live window in daily use, through real key and mouse events: following the newest line,
// the pause note's own room, what Ctrl+C copies and the context menu by key.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "tests/viewer/QuorvaneDlgFixture.h"

namespace {

using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::QuorvaneDlgTest;
using viewertest::waitUntil;

class QuorvaneDlgFollowTest : public QuorvaneDlgTest {
  protected:
    void SetUp() override {
        QuorvaneDlgTest::SetUp();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        dialog->logList().setFocus();
        // The lines as they are saved, whatever time columns an earlier test left chosen.
        dialog->logList().setTimeColumns({});
    }

    // Posts `count` records named after `name` and shows them.
    void feed(int count, const char* name) {
        std::vector<TraceRecord> records;
        for (int i = 0; i < count; ++i) {
            records.push_back(makeRecord(name, std::to_string(i).c_str(), "p", 1));
        }
        ASSERT_TRUE(viewertest::postFromChild(records));
        drainNow(*dialog);
    }

    QPoint middleOf(std::size_t row) const {
        CLogListView& list = dialog->logList();
        const int y = static_cast<int>(row - list.topRow()) * list.rowHeight() +
                      list.rowHeight() / 2;
        return {40, y};
    }

    // Whether shown row `row` lies wholly inside the list's viewport.
    bool inSight(std::ptrdiff_t row) const {
        CLogListView& list = dialog->logList();
        return row >= 0 && !list.rowRect(static_cast<std::size_t>(row)).isEmpty() &&
               list.rowRect(static_cast<std::size_t>(row)).bottom() < list.viewport()->height();
    }
};

TEST_F(QuorvaneDlgFollowTest, TheViewFollowsTheNewestLineInBothOrdersUntilAClickAndCtrlEndFollowsAgain) {
    CLogListView& list = dialog->logList();
    QScrollBar& bar = *list.verticalScrollBar();
    // Newest at the bottom.
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    ASSERT_FALSE(dialog->reverse());
    feed(300, "first");
    ASSERT_GT(bar.maximum(), 0);
    EXPECT_TRUE(list.isFollowing());
    EXPECT_EQ(bar.value(), bar.maximum()) << "parked at the newest line";
    EXPECT_TRUE(dialog->followNote().isHidden()) << "following, the window is as it always was";

    // A click stops following: the clicked line stays where it was while lines arrive.
    const std::size_t clicked = list.topRow() + 3;
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, middleOf(clicked));
    EXPECT_FALSE(list.isFollowing());
    EXPECT_TRUE(dialog->followNote().isVisible());
    EXPECT_TRUE(dialog->followNote().text().contains(QStringLiteral("Ctrl+End follows")));
    const int parkedAt = bar.value();
    feed(100, "second");
    EXPECT_EQ(bar.value(), parkedAt);
    EXPECT_EQ(list.currentRow(), static_cast<std::ptrdiff_t>(clicked));

    // Ctrl+End goes to the newest line and follows it again.
    QTest::keyClick(&list, Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(list.isFollowing());
    EXPECT_TRUE(dialog->followNote().isHidden());
    feed(100, "third");
    EXPECT_EQ(bar.value(), bar.maximum());
    EXPECT_EQ(list.topRow() + static_cast<std::size_t>(bar.pageStep()), list.model().size())
        << "the newest line is the last in sight";

    // A scroll of the wheel away from the end stops following; scrolled back, it follows.
    QWheelEvent wheelUp(QPointF(40, 40), list.viewport()->mapToGlobal(QPointF(40, 40)), QPoint(),
                        QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &wheelUp);
    EXPECT_FALSE(list.isFollowing());
    EXPECT_LT(bar.value(), bar.maximum());

    // Newest on top: a clicked line never scrolls away as lines stream in.
    QTest::mouseClick(&dialog->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(list.isFollowing()) << "Clear follows again";
    QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    ASSERT_TRUE(dialog->reverse());
    feed(50, "fourth");
    EXPECT_EQ(bar.value(), 0);
    const QPoint clickedAt = middleOf(2);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, clickedAt);
    const std::string clickedLine(list.model().line(2));
    for (int round = 0; round < 3; ++round) {
        feed(40, "fifth");
        ASSERT_EQ(list.currentRow(), 2 + 40 * (round + 1));
        EXPECT_EQ(list.rowAt(clickedAt.y()), list.currentRow()) << "round " << round;
        EXPECT_EQ(list.model().line(static_cast<std::size_t>(list.currentRow())), clickedLine);
    }
    QTest::keyClick(&list, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_TRUE(list.isFollowing());
    feed(10, "sixth");
    EXPECT_EQ(bar.value(), 0);
    EXPECT_TRUE(list.model().line(0).find("sixth(9)") != std::string_view::npos);
}

TEST_F(QuorvaneDlgFollowTest, ThePauseNoteTakesItsOwnRoomAndTheCurrentAndFoundLinesStayInSight) {
    CLogListView& list = dialog->logList();
    feed(200, "line");
    const QRect whole = list.geometry();
    // The newest is on top: End goes to the oldest line, at the bottom of the list.
    QTest::keyClick(&list, Qt::Key_End);
    ASSERT_EQ(list.currentRow(), 199);
    ASSERT_TRUE(inSight(199));

    QTest::keyClick(&list, Qt::Key_P, Qt::ControlModifier);
    feed(5, "held");
    const QLabel& note = dialog->listPause().note();
    ASSERT_TRUE(note.isVisible());
    EXPECT_LT(list.geometry().height(), whole.height()) << "the list gives up the note's height";
    EXPECT_GT(note.geometry().top(), list.geometry().bottom()) << "the note is under the list";
    EXPECT_TRUE(inSight(list.currentRow())) << "the current line is not under the note";

    // Found while paused, with the find bar under the note: the line found is in sight too.
    QTest::keyClick(&list, Qt::Key_Home);
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "line(0)");
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !dialog->findBar().isCounting(); }));
    ASSERT_EQ(list.currentRow(), 199);
    EXPECT_TRUE(inSight(199));
    EXPECT_GT(dialog->findBar().geometry().top(), note.geometry().bottom());

    QTest::keyClick(&list, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(note.isHidden());
    EXPECT_EQ(list.model().size(), 205u);
    EXPECT_TRUE(inSight(list.currentRow()));
}

TEST_F(QuorvaneDlgFollowTest, CtrlCCopiesTheLinesAsShownWithTheirIndentationAndOneDecoding) {
    // A nested call whose text is Latin-1, in a program named in UTF-8.
    post({makeRecord("outer", "", "caf\xc3\xa9", 1, 1),
          makeRecord("inner", "caf\xe9 cr\xe8me", "caf\xc3\xa9", 1, 1),
          makeRecord("leaf", "ok", "caf\xc3\xa9", 1, -1)});
    drainNow(*dialog);
    CLogListView& list = dialog->logList();
    ASSERT_EQ(list.model().size(), 3u);
    // Newest on top: select all three from the top down.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, middleOf(0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, middleOf(2));
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("00001\t1\t10:00:00\tcaf\u00e9\touter()\n"
                             "00002\t1\t10:00:00\tcaf\u00e9\t\tinner(caf\u00e9 cr\u00e8me)\n"
                             "00003\t1\t10:00:00\tcaf\u00e9\t\tleaf(ok)\n"));

    // Find and the filter read the line as it is shown.
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("CR\u00c8ME"));
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !dialog->findBar().isCounting(); }));
    EXPECT_EQ(dialog->findBar().matchCount(), 1u);
    QTest::mouseClick(&dialog->findBar().hideButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil("the filter applies", [&] { return list.shownRows().isComplete(); }));
    EXPECT_EQ(list.shownRows().size(), 2u);
}

TEST_F(QuorvaneDlgFollowTest, ShiftF10OpensTheMenuUnderTheCurrentLineAndMarksIt) {
    feed(60, "line");
    CLogListView& list = dialog->logList();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    ASSERT_EQ(list.currentRow(), 3);
    const QRect current = list.rowRect(3);
    QRect menuAt;
    std::ptrdiff_t marked = -2;
    QStringList items;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(waitUntil("the menu opens", [] {
            return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr;
        }));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        menuAt = menu->geometry();
        marked = list.menuRow();
        for (const QAction* action : menu->actions()) {
            items << action->text();
        }
        menu->close();
    });
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    const QPoint rowBottomLeft = list.viewport()->mapToGlobal(current.bottomLeft());
    EXPECT_LE(std::abs(menuAt.top() - rowBottomLeft.y()), 2) << "the menu opens under the line";
    EXPECT_LE(std::abs(menuAt.left() - rowBottomLeft.x()), list.textMargin() + 2);
    EXPECT_EQ(marked, 3) << "the line the menu acts on is marked";
    EXPECT_TRUE(items.contains(QStringLiteral("Show only &sender 1"))) << items.join(u'|').toStdString();
    EXPECT_EQ(list.menuRow(), -1) << "the mark goes with the menu";
}

TEST_F(QuorvaneDlgFollowTest, CtrlCRightAfterTypingCopiesTheLineFoundAndANarrowBarElidesItsCount) {
    // More lines than the find bar counts in one step, the one to find the oldest.
    CLogListModel& model = dialog->logList().model();
    model.stageLine("00001\t1\t10:00:00\tp\tf(needle)", true);
    for (int i = 2; i <= 3 * static_cast<int>(FindBar::kCountStepLines); ++i) {
        model.stageLine("0000" + std::to_string(i) + "\t1\t10:00:00\tp\tf(hay)", true);
    }
    model.commitStaged();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    CLogListView& list = dialog->logList();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    FindBar& bar = dialog->findBar();
    QTest::keyClicks(&bar.patternEdit(), "needle");
    ASSERT_TRUE(bar.isCounting()) << "the copy comes while the search still counts";
    QTest::keyClick(&bar.patternEdit(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("00001\t1\t10:00:00\tp\tf(needle)\n"));

    // The window's minimum leaves the count room with this font; a larger font or a longer count
    // does not, as a window narrower than its minimum shows.
    dialog->setMinimumSize(0, 0);
    dialog->resize(dialog->width() / 2, dialog->height());
    ASSERT_TRUE(waitUntil("the bar is laid out narrow", [&] {
        return bar.status().text() != bar.statusText();
    }));
    EXPECT_TRUE(bar.status().text().isEmpty() || bar.status().text().endsWith(QChar(0x2026)))
        << bar.status().text().toStdString();
    EXPECT_EQ(bar.status().toolTip(), bar.statusText());
}

}  // namespace
