#include "viewer/list/RowSelection.h"

#include <algorithm>
#include <iterator>

void RowSelection::select(Key first, Key last) {
    if (first > last) {
        std::swap(first, last);
    }
    // Merge with every range that overlaps or touches first .. last.
    auto it = m_ranges.upper_bound(first);
    if (it != m_ranges.begin()) {
        auto previous = std::prev(it);
        if (previous->second >= first - 1) {
            it = previous;
        }
    }
    while (it != m_ranges.end() && it->first <= last + 1) {
        first = std::min(first, it->first);
        last = std::max(last, it->second);
        it = m_ranges.erase(it);
    }
    m_ranges.emplace(first, last);
}

void RowSelection::deselect(Key first, Key last) {
    if (first > last) {
        std::swap(first, last);
    }
    auto it = m_ranges.upper_bound(first);
    if (it != m_ranges.begin()) {
        it = std::prev(it);
    }
    while (it != m_ranges.end() && it->first <= last) {
        const Key rangeFirst = it->first;
        const Key rangeLast = it->second;
        if (rangeLast < first) {
            ++it;
            continue;
        }
        it = m_ranges.erase(it);
        if (rangeFirst < first) {
            m_ranges.emplace(rangeFirst, first - 1);
        }
        if (rangeLast > last) {
            m_ranges.emplace(last + 1, rangeLast);
        }
    }
}

void RowSelection::toggle(Key key) {
    if (contains(key)) {
        deselect(key, key);
    } else {
        select(key, key);
    }
}

bool RowSelection::contains(Key key) const {
    auto it = m_ranges.upper_bound(key);
    if (it == m_ranges.begin()) {
        return false;
    }
    --it;
    return key <= it->second;
}

std::size_t RowSelection::count() const {
    std::size_t total = 0;
    for (const auto& [first, last] : m_ranges) {
        total += static_cast<std::size_t>(last - first + 1);
    }
    return total;
}

void RowSelection::click(Key key, bool extend, bool toggle) {
    if (extend) {
        if (!toggle) {
            clear();
        }
        if (!m_hasCurrent) {
            m_anchor = key;
        }
        select(m_anchor, key);
    } else if (toggle) {
        this->toggle(key);
        m_anchor = key;
    } else {
        clear();
        select(key, key);
        m_anchor = key;
    }
    m_current = key;
    m_hasCurrent = true;
}

bool RowSelection::dragTo(Key key, bool toggle) {
    if (key == m_current) {
        return false;
    }
    if (!toggle) {
        clear();
    }
    select(m_anchor, key);
    m_current = key;
    return true;
}

void RowSelection::moveTo(Key key, bool extend, bool toggle, Key firstKey) {
    if (extend) {
        if (!m_hasCurrent) {
            m_anchor = firstKey;
        }
        clear();
        select(m_anchor, key);
    } else if (!toggle) {
        clear();
        select(key, key);
        m_anchor = key;
    }
    m_current = key;
    m_hasCurrent = true;
}

void RowSelection::toggleAt(Key key) {
    toggle(key);
    m_anchor = key;
    m_current = key;
    m_hasCurrent = true;
}

void RowSelection::reset() {
    clear();
    m_anchor = 0;
    m_current = 0;
    m_hasCurrent = false;
}
