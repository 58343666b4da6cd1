// Read-only windows at the edges of what they open: a log of millions of empty lines, more files
// than the viewer maps at once, and files the system makes up as they are read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/FileMapping.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace {

using viewertest::closeSavedLogWindows;
using viewertest::savedLogWindows;

using viewertest::statusBytes;

class SavedLogLimitsTest : public ::testing::Test {
  protected:
    void TearDown() override { closeSavedLogWindows(); }

    QString write(const QString& name, const std::string& bytes) const {
        QString path = m_folder.filePath(name);
        viewertest::writeFile(path.toStdString(), bytes);
        return path;
    }

    QTemporaryDir m_folder;
};

TEST_F(SavedLogLimitsTest, AWindowOnMillionsOfEmptyLinesHoldsAboutTwoBytesALine) {
    constexpr std::size_t kLines = std::size_t{24} << 20;
    const QString path = write(QStringLiteral("newlines.log"), std::string(kLines, '\n'));
    const std::size_t before = statusBytes("RssAnon");
    ASSERT_GT(before, 0u);
    QString failure;
    QPointer<CSavedLogDlg> window = CSavedLogDlg::open(path, nullptr, failure);
    ASSERT_NE(window, nullptr) << failure.toStdString();
    QCoreApplication::processEvents();
    const std::size_t grown = statusBytes("RssAnon") - before;

    const CLogListModel& model = window->logList().model();
    ASSERT_EQ(model.size(), kLines);
    EXPECT_EQ(model.line(kLines - 1), "");
    EXPECT_LE(model.bytesHeld(), 2 * kLines + (std::size_t{1} << 20))
        << static_cast<double>(model.bytesHeld()) / kLines << " bytes a line";
    // The window's own widgets and fonts take a few MiB besides.
    EXPECT_LE(grown, 2 * kLines + (std::size_t{24} << 20))
        << static_cast<double>(grown) / kLines << " bytes a line";
}

TEST_F(SavedLogLimitsTest, PastTheFilesItMapsAtOnceTheViewerSaysSoAndAClosedWindowMakesRoom) {
    constexpr std::size_t kFiles = FileMapping::kMaxGuardedMappings + 1;
    QStringList paths;
    for (std::size_t i = 0; i < kFiles; ++i) {
        paths << write(QStringLiteral("log%1.log").arg(i), "line of log " + std::to_string(i));
    }
    QString failure;
    QPointer<CSavedLogDlg> first = CSavedLogDlg::open(paths.front(), nullptr, failure);
    ASSERT_NE(first, nullptr) << failure.toStdString();
    QStringList told;
    first->opener().setMessageBox([&told](QWidget*, const QString& text) { told << text; });

    EXPECT_EQ(first->opener().open(paths.mid(1)), static_cast<int>(kFiles) - 2);
    EXPECT_EQ(savedLogWindows().size(), kFiles - 1);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told.first().toStdString(),
              QStringLiteral("Cannot open \"%1\": the viewer opens at most 256 files at once.")
                  .arg(paths.back())
                  .toStdString());

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QPointer<CSavedLogDlg> last = CSavedLogDlg::open(paths.back(), nullptr, failure);
    ASSERT_NE(last, nullptr) << failure.toStdString();
    EXPECT_EQ(viewertest::rows(last->logList().model()),
              std::vector<std::string>{"line of log " + std::to_string(kFiles - 1)});
}

TEST_F(SavedLogLimitsTest, AWindowOnProcCpuinfoShowsWhatReadingItGives) {
    std::vector<std::string> read;
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        read.push_back(line);
    }
    ASSERT_FALSE(read.empty());
    QString failure;
    QPointer<CSavedLogDlg> window =
        CSavedLogDlg::open(QStringLiteral("/proc/cpuinfo"), nullptr, failure);
    ASSERT_NE(window, nullptr) << failure.toStdString();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("cpuinfo"));
    const std::vector<std::string> shown = viewertest::rows(window->logList().model());
    ASSERT_EQ(shown.size(), read.size());
    // Clock rates change from one read to the next; the processors and their names do not.
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (read[i].rfind("processor", 0) == 0 || read[i].rfind("model name", 0) == 0) {
            EXPECT_EQ(shown[i], read[i]) << "line " << i;
        }
    }
}

}  // namespace
