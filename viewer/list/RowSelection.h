#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>

// A set of selected rows kept as disjoint ranges of row keys. The log list keys its rows so that
// a key survives lines being put on top, so a selection stays on the same lines as they move.
//
// It also keeps the current row and the anchor that Shift extends from, with the rules of an
// extended selection: a click selects one row, Shift extends from the anchor, Ctrl toggles one
// row (or, moving by keys, moves without selecting).
class RowSelection {
  public:
    using Key = std::int64_t;

    // A click on `key` with Shift (`extend`) and/or Ctrl (`toggle`) held.
    void click(Key key, bool extend, bool toggle);
    // The mouse dragged to `key`; false when it is the current row already.
    bool dragTo(Key key, bool toggle);
    // A key moved the current row to `key`; Shift with no current row extends from `firstKey`.
    void moveTo(Key key, bool extend, bool toggle, Key firstKey);
    // Ctrl+Space: toggles `key` and makes it the anchor and the current row.
    void toggleAt(Key key);
    bool hasCurrent() const { return m_hasCurrent; }
    Key current() const { return m_current; }
    // Forgets the selection, the current row and the anchor.
    void reset();

    void clear() { m_ranges.clear(); }
    bool empty() const { return m_ranges.empty(); }
    // Adds the keys first .. last (inclusive, in either order).
    void select(Key first, Key last);
    void deselect(Key first, Key last);
    void toggle(Key key);
    bool contains(Key key) const;
    std::size_t count() const;
    // Disjoint, non-adjacent ranges: first key -> last key, ascending.
    const std::map<Key, Key>& ranges() const { return m_ranges; }

    // Calls `visit` with every selected key, oldest line first, for the log list's keys: lines
    // put on top have keys below zero, the oldest at -1; lines put at the bottom have keys from
    // zero, the oldest at 0.
    template <class Visit>
    void forEachOldestFirst(Visit visit) const {
        std::for_each(m_ranges.rbegin(), m_ranges.rend(), [&](const auto& range) {
            for (Key key = std::min<Key>(range.second, -1); key >= range.first; --key) visit(key);
        });
        for (const auto& [first, last] : m_ranges) {
            for (Key key = std::max<Key>(first, 0); key <= last; ++key) {
                visit(key);
            }
        }
    }

  private:
    std::map<Key, Key> m_ranges;
    Key m_anchor = 0;
    Key m_current = 0;
    bool m_hasCurrent = false;
};
