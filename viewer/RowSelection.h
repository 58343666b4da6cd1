#pragma once
#include <cstddef>
#include <cstdint>
#include <map>

// A set of selected rows kept as disjoint ranges of row keys. The log list keys its rows so that
// a key survives lines being put on top, so a selection stays on the same lines as they move.
class RowSelection {
  public:
    using Key = std::int64_t;

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

  private:
    std::map<Key, Key> m_ranges;
};
