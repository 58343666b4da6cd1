#pragma once
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "viewer/list/ContextMenuItem.h"

class QMimeData;

// Opens saved logs in read-only windows (CSavedLogDlg) from a window: "Open Saved Log..." in its
// context menu asks for files, and local files dropped on the window are opened too. Files that
// cannot be opened are named, with their reasons, in one message box.
//
// A window opened while a modal dialog runs (the live window) belongs to that dialog, so that
// its modality does not shut the new window off from input; otherwise it is a window of its own.
class SavedLogOpener : public QObject, public ContextMenuItem {
    Q_OBJECT
  public:
    // Asks for the files to open; an empty list means cancelled.
    using FileChooser = std::function<QStringList(QWidget* parent)>;
    using MessageBox = std::function<void(QWidget* parent, const QString& text)>;

    // Makes `window` accept dropped files.
    explicit SavedLogOpener(QWidget& window);

    // Adds "Open Saved Log..." to a context menu.
    void addMenuAction(QMenu& menu) override;
    // Asks for files with the chooser and opens them.
    void chooseAndOpen();
    // Opens each of `paths` in a window of its own; returns how many opened.
    int open(const QStringList& paths);

    void setFileChooser(FileChooser choose);
    void setMessageBox(MessageBox show);
    // The default chooser: Qt's file dialog for *.txt and *.log files, or any file.
    static QStringList chooseWithDialog(QWidget* parent);
    // The local files among what is dragged or dropped.
    static QStringList localFiles(const QMimeData* data);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget& m_window;
    FileChooser m_choose;
    MessageBox m_show;
};
