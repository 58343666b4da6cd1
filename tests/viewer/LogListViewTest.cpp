#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <string>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/list/CLogListView.h"
#include "viewer/list/ListTextLayout.h"

namespace {

class LogListViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.resize(400, 200);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    void fill(int count, bool onTop) {
        for (int i = 1; i <= count; ++i) {
            view.model().insertLine("line " + std::to_string(i), onTop);
        }
    }

    QPoint pointOfRow(std::size_t row) const {
        const int y =
            static_cast<int>(row - view.topRow()) * view.rowHeight() + view.rowHeight() / 2;
        return QPoint(20, y);
    }

    void click(std::size_t row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, pointOfRow(row));
    }

    std::vector<std::size_t> selectedRows() const {
        std::vector<std::size_t> result;
        for (std::size_t row = 0; row < view.model().size(); ++row) {
            if (view.isSelected(row)) {
                result.push_back(row);
            }
        }
        return result;
    }

    CLogListView view;
};

using Rows = std::vector<std::size_t>;

TEST_F(LogListViewTest, ClickShiftClickAndCtrlClickSelectAsAnExtendedSelectionList) {
    fill(8, false);
    click(1);
    EXPECT_EQ(selectedRows(), Rows({1}));
    EXPECT_EQ(view.currentRow(), 1);
    click(4, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), Rows({1, 2, 3, 4}));
    click(6, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), Rows({1, 2, 3, 4, 6}));
    click(2, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), Rows({1, 3, 4, 6}));
    click(5);
    EXPECT_EQ(selectedRows(), Rows({5}));
    // Below the last line nothing changes.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(20, view.rowHeight() * 9 + 2));
    EXPECT_EQ(selectedRows(), Rows({5}));
}

TEST_F(LogListViewTest, ArrowPageHomeAndEndKeysMoveTheSelectionAndShiftExtendsIt) {
    fill(40, false);
    view.setFocus();
    click(3);
    QTest::keyClick(view.viewport(), Qt::Key_Down);
    EXPECT_EQ(selectedRows(), Rows({4}));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), Rows({4, 5, 6}));
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(selectedRows(), Rows({5}));
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(selectedRows(), Rows({39}));
    EXPECT_GT(view.topRow(), 0u) << "the current line is scrolled into sight";
    QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedCount(), 40u);
    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(view.topRow(), 0u);
    QTest::keyClick(&view, Qt::Key_PageDown);
    const std::ptrdiff_t afterPage = view.currentRow();
    EXPECT_GT(afterPage, 1);
    EXPECT_EQ(view.selectedCount(), 1u);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(view.currentRow(), afterPage + 1);
    EXPECT_EQ(selectedRows(), Rows({static_cast<std::size_t>(afterPage)}));
    QTest::keyClick(&view, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(view.selectedCount(), 2u);
}

TEST_F(LogListViewTest, CtrlHomeAndCtrlEndSelectTheTopAndTheBottomLineAndFollowAtTheNewestEnd) {
    fill(40, false);
    view.setFocus();
    click(3);
    EXPECT_FALSE(view.isFollowing());
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), Rows({39}));
    EXPECT_EQ(view.currentRow(), 39);
    EXPECT_GT(view.topRow(), 0u) << "the newest line is scrolled into sight";
    EXPECT_TRUE(view.isFollowing());
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), Rows({0}));
    EXPECT_EQ(view.topRow(), 0u);
    EXPECT_FALSE(view.isFollowing());

    view.model().clear();
    fill(40, true);  // newest on top
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    ASSERT_EQ(selectedRows(), Rows({39}));
    EXPECT_EQ(view.model().line(39), "line 1");
    EXPECT_GT(view.topRow(), 0u);
    EXPECT_FALSE(view.isFollowing());
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    ASSERT_EQ(selectedRows(), Rows({0}));
    EXPECT_EQ(view.model().line(0), "line 40");
    EXPECT_TRUE(view.isFollowing());
}

