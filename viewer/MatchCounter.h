#pragma once
#include <cstddef>

class CLogListModel;
class LineSearch;

// Counts the lines of a CLogListModel that a LineSearch matches, a bounded number of lines per
// step, so that a million lines never hold up the event loop. Lines that arrive on either side
// after counting began are counted by later steps; restart() after the pattern or the list
// changes as a whole.
class MatchCounter {
  public:
    void restart();
    // Looks at up to `budget` lines not counted yet; returns true when every line is counted.
    bool step(const CLogListModel& model, const LineSearch& search, std::size_t budget);
    bool isDone(const CLogListModel& model) const;
    std::size_t matches() const { return m_matches; }
    std::size_t counted() const { return m_topDone + m_bottomDone; }

  private:
    // Lines put on top and at the bottom counted so far, oldest first on each side.
    std::size_t m_topDone = 0;
    std::size_t m_bottomDone = 0;
    std::size_t m_matches = 0;
};
