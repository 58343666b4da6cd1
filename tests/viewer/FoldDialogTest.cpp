#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "tests/viewer/QuorvaneDlgFixture.h"
#include "tests/viewer/ScopedTrace.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/find/ShownRows.h"
#include "viewer/list/CLogListView.h"
#include "viewer/list/FindBar.h"
#include "viewer/windows/CSavedLogDlg.h"

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
    // Find looks among the lines shown: every note is folded away.
    FindBar& find = dialog->findBar();
    find.open();
    QTest::keyClicks(&find.patternEdit(), QStringLiteral("note("));
    ASSERT_TRUE(waitForValue(
        "notes found", [&] { return find.matchCount(); }, 0u));

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
    EXPECT_TRUE(waitForValue(
        "notes found once unfolded", [&] { return find.matchCount(); }, 4u));
}

INSTANTIATE_TEST_SUITE_P(BothOrders, FoldDialogTest, ::testing::Bool(), [](const auto& info) {
    return info.param ? "NewestOnTop" : "OldestOnTop";
});

TEST(FoldSavedLog, ASavedLogsScopesAreKnownByTheirNamesAndFoldAsInTheLiveWindow) {
    // More lines than one step goes through: the window learns its scopes over several turns.
    constexpr std::size_t kLines = 50'000;
    const viewertest::ScopedTrace trace = viewertest::randomScopedTrace(kLines, 29);
    CLogListModel written;
    for (const std::string& line : trace.lines) written.stageLine(line, false);
    written.commitStaged();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scopes.log"));
    ASSERT_TRUE(LogFileWriter().write(path, written, kLines, false));

    QString failure;
    const QPointer<CSavedLogDlg> window = CSavedLogDlg::open(path, nullptr, failure);
    ASSERT_TRUE(window) << failure.toStdString();
    CLogListView& list = window->logList();
    ShownRows& shown = list.shownRows();
    EXPECT_FALSE(shown.scopesComplete());
    ASSERT_TRUE(waitUntil("the scopes are known", [&] { return shown.scopesComplete(); }));

    // A scope near the start and one past the first step, each folded with Left on its entry.
    std::vector<bool> hidden(kLines, false);
    int foldedCount = 0;
    for (const viewertest::TraceScope& scope : trace.scopes) {
        const bool wanted = foldedCount == 0 ? scope.entry > 100 : scope.entry > 30'000;
        if (!wanted || hidden[scope.entry] || scope.leave == viewertest::TraceScope::kNoLeave ||
            scope.inside.size() < 3) {
            continue;
        }
        const std::ptrdiff_t row = shown.rowOf({false, scope.entry});
        ASSERT_GE(row, 0);
        list.selectRow(static_cast<std::size_t>(row));
        QTest::keyClick(&list, Qt::Key_Left);
        ASSERT_TRUE(waitUntil("the fold is applied", [&] { return shown.isComplete(); }));
        const ScopeTree::Id folded = shown.scopeAt(static_cast<std::size_t>(row));
        ASSERT_NE(folded, ScopeTree::kNone) << "no scope opens at line " << scope.entry;
        EXPECT_TRUE(shown.scopes().isFolded(folded));
        EXPECT_EQ(shown.scopes().held(folded), scope.inside.size());
        for (const std::size_t line : scope.inside) hidden[line] = true;
        if (++foldedCount == 2) break;
    }
    ASSERT_EQ(foldedCount, 2);
    std::vector<std::string> expected;
    for (std::size_t index = 0; index < kLines; ++index) {
        if (!hidden[index]) expected.push_back(viewertest::collapsedTabs(trace.lines[index]));
    }
    std::vector<std::string> lines;
    for (std::size_t row = 0; row < shown.size(); ++row) lines.emplace_back(shown.line(row));
    EXPECT_EQ(lines, expected);
    window->close();
}

}  // namespace