TEST_F(LogListViewTest, CtrlCCopiesTheSelectedLinesOldestFirstAsShownEachEndedByLF) {
    view.model().insertLine("00001\t7\t10:00:00\torig\tA()", true);
    view.model().insertLine("00002\t7\t10:00:00\torig\t\t\tB()", true);
    view.model().insertLine("00003\t7\t10:00:00\t\tC()", true);
    // Newest on top: rows are 3, 2, 1.
    click(0);
    click(1, Qt::ShiftModifier);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "00002\t7\t10:00:00\torig\t\t\tB()\n00003\t7\t10:00:00\t\tC()\n");

    view.model().clear();
    view.model().insertLine("first\t\tx", false);
    view.model().insertLine("second", false);
    view.model().insertLine("third", false);
    click(2);
    click(0, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "first\t\tx\nthird\n");
}

TEST_F(LogListViewTest, SelectionStaysOnItsLinesWhenNewLinesArriveOnTop) {
    fill(3, true);  // rows: line 3, line 2, line 1
    click(1);
    ASSERT_EQ(view.model().line(1), "line 2");
    view.model().insertLine("line 4", true);
    view.model().insertLine("line 5", true);
    EXPECT_EQ(selectedRows(), Rows({3}));
    EXPECT_EQ(view.model().line(3), "line 2");
    EXPECT_EQ(view.currentRow(), 3);
    view.model().clear();
    EXPECT_EQ(view.selectedCount(), 0u);
    EXPECT_EQ(view.currentRow(), -1);
}

TEST_F(LogListViewTest, LinesOnTopKeepTheLinesInSightWhenScrolledDown) {
    fill(100, true);
    view.scrollToRow(50);
    const std::string inSight(view.model().line(50));
    view.model().insertLine("new", true);
    EXPECT_EQ(view.topRow(), 51u);
    EXPECT_EQ(view.model().line(view.topRow()), inSight);
    view.scrollToRow(0);
    view.model().insertLine("newer", true);
    EXPECT_EQ(view.topRow(), 1u) << "a list that does not follow keeps its lines at the top too";
    view.follow();
    view.model().insertLine("newest", true);
    EXPECT_EQ(view.topRow(), 0u);
}

TEST_F(LogListViewTest, ADragHeldBelowTheListKeepsScrollingAndSelectingUntilReleased) {
    fill(200, false);
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, pointOfRow(2));
    QTest::mouseMove(view.viewport(), QPoint(20, view.viewport()->height() + 20));
    ASSERT_TRUE(viewertest::waitUntil("the drag scrolls", [&] { return view.topRow() >= 30; }));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                        QPoint(20, view.viewport()->height() + 20));
    const std::size_t top = view.topRow();
    const auto current = static_cast<std::size_t>(view.currentRow());
    EXPECT_EQ(current + 1, top + static_cast<std::size_t>(view.verticalScrollBar()->pageStep()))
        << "the selection reaches the bottom line in sight";
    EXPECT_EQ(view.selectedCount(), current - 1);
    EXPECT_TRUE(view.isSelected(2));
    QTest::qWait(200);
    EXPECT_EQ(view.topRow(), top) << "released, it stops";
}

TEST_F(LogListViewTest, LongLinesScrollHorizontallyAsFarAsTheirWidth) {
    fill(3, false);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    const std::string longLine = "start\t\t\t" + std::string(300, 'W') + "end";
    view.model().insertLine(longLine, false);
    const int width = view.lineWidth(QString::fromStdString(longLine));
    EXPECT_GE(width, view.fontMetrics().horizontalAdvance(QString(300, QLatin1Char('W'))));
    EXPECT_EQ(view.contentWidth(), width);
    EXPECT_GE(view.horizontalScrollBar()->maximum() + view.viewport()->width(), width);
}

TEST_F(LogListViewTest, WidestLineDrawnCountsEvenWhenItIsNotTheLongestInBytes) {
    // Many tabs make a short line wide: the drawing pass measures what it draws.
    view.model().insertLine(std::string(40, 'i'), false);
    view.model().insertLine(std::string(20, '\t') + "x", false);
    view.viewport()->repaint();
    EXPECT_GE(view.contentWidth(), static_cast<int>(20 * view.tabStopDistance()));
    EXPECT_GE(view.horizontalScrollBar()->maximum() + view.viewport()->width(),
              static_cast<int>(20 * view.tabStopDistance()));
}

