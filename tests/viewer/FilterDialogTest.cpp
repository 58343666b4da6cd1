#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace {

using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::postFromChild;
using viewertest::readFile;
using viewertest::waitForValue;
using viewertest::waitUntil;
using viewertest::writeFile;

// Opens the context menu of `window` over shown row `row` of `list` (by key on the current line
// when -1) and presses `mnemonic` in it; returns the menu's item texts.
QStringList chooseFromContextMenu(QWidget& window, CLogListView& list, std::ptrdiff_t row,
                                  Qt::Key mnemonic) {
    QStringList items;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (const QAction* action : menu->actions()) {
                items << action->text();
            }
            QTest::keyClick(menu, mnemonic);
        }
    });
    watcher.start();
    if (row < 0) {
        QContextMenuEvent byKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                window.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&window, &byKey);
    } else {
        const QPoint at(10, static_cast<int>(row) * list.rowHeight() + list.rowHeight() / 2);
        QContextMenuEvent onRow(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list.viewport(), &onRow);
    }
    return items;
}

class FilterDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = std::make_unique<CQuorvaneDlg>();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }

    void TearDown() override { dialog.reset(); }

    void postAndDrain(std::initializer_list<TraceRecord> records) {
        ASSERT_TRUE(postFromChild(std::vector<TraceRecord>(records)));
        drainNow(*dialog);
    }

    // The entry texts of the rows the list shows, top to bottom.
    std::vector<std::string> shownTexts() const {
        const ShownRows& shown = dialog->logList().shownRows();
        std::vector<std::string> texts;
        for (std::size_t row = 0; row < shown.size(); ++row) {
            const std::string_view line = shown.line(row);
            const std::size_t open = line.rfind('(');
            texts.emplace_back(line.substr(open + 1, line.size() - open - 2));
        }
        return texts;
    }

    QStringList chooseFromMenu(std::ptrdiff_t row, Qt::Key mnemonic) {
        return chooseFromContextMenu(*dialog, dialog->logList(), row, mnemonic);
    }

    std::unique_ptr<CQuorvaneDlg> dialog;
    QTemporaryDir folder;
};

