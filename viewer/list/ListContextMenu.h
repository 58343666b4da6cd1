#pragma once
#include <QMenu>
#include <cstddef>

class CLogListView;
class FindBar;
class ListPause;
class QContextMenuEvent;
class QWidget;
class SavedLogOpener;

// The context menu of a window and of its list: About (live window), Find..., Pause or Resume
// (live window), Open Saved Log..., and for the line it was opened on (or the current line, when
// opened by key) "Show only sender", "Hide sender" and "Show only program", then "Show
// everything" while a filter is on.
class ListContextMenu {
  public:
    // `pause` is null in a window without one (a saved log's).
    ListContextMenu(CLogListView& list, FindBar& findBar, ListPause* pause, SavedLogOpener& opener);

    // Shows the menu for `event` over `window`, with "About" first unless `aboutText` is empty;
    // true when About was chosen.
    bool exec(QWidget& window, const QContextMenuEvent& event, const QString& aboutText = {});
    // The list's row under `event`, the current row when opened by key, otherwise -1.
    std::ptrdiff_t rowOf(QWidget& window, const QContextMenuEvent& event) const;
    // Adds the filter items for shown row `row` (-1: no line) to `menu`.
    void addFilterActions(QMenu& menu, std::ptrdiff_t row);

  private:
    CLogListView& m_list;
    FindBar& m_findBar;
    ListPause* m_pause;
    SavedLogOpener& m_opener;
};
