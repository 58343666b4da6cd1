#pragma once
#include <QMenu>
#include <cstddef>
#include <vector>

#include "viewer/list/FoldMenu.h"

class CLogListView;
class QContextMenuEvent;
class QWidget;

// The context menu of a window and of its list: About (live window), the window's own items
// (Find..., Pause or Resume in the live window, Open Saved Log...), and for the line it was
// opened on (or the current line, when opened by key) "Show only sender", "Hide sender" and
// "Show only program", then "Show everything" while a filter is on; last, while the list holds
// scopes, "Fold below depth" and "Unfold everything" (FoldMenu). The line it acts on is marked
// while it is open; opened by key (the Menu key, Shift+F10) it opens at the current line.
class ListContextMenu {
  public:
    // `items` come after About, in their order; they must outlive the menu.
    ListContextMenu(CLogListView& list, std::vector<ContextMenuItem*> items);

    // Shows the menu for `event` over `window`, with "About" first unless `aboutText` is empty;
    // true when About was chosen.
    bool exec(QWidget& window, const QContextMenuEvent& event, const QString& aboutText = {});
    // The list's row under `event`, the current row when opened by key, otherwise -1.
    std::ptrdiff_t rowOf(QWidget& window, const QContextMenuEvent& event) const;
    // Adds the filter items for shown row `row` (-1: no line) to `menu`.
    void addFilterActions(QMenu& menu, std::ptrdiff_t row);

  private:
    // Where the menu opens: at the pointer, or by key under the start of `row`.
    QPoint placeOf(const QContextMenuEvent& event, std::ptrdiff_t row) const;

    CLogListView& m_list;
    std::vector<ContextMenuItem*> m_items;
    FoldMenu m_folds;
};
