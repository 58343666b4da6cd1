#pragma once
#include <QMenu>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "viewer/files/LineExport.h"
#include "viewer/list/ContextMenuItem.h"

class CLogListModel;
class LineTimes;
class QWidget;

// "Export..." in a window's context menu: asks for a file (Trace Event JSON or JSON Lines) and
// exports the window's lines to it with LineExport, LineExport::kStepLines lines per turn of the
// event loop, so the window goes on drawing and taking input (and the live window draining)
// however many lines there are. A failure is told in a message box that names the file and the
// reason. Clearing the lines stops an export (its file is not written); closing the window too.
class LineExporter : public QObject, public ContextMenuItem {
    Q_OBJECT
  public:
    struct Choice {
        QString path;
        LineExport::Format format;
    };
    // Asks for the file to export to, proposing `suggestedName`; nullopt means cancelled.
    using FileChooser =
        std::function<std::optional<Choice>(QWidget* parent, const QString& suggestedName)>;
    using MessageBox = std::function<void(QWidget* parent, const QString& text)>;

    // The live window's lines, with what `times` knows of them; dated by their first record.
    LineExporter(QWidget& window, const CLogListModel& model, const LineTimes& times);
    // A saved log's lines, dated by the modification time of the file at `logPath`.
    LineExporter(QWidget& window, const CLogListModel& model, const QString& logPath);
    ~LineExporter() override;

    // Adds "Export..." to a context menu; while an export runs it shows how far it is, disabled.
    void addMenuAction(QMenu& menu) override;
    // Asks for a file with the chooser and starts the export, in the format the file's
    // extension names when it names one (formatOf), otherwise in the one chosen.
    void chooseAndExport();
    // Starts exporting the lines shown now to `choice`: the first step now, the rest on later
    // turns of the event loop. False when an export is running already.
    bool start(const Choice& choice);
    bool isExporting() const { return m_export != nullptr; }

    void setFileChooser(FileChooser choose);
    void setMessageBox(MessageBox show);
    // The default chooser: Qt's save dialog with the two formats.
    static std::optional<Choice> chooseWithDialog(QWidget* parent, const QString& suggestedName);
    // The format `path`'s extension names (".json", ".jsonl"), or `chosen` for any other.
    static LineExport::Format formatOf(const QString& path, LineExport::Format chosen);

  signals:
    // An export ended: written, failed or stopped.
    void ended(bool written);

  private:
    LineExporter(QWidget& window, const CLogListModel& model, const LineTimes* times,
                 QString logPath);
    void nextStep();
    // Drops the running export; its file is not put in place.
    void stop();
    QString suggestedName() const;

    QWidget& m_window;
    const CLogListModel& m_model;
    const LineTimes* m_times;
    QString m_logPath;
    FileChooser m_choose;
    MessageBox m_show;
    std::unique_ptr<LineExport> m_export;
    QString m_path;
    QTimer m_nextStep;
};
