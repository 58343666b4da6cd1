#include "viewer/MatchCounter.h"

#include "viewer/CLogListModel.h"
#include "viewer/LineSearch.h"

void MatchCounter::restart() {
    m_topDone = 0;
    m_bottomDone = 0;
    m_matches = 0;
}

bool MatchCounter::step(const CLogListModel& model, const LineSearch& search, std::size_t budget) {
    const std::size_t top = model.topCount();
    const std::size_t bottom = model.size() - top;
    // The k-th oldest line on top is row top - 1 - k; the k-th at the bottom is row top + k.
    for (; m_topDone < top && budget > 0; ++m_topDone, --budget) {
        m_matches += search.matches(model.line(top - 1 - m_topDone)) ? 1 : 0;
    }
    for (; m_bottomDone < bottom && budget > 0; ++m_bottomDone, --budget) {
        m_matches += search.matches(model.line(top + m_bottomDone)) ? 1 : 0;
    }
    return isDone(model);
}

bool MatchCounter::isDone(const CLogListModel& model) const {
    return m_topDone == model.topCount() && m_bottomDone == model.size() - model.topCount();
}
