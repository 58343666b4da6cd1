#include "viewer/CLogListModel.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "viewer/MemoryRelease.h"

namespace {
constexpr std::size_t kBlockSize = 4u << 20;
using LengthPrefix = std::uint32_t;
}  // namespace

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
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string_view CLogListModel::line(std::size_t row) const {
    if (row < m_top.visible) {
        return bytesOf(m_top.lines[m_top.visible - 1 - row]);
    }
    return bytesOf(m_bottom.lines[row - m_top.visible]);
}

void CLogListModel::insertLine(std::string_view line, bool onTop) {
    stageLine(line, onTop);
    commitStaged();
}

void CLogListModel::stageLine(std::string_view line, bool onTop) {
    const LineRef ref = store(line);
    (onTop ? m_top : m_bottom).lines.push_back(ref);
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

void CLogListModel::clear() {
    const bool heldLines = !m_blocks.empty();
    beginResetModel();
    // Assigning empty containers frees their storage, which clear() would keep.
    m_top = Side();
    m_bottom = Side();
    m_blocks = std::vector<Block>();
    endResetModel();
    if (heldLines) {
        returnFreedMemoryToSystem();
    }
}

std::size_t CLogListModel::bytesHeld() const {
    std::size_t bytes = m_blocks.capacity() * sizeof(Block);
    for (const Block& block : m_blocks) {
        bytes += block.capacity;
    }
    return bytes + (m_top.lines.capacity() + m_bottom.lines.capacity()) * sizeof(LineRef);
}

CLogListModel::LineRef CLogListModel::store(std::string_view line) {
    const std::size_t needed = sizeof(LengthPrefix) + line.size();
    if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < needed) {
        // A line longer than a block gets a block of its own size.
        const std::size_t capacity = std::max(kBlockSize, needed);
        m_blocks.push_back(Block{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0});
    }
    Block& block = m_blocks.back();
    const LineRef ref{static_cast<std::uint32_t>(m_blocks.size() - 1),
                      static_cast<std::uint32_t>(block.used)};
    const auto length = static_cast<LengthPrefix>(line.size());
    std::memcpy(block.bytes.get() + block.used, &length, sizeof(length));
    if (!line.empty()) {
        std::memcpy(block.bytes.get() + block.used + sizeof(length), line.data(), line.size());
    }
    block.used += needed;
    return ref;
}

std::string_view CLogListModel::bytesOf(LineRef ref) const {
    const char* at = m_blocks[ref.block].bytes.get() + ref.offset;
    LengthPrefix length = 0;
    std::memcpy(&length, at, sizeof(length));
    return std::string_view(at + sizeof(length), length);
}
