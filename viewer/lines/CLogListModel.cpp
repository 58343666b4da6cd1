#include "viewer/lines/CLogListModel.h"

#include <QString>

#include "viewer/lines/LineText.h"
#include "viewer/lines/MemoryRelease.h"

CLogListModel::CLogListModel(QObject* parent) : QAbstractListModel(parent) {}

CLogListModel::~CLogListModel() = default;

int CLogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(size());
}

QVariant CLogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= size()) {
        return {};
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    const std::string_view bytes = line(static_cast<std::size_t>(index.row()));
    return lineText(bytes);
}

std::string_view CLogListModel::line(std::size_t row) const {
    if (row < m_top.visible) {
        return m_top.lines[m_top.visible - 1 - row];
    }
    return m_bottom.lines[row - m_top.visible];
}

void CLogListModel::insertLine(std::string_view line, bool onTop) {
    stageLine(line, onTop);
    commitStaged();
}

void CLogListModel::stageLine(std::string_view line, bool onTop) {
    LineStore& lines = (onTop ? m_top : m_bottom).lines;
    lines.append(line);
    if (m_observer) {
        m_observer(line, onTop, lines.size() - 1);
    }
}

std::size_t CLogListModel::stagedCount() const {
    return (m_top.lines.size() - m_top.visible) + (m_bottom.lines.size() - m_bottom.visible);
}

void CLogListModel::commitStaged() {
    const std::size_t topStaged = m_top.lines.size() - m_top.visible;
    if (topStaged > 0) {
        beginInsertRows(QModelIndex(), 0, static_cast<int>(topStaged) - 1);
        m_top.visible = m_top.lines.size();
        endInsertRows();
    }
    const std::size_t bottomStaged = m_bottom.lines.size() - m_bottom.visible;
    if (bottomStaged > 0) {
        const int first = static_cast<int>(size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(bottomStaged) - 1);
        m_bottom.visible = m_bottom.lines.size();
        endInsertRows();
    }
}

void CLogListModel::adoptLines(LineStore lines) {
    beginResetModel();
    m_top = Side(&m_supply);
    m_bottom = Side(&m_supply);
    m_bottom.lines = std::move(lines);
    m_bottom.visible = m_bottom.lines.size();
    endResetModel();
}

void CLogListModel::clear() {
    const bool heldLines = m_top.lines.size() + m_bottom.lines.size() > 0;
    beginResetModel();
    m_top = Side(&m_supply);
    m_bottom = Side(&m_supply);
    m_supply.release();
    endResetModel();
    if (heldLines) {
        returnFreedMemoryToSystem();
    }
}

std::size_t CLogListModel::bytesHeld() const {
    return m_top.lines.bytesHeld() + m_bottom.lines.bytesHeld() + m_supply.bytesHeld();
}
