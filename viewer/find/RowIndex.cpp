#include "viewer/find/RowIndex.h"

#include <algorithm>

#include "viewer/lines/CLogListModel.h"

void RowIndex::restart() {
    m_top = Side();
    m_bottom = startedSide();
}

void RowIndex::rewind(bool onTop, std::size_t position) {
    Side& side = onTop ? m_top : m_bottom;
    // Results noted for lines staged since may have changed too.
    side.noted = 0;
    side.notedFound.clear();
    if (!side.started || position >= side.to) {
        return;
    }
    if (position <= side.from) {
        // Nothing before it was looked at yet (lines on top are first looked at newest first).
        side.found.clear();
        side.from = position;
        side.to = position;
        return;
    }
    while (!side.found.empty() && side.found.back() >= position) {
        side.found.pop_back();
    }
    side.to = position;
}

void RowIndex::assumePassing(bool onTop, std::size_t count) {
    Side& side = onTop ? m_top : m_bottom;
    side = startedSide();
    for (std::size_t position = 0; position < count; ++position) {
        side.found.push_back(static_cast<std::uint32_t>(position));
    }
    side.to = count;
}

void RowIndex::noteTested(bool onTop, std::size_t position, bool passed) {
    Side& side = onTop ? m_top : m_bottom;
    if (!side.started || position != side.to + side.noted) {
        return;
    }
    ++side.noted;
    if (passed) {
        side.notedFound.push_back(static_cast<std::uint32_t>(position));
    }
}

void RowIndex::lookAt(Side& side, std::size_t position, std::size_t row, const CLogListModel& model,
                      const Test& test) {
    bool passed = false;
    if (side.noted > 0) {
        --side.noted;
        passed = !side.notedFound.empty() && side.notedFound.front() == position;
        if (passed) {
            side.notedFound.pop_front();
        }
    } else {
        passed = test(model.line(row), row < model.topCount(), position);
    }
    if (passed) {
        side.found.push_back(static_cast<std::uint32_t>(position));
    }
}

bool RowIndex::step(const CLogListModel& model, const Test& test, std::size_t budget) {
    const std::size_t top = model.topCount();
    const std::size_t bottom = model.size() - top;
    // The line at position p on top is row top - 1 - p; at the bottom it is row top + p.
    if (!m_top.started) {
        m_top.started = true;
        m_top.from = top;
        m_top.to = top;
    }
    for (; m_top.from > 0 && budget > 0; --budget) {
        --m_top.from;
        if (test(model.line(top - 1 - m_top.from), true, m_top.from)) {
            m_top.found.push_front(static_cast<std::uint32_t>(m_top.from));
        }
    }
    for (; m_top.to < top && budget > 0; ++m_top.to, --budget) {
        lookAt(m_top, m_top.to, top - 1 - m_top.to, model, test);
    }
    for (; m_bottom.to < bottom && budget > 0; ++m_bottom.to, --budget) {
        lookAt(m_bottom, m_bottom.to, top + m_bottom.to, model, test);
    }
    return isDone(model);
}

bool RowIndex::isDone(const CLogListModel& model) const {
    const std::size_t top = model.topCount();
    const bool topDone = top == 0 || (m_top.started && m_top.from == 0 && m_top.to == top);
    return topDone && m_bottom.to == model.size() - top;
}

std::size_t RowIndex::looked() const {
    return (m_top.to - m_top.from) + m_bottom.to;
}

std::size_t RowIndex::row(const CLogListModel& model, std::size_t index) const {
    const std::size_t onTop = m_top.found.size();
    if (index < onTop) {
        return model.topCount() - 1 - m_top.found[onTop - 1 - index];
    }
    return model.topCount() + m_bottom.found[index - onTop];
}

std::size_t RowIndex::indexAtOrAfter(const CLogListModel& model, std::size_t row) const {
    const std::size_t top = model.topCount();
    if (row < top) {
        // Rows at or below `row` on top hold the lines at positions up to top - 1 - row.
        const auto position = static_cast<std::uint32_t>(top - 1 - row);
        const auto atOrBelow = std::upper_bound(m_top.found.begin(), m_top.found.end(), position) -
                               m_top.found.begin();
        return m_top.found.size() - static_cast<std::size_t>(atOrBelow);
    }
    const auto position = static_cast<std::uint32_t>(std::min<std::size_t>(row - top, UINT32_MAX));
    const auto above = std::lower_bound(m_bottom.found.begin(), m_bottom.found.end(), position) -
                       m_bottom.found.begin();
    return m_top.found.size() + static_cast<std::size_t>(above);
}

RowIndex::Found RowIndex::find(const CLogListModel& model, std::ptrdiff_t from,
                               bool forward) const {
    const std::size_t found = count();
    if (found == 0) {
        return {};
    }
    const bool fromEdge = from < 0 || static_cast<std::size_t>(from) >= model.size();
    std::size_t index = 0;
    bool wrapped = false;
    if (forward) {
        index = fromEdge ? 0 : indexAtOrAfter(model, static_cast<std::size_t>(from) + 1);
        if (index == found) {
            index = 0;
            wrapped = true;
        }
    } else {
        const std::size_t above =
            fromEdge ? found : indexAtOrAfter(model, static_cast<std::size_t>(from));
        wrapped = above == 0;
        index = wrapped ? found - 1 : above - 1;
    }
    return {static_cast<std::ptrdiff_t>(row(model, index)), wrapped};
}