TEST_F(FilterDialogTest, FindBarAndLineMenuFilterTheListWhileLinesArriveAndSaveKeepsEveryLine) {
    postAndDrain({makeRecord("e", "disk full", "diskd", 1), makeRecord("e", "link up", "netd", 2),
                  makeRecord("e", "disk ok", "diskd", 1), makeRecord("e", "link down", "netd", 3),
                  makeRecord("e", "disk slow", "diskd", 2), makeRecord("e", "link ok", "netd", 3)});
    CLogListView& list = dialog->logList();
    FindBar& bar = dialog->findBar();
    const FilterNote& note = dialog->filterNote();
    const QRect listAlone = list.geometry();
    ASSERT_EQ(list.shownRows().size(), 6u);
    EXPECT_TRUE(note.isHidden());

    // Ctrl+F, a text and Alt+O show only the lines that match; the note says how many.
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    const QRect listWithBar = list.geometry();
    QTest::keyClicks(QApplication::focusWidget(), "DISK");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
    // A mnemonic clicks its button after a short animation.
    ASSERT_TRUE(waitUntil("a filter is on", [&] { return list.shownRows().isFiltering(); }));
    ASSERT_TRUE(waitUntil("the filter is applied", [&] { return list.shownRows().isComplete(); }));
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"disk slow", "disk ok", "disk full"}));
    ASSERT_TRUE(note.isVisible());
    EXPECT_TRUE(note.text().contains(QStringLiteral("3 of 6 lines shown")))
        << note.text().toStdString();
    EXPECT_LT(list.geometry().height(), listWithBar.height());
    EXPECT_GE(note.geometry().top(), list.geometry().bottom());
    EXPECT_LE(note.geometry().bottom(), bar.geometry().top());

    // Find works among the shown lines; Ctrl+C copies the shown line found.
    bar.patternEdit().selectAll();
    QTest::keyClicks(&bar.patternEdit(), "ok");
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !bar.isCounting(); }));
    EXPECT_EQ(bar.statusText(), QStringLiteral("1 line matches"));
    EXPECT_EQ(list.currentRow(), 1);
    QTest::keyClick(&bar.patternEdit(), Qt::Key_Return);
    EXPECT_EQ(list.currentRow(), 1);
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("wrapped")));
    QTest::keyClick(&bar.patternEdit(), Qt::Key_C, Qt::ControlModifier);
    QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("00003\t1\t"))) << copied.toStdString();
    EXPECT_TRUE(copied.endsWith(QStringLiteral("e(disk ok)\n"))) << copied.toStdString();

    // Hide this sender, from the menu of the top row (sender 2).
    QStringList items = chooseFromMenu(0, Qt::Key_H);
    EXPECT_TRUE(items.contains(QStringLiteral("&Hide sender 2"))) << items.join('|').toStdString();
    EXPECT_TRUE(items.contains(QStringLiteral("Show only pr&ogram diskd")));
    ASSERT_TRUE(waitUntil("the filter is applied", [&] { return list.shownRows().isComplete(); }));
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"disk ok", "disk full"}));
    EXPECT_TRUE(note.text().contains(QStringLiteral("2 of 6 lines shown")));

    // Lines arriving under the filter are filtered as they come, paused or not.
    postAndDrain({makeRecord("e", "disk again", "diskd", 1),
                  makeRecord("e", "disk two", "diskd", 2), makeRecord("e", "net", "netd", 1)});
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"disk again", "disk ok", "disk full"}));
    EXPECT_TRUE(note.text().contains(QStringLiteral("3 of 9 lines shown")));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_P, Qt::ControlModifier);
    ASSERT_TRUE(dialog->listPause().isPaused());
    postAndDrain({makeRecord("e", "disk paused", "diskd", 3)});
    EXPECT_EQ(list.shownRows().size(), 3u);
    QTest::keyClick(&list, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(shownTexts(),
              (std::vector<std::string>{"disk paused", "disk again", "disk ok", "disk full"}));
    EXPECT_TRUE(note.text().contains(QStringLiteral("4 of 10 lines shown")));

    // Ctrl+End and Ctrl+Home go to the bottom and the top shown line; Shift+Up extends.
    QTest::keyClick(&list, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(list.currentRow(), 3);
    QTest::keyClick(&list, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.count(QStringLiteral("\n")), 2);
    EXPECT_TRUE(copied.contains(QStringLiteral("e(disk full)\n")));
    EXPECT_TRUE(copied.endsWith(QStringLiteral("e(disk ok)\n")));
    QTest::keyClick(&list, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(list.currentRow(), 0);

    // Save still writes every line.
    QString path = folder.filePath(QStringLiteral("all.txt"));
    dialog->setSavePathChooser([&](QWidget*, const QString&) { return path; });
    QTest::mouseClick(&dialog->saveButton(), Qt::LeftButton);
    const std::string saved = readFile(path.toStdString());
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 10);
    EXPECT_NE(saved.find("(link up)"), std::string::npos);
    EXPECT_TRUE(dialog->notes().said(WindowNotes::Topic::Save).startsWith("Saved 10 lines"));
    dialog->notes().dismiss();

    // "Show everything" by key brings every line back and the note goes.
    items = chooseFromMenu(-1, Qt::Key_E);
    EXPECT_TRUE(items.contains(QStringLiteral("Show &everything")));
    EXPECT_EQ(list.shownRows().size(), 10u);
    EXPECT_TRUE(note.isHidden());
    // Ctrl+Home above followed the newest line again, so no note says otherwise.
    EXPECT_EQ(list.geometry(), listWithBar);
    EXPECT_EQ(shownTexts().at(0), "disk paused") << "the line that was current stays current";
    EXPECT_EQ(list.currentRow(), 0);

    // Show only the program of a line: the netd lines, newest first.
    chooseFromMenu(1, Qt::Key_O);
    EXPECT_EQ(shownTexts(), (std::vector<std::string>{"net", "link ok", "link down", "link up"}));
    bar.patternEdit().setFocus();
    QTest::keyClick(&bar.patternEdit(), Qt::Key_Escape);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_TRUE(note.isVisible()) << "the filter outlives the find bar";
    chooseFromMenu(-1, Qt::Key_E);
    EXPECT_EQ(list.geometry(), listAlone);
}

TEST_F(FilterDialogTest, OnALongListFindAndFilterFinishOnLaterTurnsAndThenGoToTheMatch) {
    // More lines than one step looks at; the only match is the oldest line, at the bottom.
    CLogListModel& model = dialog->logList().model();
    constexpr std::size_t kLines = 3 * FindBar::kCountStepLines;
    model.insertLine("00001\t7\t10:00:00\tfar\tneedle(here)", true);
    for (std::size_t i = 2; i <= kLines; ++i) {
        model.stageLine("0000" + std::to_string(i) + "\t8\t10:00:00\tnear\tline(hay)", true);
    }
    model.commitStaged();
    CLogListView& list = dialog->logList();
    FindBar& bar = dialog->findBar();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "NEEDLE");
    // The first step has not reached the match: the bar says so and finds it once counted.
    EXPECT_TRUE(bar.isCounting());
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("searching")))
        << bar.statusText().toStdString();
    ASSERT_TRUE(waitForValue(
        "the current row", [&] { return list.currentRow(); },
        static_cast<std::ptrdiff_t>(kLines - 1)));
    EXPECT_EQ(bar.statusText(), QStringLiteral("1 line matches"));

    // A filter over the long list is applied on later turns too, the note counting "so far".
    bar.hideButton().click();
    ASSERT_TRUE(list.shownRows().isFiltering());
    EXPECT_FALSE(list.shownRows().isComplete());
    const FilterNote& note = dialog->filterNote();
    EXPECT_TRUE(note.text().contains(QStringLiteral("so far"))) << note.text().toStdString();
    ASSERT_TRUE(waitUntil("the filter is applied", [&] { return list.shownRows().isComplete(); }));
    EXPECT_EQ(list.shownRows().size(), kLines - 1);
    EXPECT_TRUE(
        note.text().contains(QStringLiteral("%1 of %2 lines shown.").arg(kLines - 1).arg(kLines)))
        << note.text().toStdString();
    // The line that was current is hidden: the first shown line below it would be current, and
    // there is none, so the last shown line is.
    EXPECT_EQ(list.currentRow(), static_cast<std::ptrdiff_t>(kLines - 2));
    QTest::keyClick(&bar.patternEdit(), Qt::Key_F3);
    ASSERT_TRUE(waitUntil("the find bar counts", [&] { return !bar.isCounting(); }));
    EXPECT_EQ(bar.matchCount(), 0u);
    EXPECT_TRUE(bar.statusText().contains(QStringLiteral("not found")));
}

