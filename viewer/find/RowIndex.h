#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>

class CLogListModel;

// The rows of a CLogListModel whose lines pass a test, in screen order, found a bounded number of
// lines per step so that a million lines never hold up the event loop. Lines that arrive on
// either side later are looked at by later steps, each once, so keeping up costs the same per
// line however long the list is. Lines put on top are looked at newest first, so the found rows
// fill the screen from its top down. restart() after the test or the list changes as a whole.
//
// Rows are found by binary search: the next and previous found row, and where a row stands among
// the found ones.
class RowIndex {
  public:
    // Whether `line`, the line at `position` of its side (on top or not), passes.
    using Test = std::function<bool(std::string_view line, bool onTop, std::size_t position)>;

    void restart();
    // The lines at `position` and after on one side are to be looked at again, by later steps:
    // the test's result changed for some of them and for none before.
    void rewind(bool onTop, std::size_t position);
    // Right after restart(): the first `count` lines of one side pass, without looking at them.
    void assumePassing(bool onTop, std::size_t count);
    // Looks at up to `budget` lines not looked at yet; returns true when every line has been.
    bool step(const CLogListModel& model, const Test& test, std::size_t budget);
    bool isDone(const CLogListModel& model) const;
    // The result of the test for a line just staged at `position` on its side, so that the step
    // that meets the line once it is visible does not read it again. Kept only when every line
    // before it on that side has a result; otherwise the step reads the line as usual.
    void noteTested(bool onTop, std::size_t position, bool passed);

    // Lines looked at, and those of them that passed.
    std::size_t looked() const;
    std::size_t count() const { return m_top.found.size() + m_bottom.found.size(); }
    // Found rows among the lines put on top; they come first in screen order.
    std::size_t topCount() const { return m_top.found.size(); }

    // The model row of the found row `index` (0 .. count() - 1) in screen order.
    std::size_t row(const CLogListModel& model, std::size_t index) const;
    // How many found rows lie above model row `row`: the index of the first found row at or
    // below it.
    std::size_t indexAtOrAfter(const CLogListModel& model, std::size_t row) const;

    struct Found {
        std::ptrdiff_t row = -1;  // -1: no row found
        bool wrapped = false;     // the search went past the last (or first) row to find it
    };
    // The first found model row after `from` (before it when !forward), wrapping around the
    // ends. A `from` of -1 (or past the last row) starts at the top going forward, at the bottom
    // going backward; a row found alone is found again from itself after wrapping.
    Found find(const CLogListModel& model, std::ptrdiff_t from, bool forward) const;

  private:
    // One side's lines are numbered by position, oldest first; positions from..to - 1 have been
    // looked at, and `found` holds those that passed, ascending. Positions to .. to + noted - 1
    // were tested as they were staged, and `notedFound` holds those that passed.
    struct Side {
        std::deque<std::uint32_t> found;
        std::size_t from = 0;
        std::size_t to = 0;
        bool started = false;
        std::deque<std::uint32_t> notedFound;
        std::size_t noted = 0;
    };

    // Looks at the line at `position` of `side` (row `row`): its noted result, or the test's.
    static void lookAt(Side& side, std::size_t position, std::size_t row,
                       const CLogListModel& model, const Test& test);

    Side m_top;
    // Lines at the bottom are looked at from the first on: this side starts at once.
    Side m_bottom = startedSide();

    static Side startedSide() {
        Side side;
        side.started = true;
        return side;
    }
};
