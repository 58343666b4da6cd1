#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class BlockSupply;

// Lines kept as their bytes, oldest first, in one of two ways; a store holds lines of one way.
//
// Appended lines are copied: their bytes lie one after another in large blocks, and each line
// costs one 8-byte index entry besides, which packs its block, offset and length. Blocks and
// index entries live in fixed-size pieces, so adding a line never moves or copies what is
// already kept, however many lines there are.
//
// Lines added in place stay where they are, in memory the store keeps alive (a mapped file),
// one after another as a text holds them. Only where each line ends is kept: for each piece of
// kEntriesPerPiece lines, the start of its first line, and for each line the distance of its end
// from there, in 2 bytes while the piece spans less than 32 KiB and 4 bytes otherwise (8 past
// 2 GiB). So a line costs at most 4 bytes besides its own, and a text of short or empty lines
// never needs more than twice its size.
class LineStore {
  public:
    // Blocks of kBlockSize come from `supply` when given (it must outlive the store and hand out
    // blocks of that size), otherwise straight from the allocator.
    explicit LineStore(BlockSupply* supply = nullptr);
    ~LineStore();
    LineStore(LineStore&& other) noexcept;
    LineStore& operator=(LineStore&& other) noexcept;

    std::size_t size() const { return m_count; }
    void append(std::string_view line);
    // Adds `line` without copying its bytes; they must lie in memory given to keepAlive(). Each
    // line but the first starts right after the one added before it and its end: LF, or CR LF.
    void appendInPlace(std::string_view line);
    // Keeps `memory` alive as long as the store, for the lines added in place.
    void keepAlive(std::shared_ptr<const void> memory);
    // The bytes of line `index`, exactly as appended; valid while the store lives.
    std::string_view operator[](std::size_t index) const;
    // Bytes taken by blocks and index pieces, used or not; memory kept alive is not counted.
    std::size_t bytesHeld() const;

    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    static constexpr std::size_t kEntriesPerPiece = std::size_t{1} << 14;
    // An appended line this long or longer does not fit an entry's length field: it gets a block
    // of its own, exactly its size.
    static constexpr std::size_t kOwnBlockLength = (std::size_t{1} << 18) - 1;

  private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity;
        std::size_t used;
        bool ownLine;  // holds one line too long for an entry's length field
    };
    using Entry = std::uint64_t;

    // The ends of up to kEntriesPerPiece lines added in place, as distances from `first`, the
    // start of the first; each entry's top bit says a CR LF, not a lone LF, came before its line.
    // Entries are wide while the piece fills, and then made as narrow as the piece's span allows.
    struct Span {
        const char* first = nullptr;
        std::unique_ptr<std::uint16_t[]> narrow;
        std::unique_ptr<std::uint32_t[]> middle;
        std::unique_ptr<std::uint64_t[]> wide;
        // Entry `index` in the wide form.
        std::uint64_t entry(std::size_t index) const;
    };

    std::string_view appendedLine(std::size_t index) const;
    std::string_view lineInPlace(std::size_t index) const;
    char* roomFor(std::size_t length);
    void addEntry(std::size_t offset, std::size_t length);
    // Makes the full last span's entries as narrow as its reach allows; returns its wide entries
    // when they are no longer needed, for the next span.
    std::unique_ptr<std::uint64_t[]> narrowLastSpan();

    BlockSupply* m_supply;
    std::vector<Block> m_blocks;
    std::vector<std::unique_ptr<Entry[]>> m_pieces;
    std::vector<Span> m_spans;
    const char* m_lastEnd = nullptr;  // where the last line added in place ends
    std::size_t m_count = 0;
    std::shared_ptr<const void> m_keptAlive;
};