TEST_F(LogListViewTest, TabsAdvanceToStopsOfTheGivenDistance) {
    view.setTabStopDistance(100);
    EXPECT_EQ(view.lineWidth(QStringLiteral("\t")), 100);
    EXPECT_EQ(view.lineWidth(QStringLiteral("ab\t")), 100);
    EXPECT_EQ(view.lineWidth(QStringLiteral("\t\t")), 200);
    view.model().insertLine("\t\xe2\x96\x88", false);  // a full block after one tab
    view.viewport()->repaint();
    const QImage image = view.viewport()->grab().toImage();
    const int y = view.rowHeight() / 2;
    int firstInk = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (qGray(image.pixel(x, y)) < 128) {
            firstInk = x;
            break;
        }
    }
    EXPECT_NEAR(firstInk, view.textMargin() + 100, 3);
}

TEST_F(LogListViewTest, LineNumbersWiderThanATabStopKeepTheNextColumnAlignedOnScreen) {
    // Six digits fit before the first stop; seven do not.
    const qreal stop = view.lineWidth(QStringLiteral("000000")) + 2;
    view.setTabStopDistance(stop);
    const std::string block = "\xe2\x96\x88";
    view.model().insertLine("00001\t" + block, false);
    EXPECT_EQ(view.lineWidth(QStringLiteral("00001\t")), static_cast<int>(std::ceil(stop)))
        << "short numbers leave the first stop where it was";
    view.model().insertLine("1234567\t" + block, false);
    view.model().insertLine("00002\t" + block, false);
    const int second = static_cast<int>(std::ceil(2 * stop));
    EXPECT_EQ(view.lineWidth(QStringLiteral("00001\t")), second);
    EXPECT_EQ(view.lineWidth(QStringLiteral("1234567\t")), second);

    view.viewport()->repaint();
    const QImage image = view.viewport()->grab().toImage();
    const int numberEnd = view.textMargin() + view.lineWidth(QStringLiteral("1234567")) + 1;
    for (int row = 0; row < 3; ++row) {
        const int y = row * view.rowHeight() + view.rowHeight() / 2;
        int firstInk = -1;
        for (int x = numberEnd; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                firstInk = x;
                break;
            }
        }
        EXPECT_NEAR(firstInk, view.textMargin() + second, 3) << "row " << row;
    }

    // The lines themselves keep their one tab, as a saved file holds them.
    view.selectAll();
    EXPECT_EQ(view.copiedText().toStdString(),
              "00001\t" + block + "\n1234567\t" + block + "\n00002\t" + block + "\n");
    view.model().clear();
    view.model().insertLine("00001\t" + block, false);
    EXPECT_EQ(view.lineWidth(QStringLiteral("00001\t")), static_cast<int>(std::ceil(stop)));
}

TEST(ListTextLayout, ColumnsKeepASpaceApartAndALongProgramNeverMovesTheEntryOnScreen) {
    const QFont font = QApplication::font();
    ListTextLayout layout(font);
    const qreal stop = QFontMetricsF(font).horizontalAdvance(QStringLiteral("10:00:00"));
    const CLogListModel noLines;
    layout.setTabStopDistance(stop + 1, font, noLines);
    const QString space(QLatin1Char(' '));
    EXPECT_GE(layout.lineWidth(QStringLiteral("10:00:00\t")),
              layout.lineWidth(QStringLiteral("10:00:00")) + layout.lineWidth(space))
        << "a time that ends just short of a stop is kept a space's width from the next column";

    const std::string head = "00001\t7\t10:00:00\t";
    const int entryColumn = layout.lineWidth(layout.screenText(head + "p\t", 3));
    const std::string program = "a-program-much-wider-than-one-stop";
    const QString cut = layout.screenText(head + program + "\tA()", 3);
    EXPECT_EQ(layout.lineWidth(cut.left(cut.indexOf(QStringLiteral("A()")))), entryColumn);
    EXPECT_TRUE(cut.contains(QChar(0x2026))) << cut.toStdString();
    EXPECT_EQ(layout.screenText(head + program + "\tA()", -1).toStdString(),
              head + program + "\tA()")
        << "a line of another shape is left whole";
}

}  // namespace
