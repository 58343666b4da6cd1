// Opening a saved log: the real read-only window (CSavedLogDlg, offscreen) opening a
// 1,000,000-line log written by LogFileWriter, to its first painted screen, against reading the
// same file line by line with QFile::readLine into a QStringList, as a plain Qt viewer would.
// The two alternate round by round; the file stays in the page cache for both.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "bench/RecordMix.h"
#include "bench/RoundReport.h"
#include "bench/TempDirectory.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/MemoryRelease.h"
#include "viewer/windows/CSavedLogDlg.h"

namespace {

constexpr std::size_t kMixRecords = 16'384;
constexpr std::uint32_t kMixSeed = 20240305;
constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 5;
constexpr int kGiveUpMs = 30'000;
constexpr double kTargetFirstScreenMs = 1000.0;
constexpr double kTargetRatio = 1.0;
constexpr double kTargetBytesPerLine = 16.0;
constexpr double kNanosecondsPerMillisecond = 1e6;

// Writes `lines` lines of the realistic mix (about 300 bytes each) as the viewer saves them.
bool writeLog(const std::string& path, std::uint32_t lines) {
    const std::vector<TraceRecord> mix = makeRecordMix(kMixRecords, kMixSeed);
    DepthTable depths;
    LineFormatter formatter(depths);
    CLogListModel model;
    for (std::uint32_t line = 1; line <= lines; ++line) {
        model.stageLine(formatter.formatLine(mix[(line - 1) % mix.size()], line), false);
        formatter.storeDepth();
    }
    model.commitStaged();
    LogFileWriter writer;
    return static_cast<bool>(writer.write(QString::fromStdString(path), model, lines, false));
}

// Paint events the list has had; the first after opening is its first screen.
class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct Opened {
    double milliseconds = 0;
    double anonymousBytes = 0;
    std::size_t lines = 0;
    std::string failure;
};

// Opens the window and turns the event loop until the list has painted its first screen.
Opened openWindow(const QString& path) {
    returnFreedMemoryToSystem();
    const double baseAnon = ownStatusBytes("RssAnon");
    Opened opened;
    QElapsedTimer clock;
    clock.start();
    QString failure;
    QPointer<CSavedLogDlg> window = CSavedLogDlg::open(path, nullptr, failure);
    if (window == nullptr) {
        opened.failure = failure.toStdString();
        return opened;
    }
    PaintCounter counter;
    window->logList().viewport()->installEventFilter(&counter);
    while (counter.paints == 0 && clock.elapsed() < kGiveUpMs) {
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    // Painting happens inside the event it answers, so the screen is complete here.
    opened.milliseconds = static_cast<double>(clock.nsecsElapsed()) / kNanosecondsPerMillisecond;
    opened.anonymousBytes = ownStatusBytes("RssAnon") - baseAnon;
    opened.lines = window->logList().model().size();
    if (counter.paints == 0) opened.failure = "no paint within the time allowed";
    window->logList().viewport()->removeEventFilter(&counter);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return opened;
}

// The peer: every line read with QFile::readLine and kept as a QString.
Opened readLines(const QString& path) {
    returnFreedMemoryToSystem();
    const double baseAnon = ownStatusBytes("RssAnon");
    Opened opened;
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        opened.failure = "QFile could not open the log";
        return opened;
    }
    QStringList lines;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        line.chop(line.endsWith("\r\n") ? 2 : (line.endsWith('\n') ? 1 : 0));
        lines.append(QString::fromLocal8Bit(line));
    }
    opened.milliseconds = static_cast<double>(clock.nsecsElapsed()) / kNanosecondsPerMillisecond;
    opened.anonymousBytes = ownStatusBytes("RssAnon") - baseAnon;
    opened.lines = static_cast<std::size_t>(lines.size());
    return opened;
}

}  // namespace

int main(int argc, char** argv) {
    const auto lines = static_cast<std::uint32_t>(
        environmentNumber("QUORVANE_BENCH_OPENLOG_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    BenchReport report(argc, argv);
    TempDirectory directory;
    if (!directory.valid()) return 1;
    const std::string logPath = directory.file("saved.log");
    if (!writeLog(logPath, lines)) {
        std::fprintf(stderr, "cannot write the log\n");
        return 1;
    }
    const auto fileBytes = static_cast<double>(QFile(QString::fromStdString(logPath)).size());
    const QString path = QString::fromStdString(logPath);

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    Samples openMs;
    Samples openBytesPerLine;
    Samples readMs;
    Samples readBytesPerLine;
    std::vector<std::string> failures;
    for (int round = 0; round < rounds; ++round) {
        const std::string roundName = "round " + std::to_string(round + 1) + ": ";
        const Opened opened = openWindow(path);
        if (!opened.failure.empty() || opened.lines != lines) {
            failures.push_back(roundName + "the window " +
                               (opened.failure.empty()
                                    ? "showed " + std::to_string(opened.lines) + " lines"
                                    : opened.failure));
        } else {
            openMs.add(opened.milliseconds);
            openBytesPerLine.add(opened.anonymousBytes / lines);
        }
        const Opened read = readLines(path);
        if (!read.failure.empty() || read.lines != lines) {
            failures.push_back(roundName + "QFile " +
                               (read.failure.empty()
                                    ? "read " + std::to_string(read.lines) + " lines"
                                    : read.failure));
        } else {
            readMs.add(read.milliseconds);
            readBytesPerLine.add(read.anonymousBytes / lines);
        }
    }

    report.section("opening a saved log: " + std::to_string(lines) + " lines (" +
                   unitText(fileBytes, Unit::Bytes) + " file, in the page cache), " +
                   std::to_string(rounds) + " interleaved rounds");
    report.comparison("open to first painted screen", openMs, "QFile::readLine into a QStringList",
                      readMs, Unit::Milliseconds);
    report.comparison("anonymous memory added per line", openBytesPerLine,
                      "QFile::readLine into a QStringList", readBytesPerLine, Unit::Bytes);
    report.note("file bytes per line: " + plainNumber(fileBytes / lines) +
                "; the window holds the file mapped, not copied");
    for (const std::string& failure : failures) report.note("void run, " + failure);
    report.result(resultLine("open_log_first_screen_ms", openMs.median(), kTargetFirstScreenMs,
                             Better::Lower));
    report.result(resultLine("open_log_vs_qfile_readline_ms", openMs.median(), readMs.median(),
                             kTargetRatio, Better::Lower));
    report.result(resultLine("open_log_anon_bytes_per_line", openBytesPerLine.median(),
                             kTargetBytesPerLine, Better::Lower));
    report.finish();
    return failures.empty() ? 0 : 1;
}
