// "Export..." as a window offers it: the chosen file written in steps while the event loop turns,
// a failure told with the file and the reason, and an export stopped by clearing the lines.
#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <string>

#include "tests/viewer/ExportTestSupport.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/windows/LineExporter.h"
#include "viewer/lines/LineTimes.h"

namespace {

using viewertest::waitUntil;

constexpr std::uint32_t kLines = 5 * LineExport::kStepLines;

class LineExporterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (std::uint32_t line = 1; line <= kLines; ++line)
            model.insertLine(std::to_string(line) + "\t" + std::to_string(line % 4) +
                                 "\t10:00:00\tapp\tstep(" + std::to_string(line) + ")",
                             true);
        exporter.setMessageBox([this](QWidget*, const QString& text) { messages.append(text); });
        QObject::connect(&exporter, &LineExporter::ended, [this](bool written) {
            endings.push_back(written);
        });
    }

    // Chooses `path` in the dialog and picks "Export..." from the window's menu.
    void exportFromMenu(const std::string& path, LineExport::Format chosen) {
        exporter.setFileChooser([path, chosen](QWidget*, const QString&) {
            return LineExporter::Choice{QString::fromStdString(path), chosen};
        });
        QMenu menu;
        exporter.addMenuAction(menu);
        ASSERT_EQ(menu.actions().size(), 1);
        ASSERT_TRUE(menu.actions().first()->isEnabled());
        menu.actions().first()->trigger();
    }

    // The menu's item now, as it reads, and "(off)" after it when disabled.
    std::string menuItem() {
        QMenu menu;
        exporter.addMenuAction(menu);
        const QAction* action = menu.actions().first();
        return action->text().toStdString() + (action->isEnabled() ? "" : " (off)");
    }

    exporttest::ExportFolder folder;
    QWidget window;
    CLogListModel model;
    LineTimes times;
    LineExporter exporter{window, model, times};
    QStringList messages;
    std::vector<bool> endings;
};

TEST_F(LineExporterTest, TheChosenFileIsWrittenInStepsWhileTheEventLoopTurns) {
    const std::string path = folder.file("trace.jsonl");
    int turns = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { turns += exporter.isExporting() ? 1 : 0; });
    ticks.start(1);
    exportFromMenu(path, LineExport::Format::TraceEvent);
    ASSERT_TRUE(exporter.isExporting()) << "the rest is left to later turns of the event loop";
    EXPECT_EQ(menuItem(), "Exporting... 10% (off)") << "no second export while one runs";
    EXPECT_FALSE(std::filesystem::exists(path)) << "the file is put in place once complete";
    ASSERT_TRUE(waitUntil("the export ends", [&] { return !exporter.isExporting(); }));
    EXPECT_GT(turns, 2);
    EXPECT_EQ(endings, std::vector<bool>{true});
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    // The name's ".jsonl" wins over the filter chosen, and the lines are those of a one-go export.
    const std::string written = viewertest::readFile(path);
    const std::string whole =
        exporttest::exportAll(model, &times, {LineExport::Dating::From::FirstLine, -1},
                              LineExport::Format::JsonLines, folder.file("whole.jsonl"));
    EXPECT_TRUE(written == whole) << written.size() << " bytes written, " << whole.size()
                                  << " bytes in one go; begins " << written.substr(0, 80);
}

TEST_F(LineExporterTest, AFailedExportNamesTheFileAndTheReason) {
    const std::string path = folder.file("missing/trace.json");
    exportFromMenu(path, LineExport::Format::TraceEvent);
    ASSERT_TRUE(waitUntil("the export ends", [&] { return !endings.empty(); }));
    EXPECT_EQ(endings, std::vector<bool>{false});
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(path)) &&
                messages[0].contains(QStringLiteral("No such file or directory")))
        << messages[0].toStdString();
}

TEST_F(LineExporterTest, ClearingTheLinesStopsTheExportAndLeavesNoFile) {
    exportFromMenu(folder.file("trace.json"), LineExport::Format::TraceEvent);
    ASSERT_TRUE(exporter.isExporting());
    model.clear();
    EXPECT_FALSE(exporter.isExporting());
    ASSERT_TRUE(waitUntil("the message", [&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("cleared"))) << messages[0].toStdString();
    EXPECT_EQ(endings, std::vector<bool>{false});
    EXPECT_TRUE(folder.names().empty()) << "no replacement left behind";
    EXPECT_EQ(menuItem(), "E&xport... (off)") << "nothing to export";
}

}  // namespace