TEST(SavedLogFilter, ASavedLogWindowShowsOnlyTheSenderOfALineAndEverythingAgain) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("saved.txt"));
    writeFile(path.toStdString(),
              "00001\t7\t10:00:00\tdiskd\tf(disk full)\r\n"
              "00002\t8\t10:00:01\tnetd\tf(link up)\r\n"
              "00003\t7\t10:00:02\tdiskd\tf(disk ok)\r\n");
    QString failure;
    QPointer<CSavedLogDlg> window = CSavedLogDlg::open(path, nullptr, failure);
    ASSERT_TRUE(window) << failure.toStdString();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.data()));
    CLogListView& list = window->logList();
    ASSERT_EQ(list.shownRows().size(), 3u);

    const QStringList items = chooseFromContextMenu(*window, list, 1, Qt::Key_S);
    EXPECT_TRUE(items.contains(QStringLiteral("Open Saved &Log...")));
    EXPECT_TRUE(items.contains(QStringLiteral("Show only &sender 8")))
        << items.join('|').toStdString();
    ASSERT_EQ(list.shownRows().size(), 1u);
    EXPECT_EQ(list.shownRows().line(0), "00002\t8\t10:00:01\tnetd\tf(link up)");
    EXPECT_TRUE(window->filterNote().isVisible());
    EXPECT_TRUE(window->filterNote().text().contains(QStringLiteral("1 of 3 lines shown")));

    chooseFromContextMenu(*window, list, -1, Qt::Key_E);
    EXPECT_EQ(list.shownRows().size(), 3u);
    EXPECT_TRUE(window->filterNote().isHidden());
    window->close();
    EXPECT_TRUE(waitUntil("the closed window is deleted", [&] { return window.isNull(); }));
}

}  // namespace
