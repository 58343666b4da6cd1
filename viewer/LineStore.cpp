#include "viewer/LineStore.h"

#include <algorithm>
#include <cstring>

#include "viewer/BlockSupply.h"

namespace {
// An entry: block number in the top 24 bits, offset in the block in the next 22, length in the
// low 18. The length field's highest value stands for "the whole of its own block".
constexpr unsigned kLengthBits = 18;
constexpr unsigned kOffsetBits = 22;
constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
static_assert(LineStore::kOwnBlockLength == kLengthMask);
static_assert(LineStore::kBlockSize - 1 <= kOffsetMask);
}  // namespace

LineStore::LineStore(BlockSupply* supply) : m_supply(supply) {}
LineStore::~LineStore() = default;
LineStore::LineStore(LineStore&& other) noexcept = default;
LineStore& LineStore::operator=(LineStore&& other) noexcept = default;

void LineStore::append(std::string_view line) {
    char* at = roomFor(line.size());
    if (!line.empty()) {
        std::memcpy(at, line.data(), line.size());
    }
    addEntry(static_cast<std::size_t>(at - m_blocks.back().data), line.size());
}

void LineStore::appendInPlace(std::string_view line) {
    addEntry(viewOffsetOf(line), line.size());
}

void LineStore::keepAlive(std::shared_ptr<const void> memory) {
    m_keptAlive = std::move(memory);
}

void LineStore::addEntry(std::size_t offset, std::size_t length) {
    const std::uint64_t lengthField = length >= kOwnBlockLength ? kLengthMask : length;
    const Entry entry =
        (static_cast<std::uint64_t>(m_blocks.size() - 1) << (kOffsetBits + kLengthBits)) |
        (static_cast<std::uint64_t>(offset) << kLengthBits) | lengthField;
    if (m_count % kEntriesPerPiece == 0) {
        m_pieces.push_back(std::make_unique_for_overwrite<Entry[]>(kEntriesPerPiece));
    }
    m_pieces.back()[m_count % kEntriesPerPiece] = entry;
    ++m_count;
}

std::string_view LineStore::operator[](std::size_t index) const {
    const Entry entry = m_pieces[index / kEntriesPerPiece][index % kEntriesPerPiece];
    const Block& block = m_blocks[entry >> (kOffsetBits + kLengthBits)];
    const std::size_t offset = (entry >> kLengthBits) & kOffsetMask;
    const std::size_t length = entry & kLengthMask;
    return {block.data + offset, length == kLengthMask ? block.used : length};
}

std::size_t LineStore::bytesHeld() const {
    std::size_t bytes = m_blocks.capacity() * sizeof(Block) +
                        m_pieces.capacity() * sizeof(m_pieces[0]) +
                        m_pieces.size() * kEntriesPerPiece * sizeof(Entry);
    for (const Block& block : m_blocks) {
        bytes += block.bytes ? block.capacity : 0;
    }
    return bytes;
}

char* LineStore::roomFor(std::size_t length) {
    if (length >= kOwnBlockLength) {
        auto bytes = std::make_unique_for_overwrite<char[]>(length);
        const char* data = bytes.get();
        m_blocks.push_back(Block{std::move(bytes), data, length, length, true});
        return m_blocks.back().bytes.get();
    }
    // Even an empty line needs an offset inside its block.
    const std::size_t needed = length > 0 ? length : 1;
    if (m_blocks.empty() || m_blocks.back().ownLine || !m_blocks.back().bytes ||
        m_blocks.back().capacity - m_blocks.back().used < needed) {
        auto bytes = m_supply != nullptr ? m_supply->take()
                                         : std::make_unique_for_overwrite<char[]>(kBlockSize);
        const char* data = bytes.get();
        m_blocks.push_back(Block{std::move(bytes), data, kBlockSize, 0, false});
    }
    Block& block = m_blocks.back();
    char* at = block.bytes.get() + block.used;
    block.used += length;
    return at;
}

std::size_t LineStore::viewOffsetOf(std::string_view line) {
    if (line.size() >= kOwnBlockLength) {
        m_blocks.push_back(Block{nullptr, line.data(), line.size(), line.size(), true});
        return 0;
    }
    if (!m_blocks.empty() && !m_blocks.back().bytes && !m_blocks.back().ownLine) {
        Block& block = m_blocks.back();
        if (line.data() >= block.data &&
            static_cast<std::size_t>(line.data() - block.data) + line.size() < kBlockSize) {
            const std::size_t offset = static_cast<std::size_t>(line.data() - block.data);
            block.used = std::max(block.used, offset + line.size());
            return offset;
        }
    }
    m_blocks.push_back(Block{nullptr, line.data(), kBlockSize, line.size(), false});
    return 0;
}
