#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class BlockSupply;

// Lines kept as their bytes, oldest first. The bytes lie one after another in large blocks; each
// line costs one 8-byte index entry besides, which packs its block, offset and length. Blocks
// and index entries live in fixed-size pieces, so adding a line never moves or copies what is
// already kept, however many lines there are.
//
// Lines can also stay where they are, in memory the store keeps alive (a mapped file): then a
// block is a view of at most kBlockSize bytes of that memory, and only the index entries are new.
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
    // Adds `line` without copying its bytes; they must lie in memory given to keepAlive(), each
    // such line after the one added before it.
    void appendInPlace(std::string_view line);
    // Keeps `memory` alive as long as the store, for the lines added in place.
    void keepAlive(std::shared_ptr<const void> memory);
    // The bytes of line `index`, exactly as appended; valid while the store lives.
    std::string_view operator[](std::size_t index) const;
    // Bytes taken by blocks and index pieces, used or not; memory kept alive is not counted.
    std::size_t bytesHeld() const;

    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    static constexpr std::size_t kEntriesPerPiece = std::size_t{1} << 14;
    // A line this long or longer does not fit an entry's length field: it gets a block of its
    // own, exactly its size.
    static constexpr std::size_t kOwnBlockLength = (std::size_t{1} << 18) - 1;

  private:
    struct Block {
        std::unique_ptr<char[]> bytes;  // null for a view of memory kept alive
        const char* data;
        std::size_t capacity;
        std::size_t used;
        bool ownLine;  // holds one line too long for an entry's length field
    };
    using Entry = std::uint64_t;

    char* roomFor(std::size_t length);
    // The offset of `line` in a view block that holds it, starting a new view where needed.
    std::size_t viewOffsetOf(std::string_view line);
    void addEntry(std::size_t offset, std::size_t length);

    BlockSupply* m_supply;
    std::vector<Block> m_blocks;
    std::vector<std::unique_ptr<Entry[]>> m_pieces;
    std::size_t m_count = 0;
    std::shared_ptr<const void> m_keptAlive;
};
