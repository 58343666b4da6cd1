#include "bench/FloodWatch.h"

#include <algorithm>

namespace {
// Batches of a flood of a million lines: a few hundred at most; room for many more.
constexpr std::size_t kReservedBatches = 65'536;
}  // namespace

FloodWatch::FloodWatch(std::size_t expectedLines, std::size_t windowLines)
    : m_expectedLines(expectedLines), m_windowLines(windowLines) {
    m_batches.reserve(kReservedBatches);
}

void FloodWatch::start(double now) {
    m_started = true;
    m_startTime = now;
    m_lastTurn = now;
}

void FloodWatch::linesShown(double now, std::size_t count) {
    if (!m_started || m_complete) return;
    if (!m_batches.empty() && count <= m_batches.back().count) return;
    m_batches.push_back({now, count});
    if (count >= m_expectedLines) {
        m_complete = true;
        m_endTime = now;
        noteGap(now);
    }
}

void FloodWatch::timerTick(double now) {
    if (!m_started || m_complete) return;
    noteGap(now);
}

void FloodWatch::noteGap(double now) {
    m_longestGap = std::max(m_longestGap, now - m_lastTurn);
    m_lastTurn = now;
}

double FloodWatch::rateBetween(const Batch& from, const Batch& to) {
    const double seconds = to.time - from.time;
    return seconds > 0.0 ? static_cast<double>(to.count - from.count) / seconds : 0.0;
}

double FloodWatch::endToEndRate() const {
    const double seconds = m_endTime - m_startTime;
    return m_complete && seconds > 0.0 ? static_cast<double>(m_expectedLines) / seconds : 0.0;
}

double FloodWatch::sustainedRate() const {
    if (!m_complete || m_batches.size() < 2) return 0.0;
    return rateBetween(m_batches.front(), m_batches.back());
}

double FloodWatch::firstWindowRate() const {
    if (m_batches.size() < 3) return 0.0;
    const Batch& first = m_batches.front();
    for (std::size_t i = 1; i + 1 < m_batches.size(); ++i) {
        if (m_batches[i].count >= first.count + m_windowLines) {
            return rateBetween(first, m_batches[i]);
        }
    }
    return 0.0;
}

double FloodWatch::lastWindowRate() const {
    if (m_batches.size() < 3) return 0.0;
    const Batch& last = m_batches[m_batches.size() - 2];
    for (std::size_t i = m_batches.size() - 2; i-- > 0;) {
        if (m_batches[i].count + m_windowLines <= last.count)
            return rateBetween(m_batches[i], last);
    }
    return 0.0;
}

double FloodWatch::firstLineDelay() const {
    return m_batches.empty() ? 0.0 : m_batches.front().time - m_startTime;
}
