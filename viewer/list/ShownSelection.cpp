#include "viewer/list/ShownSelection.h"

#include <algorithm>

#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"

ShownSelection::ShownSelection(const CLogListModel& model, const ShownRows& shown)
    : m_model(model), m_shown(shown) {}

bool ShownSelection::isSelected(std::size_t row) const {
    return m_keys.contains(keyOfRow(row));
}

std::ptrdiff_t ShownSelection::currentRow() const {
    return m_keys.hasCurrent() ? rowOfKey(m_keys.current()) : -1;
}

void ShownSelection::selectAll() {
    m_keys.clear();
    if (m_shown.size() > 0) {
        m_keys.select(keyOfRow(0), keyOfRow(m_shown.size() - 1));
    }
}

void ShownSelection::reset() {
    m_keys.reset();
    m_currentToRestore = false;
}

void ShownSelection::click(std::size_t row, bool extend, bool toggle) {
    m_keys.click(keyOfRow(row), extend, toggle);
}

bool ShownSelection::dragTo(std::size_t row, bool toggle) {
    return m_keys.dragTo(keyOfRow(row), toggle);
}

void ShownSelection::moveTo(std::size_t row, bool extend, bool toggle) {
    m_keys.moveTo(keyOfRow(row), extend, toggle, keyOfRow(0));
}

void ShownSelection::toggleAt(std::size_t row) {
    m_keys.toggleAt(keyOfRow(row));
}

void ShownSelection::clearForNewFilter() {
    const std::ptrdiff_t current = currentRow();
    m_currentToRestore = current >= 0;
    if (m_currentToRestore) {
        m_currentBeforeFilter =
            static_cast<Key>(m_shown.modelRow(static_cast<std::size_t>(current))) -
            static_cast<Key>(m_model.topCount());
    }
    m_keys.reset();
}

std::optional<std::size_t> ShownSelection::rowToRestore() {
    if (!m_currentToRestore || !m_shown.isComplete()) {
        return std::nullopt;
    }
    m_currentToRestore = false;
    const Key modelRow = m_currentBeforeFilter + static_cast<Key>(m_model.topCount());
    const std::size_t row =
        m_shown.rowAtOrAfter(static_cast<std::size_t>(std::max<Key>(0, modelRow)));
    return row < m_shown.size() ? row : m_shown.size() - 1;
}

ShownSelection::Key ShownSelection::keyOfRow(std::size_t row) const {
    return static_cast<Key>(row) - static_cast<Key>(m_shown.topCount());
}

std::ptrdiff_t ShownSelection::rowOfKey(Key key) const {
    const Key row = key + static_cast<Key>(m_shown.topCount());
    return row >= 0 && row < static_cast<Key>(m_shown.size()) ? static_cast<std::ptrdiff_t>(row)
                                                              : -1;
}
