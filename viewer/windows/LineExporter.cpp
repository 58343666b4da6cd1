#include "viewer/windows/LineExporter.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <ctime>
#include <string>
#include <utility>

#include "viewer/lines/CLogListModel.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/windows/WarningBox.h"

namespace {

const QString kTraceEventFilter = QStringLiteral("Trace Event JSON (*.json)");
const QString kJsonLinesFilter = QStringLiteral("JSON Lines (*.jsonl)");
const QString kTraceEventSuffix = QStringLiteral("json");
const QString kJsonLinesSuffix = QStringLiteral("jsonl");
constexpr std::size_t kPercent = 100;

}  // namespace

LineExporter::LineExporter(QWidget& window, const CLogListModel& model, const LineTimes& times)
    : LineExporter(window, model, &times, QString()) {}

LineExporter::LineExporter(QWidget& window, const CLogListModel& model, const QString& logPath)
    : LineExporter(window, model, nullptr, logPath) {}

LineExporter::LineExporter(QWidget& window, const CLogListModel& model, const LineTimes* times,
                           QString logPath)
    : QObject(&window),
      m_window(window),
      m_model(model),
      m_times(times),
      m_logPath(std::move(logPath)),
      m_choose(&LineExporter::chooseWithDialog),
      m_show(&showWarningBox) {
    m_nextStep.setSingleShot(true);
    m_nextStep.setInterval(0);
    connect(&m_nextStep, &QTimer::timeout, this, [this] { nextStep(); });
    // Cleared lines leave the export nothing to write. It is told once the reset is over.
    connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (!isExporting()) return;
        const QString consequence = m_export->rewritesInPlace()
                                        ? QStringLiteral(
                                              "The file was being rewritten in place and is now "
                                              "incomplete.")
                                        : QStringLiteral("No file was changed.");
        QTimer::singleShot(0, this, [this, message = QStringLiteral(
                                                       "The export to \"%1\" was stopped: the "
                                                       "lines were cleared.\n%2")
                                                       .arg(m_path, consequence)] {
            m_show(&m_window, message);
        });
        stop();
    });
}

LineExporter::~LineExporter() = default;

void LineExporter::addMenuAction(QMenu& menu) {
    if (m_export != nullptr) {
        const std::size_t total = 2 * m_export->lineCount();
        const std::size_t percent = total == 0 ? 0 : m_export->progress() * kPercent / total;
        menu.addAction(QStringLiteral("Exporting... %1%").arg(percent))->setEnabled(false);
        return;
    }
    QAction* action =
        menu.addAction(QStringLiteral("E&xport..."), this, [this] { chooseAndExport(); });
    action->setEnabled(m_model.size() > 0);
}

void LineExporter::chooseAndExport() {
    if (isExporting()) return;
    if (const std::optional<Choice> choice = m_choose(&m_window, suggestedName()))
        start({choice->path, formatOf(choice->path, choice->format)});
}

bool LineExporter::start(const Choice& choice) {
    if (isExporting()) return false;
    LineExport::Dating dating{LineExport::Dating::From::FirstLine, 0};
    if (m_times != nullptr) {
        dating.seconds = m_times->firstTimestamp();
    } else {
        const QDateTime modified = QFileInfo(m_logPath).lastModified();
        dating = {LineExport::Dating::From::LastLine, modified.isValid()
                                                          ? modified.toSecsSinceEpoch()
                                                          : QDateTime::currentSecsSinceEpoch()};
    }
    m_path = choice.path;
    m_export = std::make_unique<LineExport>(m_model, m_times, dating, choice.format, choice.path);
    nextStep();
    return true;
}

void LineExporter::nextStep() {
    if (m_export == nullptr) return;
    if (m_export->step(LineExport::kStepLines)) {
        m_nextStep.start();
        return;
    }
    const SaveResult result = m_export->result();
    m_export.reset();
    if (!result) m_show(&m_window, exportFailureText(m_path, result));
    emit ended(static_cast<bool>(result));
}

void LineExporter::stop() {
    m_nextStep.stop();
    m_export.reset();
    emit ended(false);
}

void LineExporter::setFileChooser(FileChooser choose) {
    m_choose = choose ? std::move(choose) : &LineExporter::chooseWithDialog;
}

void LineExporter::setMessageBox(MessageBox show) {
    m_show = show ? std::move(show) : &showWarningBox;
}

std::optional<LineExporter::Choice> LineExporter::chooseWithDialog(QWidget* parent,
                                                                   const QString& suggestedName) {
    QFileDialog dialog(parent, QStringLiteral("Export"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kTraceEventFilter, kJsonLinesFilter});
    dialog.setDefaultSuffix(kTraceEventSuffix);
    dialog.selectFile(suggestedName);
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kJsonLinesFilter ? kJsonLinesSuffix : kTraceEventSuffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const LineExport::Format chosen = dialog.selectedNameFilter() == kJsonLinesFilter
                                          ? LineExport::Format::JsonLines
                                          : LineExport::Format::TraceEvent;
    return Choice{dialog.selectedFiles().first(), chosen};
}

LineExport::Format LineExporter::formatOf(const QString& path, LineExport::Format chosen) {
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(kJsonLinesSuffix, Qt::CaseInsensitive) == 0)
        return LineExport::Format::JsonLines;
    if (suffix.compare(kTraceEventSuffix, Qt::CaseInsensitive) == 0)
        return LineExport::Format::TraceEvent;
    return chosen;
}

QString LineExporter::suggestedName() const {
    if (m_times == nullptr) {
        const QFileInfo log(m_logPath);
        return log.dir().filePath(log.completeBaseName() + QLatin1Char('.') + kTraceEventSuffix);
    }
    const std::string name = defaultSaveFileName(std::time(nullptr));
    return QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size())) +
           QLatin1Char('.') + kTraceEventSuffix;
}
