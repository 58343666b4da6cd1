#pragma once
#include <QDialog>
#include <QString>

#include "viewer/list/CLogListView.h"
#include "viewer/list/FilterNote.h"
#include "viewer/list/FindBar.h"
#include "viewer/list/ListContextMenu.h"
#include "viewer/windows/LineExporter.h"
#include "viewer/windows/SavedLogOpener.h"

class LineStore;

// A saved log shown read-only in a window of its own, captioned with the file's name: the same
// list as the live window, with the find bar (Ctrl+F, F3, Shift+F3), the filter (the bar's Show
// only and Hide, the line's context menu, the note under the list) and Ctrl+C. It opens no
// mailbox, takes no presence mutex and leaves the registry flag alone; it has no buttons, no
// timers and no drain. Its context menu and files dropped on it open more saved logs. Escape
// and Enter do nothing, as in the live window; closing the window deletes it.
class CSavedLogDlg : public QDialog {
    Q_OBJECT
  public:
    // Space between the list and the window's edges, as in the live window.
    static constexpr int kListMargin = 5;

    // Opens `path` in a new window over `parent` (none: a window of its own) and shows it.
    // Returns nullptr when the file cannot be opened, with `failure` set to
    // `cannot open "PATH": REASON`.
    static CSavedLogDlg* open(const QString& path, QWidget* parent, QString& failure);

    const QString& path() const { return m_path; }
    CLogListView& logList() { return m_logList; }
    FindBar& findBar() { return m_findBar; }
    const FilterNote& filterNote() const { return m_filterNote; }
    SavedLogOpener& opener() { return m_opener; }
    LineExporter& exporter() { return m_exporter; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    CSavedLogDlg(const QString& path, LineStore lines, QWidget* parent);
    void layoutLogList();

    QString m_path;
    CLogListView m_logList;
    FindBar m_findBar;
    FilterNote m_filterNote;
    SavedLogOpener m_opener;
    LineExporter m_exporter;
    ListContextMenu m_menu;
};
