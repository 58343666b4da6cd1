// "Export..." in the context menu of both real windows: the live window's lines with their
// scopes and LineTimes' durations, a saved log's window with the file's lines.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <map>
#include <string>

#include "tests/viewer/ExportTestSupport.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace {

using exporttest::jq;
using viewertest::waitUntil;

// Opens `window`'s context menu at `at` (window coordinates), picks "Export..." with `path`
// chosen, and waits for the export's end; returns the menu's items.
QStringList exportFromContextMenu(QWidget& window, LineExporter& exporter, QPoint at,
                                  const std::string& path) {
    exporter.setFileChooser([path](QWidget*, const QString&) {
        return LineExporter::Choice{QString::fromStdString(path), LineExport::Format::TraceEvent};
    });
    bool ended = false;
    const QMetaObject::Connection watch =
        QObject::connect(&exporter, &LineExporter::ended, [&ended](bool) { ended = true; });
    QStringList items;
    QTimer::singleShot(0, &window, [&items] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            items << action->text();
            if (action->text() == QStringLiteral("E&xport...")) chosen = action;
        }
        menu->close();
        if (chosen != nullptr) chosen->trigger();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, window.mapToGlobal(at));
    QApplication::sendEvent(&window, &event);
    EXPECT_TRUE(waitUntil("the export ends", [&ended] { return ended; }))
        << items.join(QLatin1Char('|')).toStdString();
    QObject::disconnect(watch);
    return items;
}

TraceRecord timed(std::uint32_t sequence, std::int32_t delta, const char* name,
                  std::uint32_t nanoseconds) {
    TraceRecord record = viewertest::makeRecord(name, "", "live", 31, delta, 1'700'000'000);
    record.nanoseconds = nanoseconds;
    record.sequence = sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    return record;
}

TEST(WindowExport, TheLiveWindowExportsItsLinesWithTheirScopesAndDurations) {
    CQuorvaneDlg live;
    live.show();
    ASSERT_TRUE(viewertest::postFromChild({timed(1, 1, "outer", 1'000), timed(2, 1, "inner", 2'000),
                                           timed(3, 0, "step", 3'000),
                                           timed(4, -1, "inner", 502'000),
                                           timed(5, -1, "outer", 900'001'000)}));
    viewertest::drainNow(live);
    ASSERT_EQ(live.logList().model().size(), 5u);
    exporttest::ExportFolder folder;
    const std::string path = folder.file("live.json");
    const QStringList items = exportFromContextMenu(
        live, live.exporter(), live.logList().geometry().center(), path);
    EXPECT_TRUE(items.contains(QStringLiteral("E&xport..."))) << items.join('|').toStdString();
    const std::string document = viewertest::readFile(path);
    EXPECT_EQ(jq(exporttest::kNestedPerThread, document), "true");
    EXPECT_EQ(exporttest::pairsNear(exporttest::kScopeDurations, document,
                                    {{1, 900'000.0}, {2, 500.0}}, 0.5),
              "\"near\"");
    EXPECT_EQ(jq("[.traceEvents[] | select(.ph == \"i\") | .args.line]", document), "[3]");
}

TEST(WindowExport, ASavedLogsWindowExportsTheFilesLines) {
    exporttest::ExportFolder folder;
    const std::string log = folder.file("run.log");
    viewertest::writeFile(log,
                          "00001\t4\t09:00:00\tsvc\tload(a)\r\n00002\t4\t09:00:01\tsvc\tstep()\r\n");
    QString failure;
    CSavedLogDlg* window = CSavedLogDlg::open(QString::fromStdString(log), nullptr, failure);
    ASSERT_NE(window, nullptr) << failure.toStdString();
    const std::string path = folder.file("run.jsonl");
    const QStringList items = exportFromContextMenu(
        *window, window->exporter(), window->logList().geometry().center(), path);
    window->close();
    EXPECT_TRUE(items.contains(QStringLiteral("E&xport..."))) << items.join('|').toStdString();
    EXPECT_EQ(jq("[.[] | [.line, .name, .text]]", viewertest::readFile(path), true),
              "[[1,\"load\",\"a\"],[2,\"step\",\"\"]]")
        << "the name's extension chose JSON Lines";
}

}  // namespace
