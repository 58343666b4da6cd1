#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "tests/viewer/QuorvaneDlgFixture.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/find/ShownRows.h"
#include "viewer/list/CLogListView.h"

namespace {

using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::readFile;
using viewertest::waitForValue;
using viewertest::waitUntil;

// Opens `window`'s context menu by key and presses `keys` one after another, each in the menu
// then open (a key that opens a submenu leaves the next one for it).
void chooseFromMenus(QWidget& window, std::vector<Qt::Key> keys) {
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || keys.empty()) return;
        const Qt::Key key = keys.front();
        keys.erase(keys.begin());
        QTest::keyClick(menu, key);
    });
    watcher.start();
    QContextMenuEvent byKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                            window.mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(&window, &byKey);
}

class FoldDialogTest : public viewertest::QuorvaneDlgTest,
                       public ::testing::WithParamInterface<bool> {
  protected:
    void postAndDrain(std::initializer_list<TraceRecord> records) {
        post(records);
        drainNow(*dialog);
    }

    // The entries of the rows the list shows, oldest first, each as its indentation and text.
    std::vector<std::string> shownEntries() const {
        const ShownRows& shown = dialog->logList().shownRows();
        std::vector<std::string> entries;
        for (std::size_t row = 0; row < shown.size(); ++row) {
            const std::string_view line = shown.line(row);
            std::size_t start = 0;
            for (int tab = 0; tab < 4; ++tab) start = line.find('\t', start) + 1;
            entries.emplace_back(line.substr(start));
        }
        if (dialog->reverse()) std::reverse(entries.begin(), entries.end());
        return entries;
    }

    ::testing::AssertionResult applied() {
        return waitUntil("the rows are worked out",
                         [&] { return dialog->logList().shownRows().isComplete(); });
    }
};

TEST_P(FoldDialogTest, FoldBelowADepthHoldsForArrivalsUnderAFilterAndSaveStillWritesEveryLine) {
    if (!GetParam()) QTest::mouseClick(&dialog->reverseCheck(), Qt::LeftButton);
    ASSERT_EQ(dialog->reverse(), GetParam());
    postAndDrain({makeRecord("main", "go", "prog", 1, 1), makeRecord("step", "1", "prog", 1, 1),
                  makeRecord("note", "a", "prog", 1), makeRecord("tick", "t1", "prog", 2),
                  makeRecord("step", "", "prog", 1, -1), makeRecord("step", "2", "prog", 1, 1),
                  makeRecord("note", "b", "prog", 1), makeRecord("noise", "n1", "prog", 3)});
    ASSERT_EQ(dialog->logList().model().size(), 8u);

    chooseFromMenus(*dialog, {Qt::Key_B, Qt::Key_1});
    ASSERT_TRUE(applied());
    EXPECT_EQ(shownEntries(), (std::vector<std::string>{"main(go)", "\tstep(1)", "tick(t1)",
                                                        "\tstep(2)", "noise(n1)"}));
    // A filter on top of the folds.
    LineFilter filter;
    filter.addField(LineFilter::Field::Sender, "3", false);
    dialog->logList().shownRows().setFilter(filter);
    ASSERT_TRUE(applied());

    // Inside the open step(2), then a new step at the folded depth, and sender 2 beside them.
    postAndDrain({makeRecord("note", "c", "prog", 1), makeRecord("step", "", "prog", 1, -1),
                  makeRecord("step", "3", "prog", 1, 1), makeRecord("note", "d", "prog", 1),
                  makeRecord("tick", "t2", "prog", 2), makeRecord("noise", "n2", "prog", 3)});
    ASSERT_TRUE(applied());
    EXPECT_EQ(shownEntries(), (std::vector<std::string>{"main(go)", "\tstep(1)", "tick(t1)",
                                                        "\tstep(2)", "\tstep(3)", "tick(t2)"}));
    const ShownRows& shown = dialog->logList().shownRows();
    const ScopeTree::Id step2 = shown.scopes().scopeAt({GetParam(), 5});
    ASSERT_NE(step2, ScopeTree::kNone);
    EXPECT_EQ(shown.scopes().held(step2), 3u);

    const QString path = folder.filePath(QStringLiteral("folded.log"));
    ASSERT_EQ(saveTo(path), 1);
    std::string expected;
    const CLogListModel& model = dialog->logList().model();
    for (std::size_t row = 0; row < model.size(); ++row) {
        const std::size_t oldestFirst = GetParam() ? model.size() - 1 - row : row;
        LogFileWriter::appendSavedLine(expected, model.line(oldestFirst));
    }
    EXPECT_EQ(model.size(), 14u);
    EXPECT_EQ(readFile(path.toStdString()), expected);

    chooseFromMenus(*dialog, {Qt::Key_U});
    ASSERT_TRUE(applied());
    EXPECT_FALSE(shown.scopes().anyFolded());
    EXPECT_EQ(shown.size(), 12u);  // every line but the filter's
}

INSTANTIATE_TEST_SUITE_P(BothOrders, FoldDialogTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NewestOnTop" : "OldestOnTop"; });

}  // namespace
