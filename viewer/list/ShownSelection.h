#pragma once
#include <cstddef>
#include <optional>

#include "viewer/list/RowSelection.h"

class CLogListModel;
class ShownRows;

// The log list's selection among the rows it shows (ShownRows), with the rules of an extended
// selection (RowSelection). A shown row is keyed by its row less the shown rows on top, so the
// selection stays on its lines as lines are put on top. A new filter clears the selection; once
// the filter is applied, the first shown line at or below the line that was current is the one
// to make current. No window is needed.
class ShownSelection {
  public:
    ShownSelection(const CLogListModel& model, const ShownRows& shown);

    bool isSelected(std::size_t row) const;
    std::size_t selectedCount() const { return m_keys.count(); }
    bool empty() const { return m_keys.empty(); }
    bool hasCurrent() const { return m_keys.hasCurrent(); }
    // The current row (the one with the focus mark), or -1.
    std::ptrdiff_t currentRow() const;

    void selectAll();
    void clear() { m_keys.clear(); }
    // Forgets the selection, the current row, the anchor and a line to make current.
    void reset();
    // A click on shown row `row` with Shift (`extend`) and/or Ctrl (`toggle`) held.
    void click(std::size_t row, bool extend, bool toggle);
    // The mouse dragged to `row`; false when it is the current row already.
    bool dragTo(std::size_t row, bool toggle);
    // A key moved the current row to `row`.
    void moveTo(std::size_t row, bool extend, bool toggle);
    // Ctrl+Space on `row`.
    void toggleAt(std::size_t row);

    // Calls `visit` with every selected shown row, oldest line first.
    template <class Visit>
    void forEachRowOldestFirst(Visit visit) const {
        m_keys.forEachOldestFirst([&](Key key) {
            if (const std::ptrdiff_t row = rowOfKey(key); row >= 0) {
                visit(static_cast<std::size_t>(row));
            }
        });
    }

    // A new filter is about to apply: remembers the current line and clears the selection.
    void clearForNewFilter();
    // Once the filter is applied, the row to make current for the line remembered before it
    // (only once); nothing before then, or when no line was current.
    std::optional<std::size_t> rowToRestore();

  private:
    using Key = RowSelection::Key;

    Key keyOfRow(std::size_t row) const;
    // The shown row of `key`, or -1 when it is not shown.
    std::ptrdiff_t rowOfKey(Key key) const;

    const CLogListModel& m_model;
    const ShownRows& m_shown;
    RowSelection m_keys;
    // The current line when the filter changed, as model row - topCount(), until it is applied.
    Key m_currentBeforeFilter = 0;
    bool m_currentToRestore = false;
};
