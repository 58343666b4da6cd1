#pragma once
#include <cstddef>
#include <vector>

// What a viewer saw while a flood of records went by: when lines became visible in its list and
// how regularly a timer of its event loop got a turn. Times are seconds on one steady clock.
//
// The viewer makes received lines visible in batches, so rates come from the batch boundaries:
// the window rate covers at least `windowLines` lines from one boundary to another. The last
// batch is left out of the last window, since it may end with a wait for records after the
// flood.
class FloodWatch {
  public:
    FloodWatch(std::size_t expectedLines, std::size_t windowLines);

    // The sender was told to start.
    void start(double now);
    // The list now holds `count` lines.
    void linesShown(double now, std::size_t count);
    // The event loop ran the watching timer.
    void timerTick(double now);

    bool started() const { return m_started; }
    bool complete() const { return m_complete; }
    // Expected lines over the time from start until all were shown.
    double endToEndRate() const;
    // Lines after the first batch over the time from the first batch until all were shown.
    double sustainedRate() const;
    // Rate over the first batches that hold windowLines lines after the first batch.
    double firstWindowRate() const;
    // Rate over the last batches before the final one that hold windowLines lines.
    double lastWindowRate() const;
    // Time from start until the first batch was shown.
    double firstLineDelay() const;
    // Longest time between turns of the timer from start until all lines were shown.
    double longestGapSeconds() const { return m_longestGap; }

  private:
    struct Batch {
        double time;
        std::size_t count;
    };

    static double rateBetween(const Batch& from, const Batch& to);
    void noteGap(double now);

    std::size_t m_expectedLines;
    std::size_t m_windowLines;
    bool m_started = false;
    bool m_complete = false;
    double m_startTime = 0.0;
    double m_endTime = 0.0;
    double m_lastTurn = 0.0;
    double m_longestGap = 0.0;
    std::vector<Batch> m_batches;
};
