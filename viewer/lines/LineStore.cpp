#include "viewer/lines/LineStore.h"

#include <cstring>

#include "viewer/lines/BlockSupply.h"

namespace {
// An appended line's entry: block number in the top 24 bits, offset in the block in the next 22,
// length in the low 18. The length field's highest value stands for "the whole of its own block".
constexpr unsigned kLengthBits = 18;
constexpr unsigned kOffsetBits = 22;
constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
static_assert(LineStore::kOwnBlockLength == kLengthMask);
static_assert(LineStore::kBlockSize - 1 <= kOffsetMask);

// An in-place line's entry, in any width: the CR LF flag in the top bit, the line's end below it.
template <typename Field>
constexpr unsigned flagBit() {
    return sizeof(Field) * 8 - 1;
}
template <typename Field>
constexpr std::uint64_t endMask() {
    return (std::uint64_t{1} << flagBit<Field>()) - 1;
}
constexpr unsigned kWideFlagBit = flagBit<std::uint64_t>();
constexpr std::uint64_t kWideEndMask = endMask<std::uint64_t>();

template <typename Field>
std::uint64_t widened(Field entry) {
    return (entry & endMask<Field>()) |
           (static_cast<std::uint64_t>(entry >> flagBit<Field>()) << kWideFlagBit);
}

template <typename Field>
std::unique_ptr<Field[]> narrowed(const std::uint64_t* wide) {
    auto entries = std::make_unique_for_overwrite<Field[]>(LineStore::kEntriesPerPiece);
    for (std::size_t i = 0; i < LineStore::kEntriesPerPiece; ++i) {
        entries[i] = static_cast<Field>((wide[i] & endMask<Field>()) |
                                        (wide[i] >> kWideFlagBit << flagBit<Field>()));
    }
    return entries;
}
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
    addEntry(static_cast<std::size_t>(at - m_blocks.back().bytes.get()), line.size());
}

void LineStore::appendInPlace(std::string_view line) {
    const std::size_t slot = m_count % kEntriesPerPiece;
    std::uint64_t flag = 0;
    if (slot == 0) {
        Span span;
        span.first = line.data();
        span.wide = narrowLastSpan();
        if (!span.wide) {
            span.wide = std::make_unique_for_overwrite<std::uint64_t[]>(kEntriesPerPiece);
        }
        m_spans.push_back(std::move(span));
    } else if (line.data() - m_lastEnd == 2) {
        flag = std::uint64_t{1} << kWideFlagBit;
    }
    Span& span = m_spans.back();
    m_lastEnd = line.data() + line.size();
    span.wide[slot] = static_cast<std::uint64_t>(m_lastEnd - span.first) | flag;
    ++m_count;
}

std::unique_ptr<std::uint64_t[]> LineStore::narrowLastSpan() {
    if (m_spans.empty()) {
        return nullptr;
    }
    Span& span = m_spans.back();
    // Ends only grow, so the last one is the farthest.
    const std::uint64_t reach = span.wide[kEntriesPerPiece - 1] & kWideEndMask;
    if (reach <= endMask<std::uint16_t>()) {
        span.narrow = narrowed<std::uint16_t>(span.wide.get());
    } else if (reach <= endMask<std::uint32_t>()) {
        span.middle = narrowed<std::uint32_t>(span.wide.get());
    } else {
        return nullptr;
    }
    return std::move(span.wide);
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
    return m_spans.empty() ? appendedLine(index) : lineInPlace(index);
}

std::string_view LineStore::appendedLine(std::size_t index) const {
    const Entry entry = m_pieces[index / kEntriesPerPiece][index % kEntriesPerPiece];
    const Block& block = m_blocks[entry >> (kOffsetBits + kLengthBits)];
    const std::size_t offset = (entry >> kLengthBits) & kOffsetMask;
    const std::size_t length = entry & kLengthMask;
    return {block.bytes.get() + offset, length == kLengthMask ? block.used : length};
}

std::uint64_t LineStore::Span::entry(std::size_t index) const {
    if (narrow) {
        return widened(narrow[index]);
    }
    if (middle) {
        return widened(middle[index]);
    }
    return wide[index];
}

std::string_view LineStore::lineInPlace(std::size_t index) const {
    const Span& span = m_spans[index / kEntriesPerPiece];
    const std::size_t slot = index % kEntriesPerPiece;
    const std::uint64_t entry = span.entry(slot);
    const std::size_t end = entry & kWideEndMask;
    std::size_t start = 0;
    if (slot > 0) {
        // The line before ends at its LF, or at the CR this line's flag tells of.
        start = (span.entry(slot - 1) & kWideEndMask) + 1 + (entry >> kWideFlagBit);
    }
    return {span.first + start, end - start};
}

std::size_t LineStore::bytesHeld() const {
    std::size_t bytes =
        m_blocks.capacity() * sizeof(Block) + m_pieces.capacity() * sizeof(m_pieces[0]) +
        m_pieces.size() * kEntriesPerPiece * sizeof(Entry) + m_spans.capacity() * sizeof(Span);
    for (const Block& block : m_blocks) {
        bytes += block.capacity;
    }
    for (const Span& span : m_spans) {
        const std::size_t width = span.narrow   ? sizeof(span.narrow[0])
                                  : span.middle ? sizeof(span.middle[0])
                                                : sizeof(span.wide[0]);
        bytes += width * kEntriesPerPiece;
    }
    return bytes;
}

char* LineStore::roomFor(std::size_t length) {
    if (length >= kOwnBlockLength) {
        m_blocks.push_back(
            Block{std::make_unique_for_overwrite<char[]>(length), length, length, true});
        return m_blocks.back().bytes.get();
    }
    // Even an empty line needs an offset inside its block.
    const std::size_t needed = length > 0 ? length : 1;
    if (m_blocks.empty() || m_blocks.back().ownLine ||
        m_blocks.back().capacity - m_blocks.back().used < needed) {
        auto bytes = m_supply != nullptr ? m_supply->take()
                                         : std::make_unique_for_overwrite<char[]>(kBlockSize);
        m_blocks.push_back(Block{std::move(bytes), kBlockSize, 0, false});
    }
    Block& block = m_blocks.back();
    char* at = block.bytes.get() + block.used;
    block.used += length;
    return at;
}
