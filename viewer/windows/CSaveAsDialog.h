#pragma once
#include <QFileDialog>
#include <QString>

// Qt's own save dialog (not a desktop portal), set up for saving the log: title, one filter,
// default extension "txt", a proposed name, a question before replacing a file, and refusal of a
// folder that does not exist or a file marked read-only.
class CSaveAsDialog : public QFileDialog {
    Q_OBJECT
  public:
    CSaveAsDialog(QWidget* parent, const QString& defaultName);

    // Why `path` cannot be saved to, or an empty text when it can.
    static QString refusalReason(const QString& path);

    void accept() override;
};
