#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Map from sender key to that sender's current indentation depth. Only senders at a depth other
// than 0 take room: storing depth 0 removes the entry, and a sender without one is at depth 0.
//
// Open addressing with linear probing over a power-of-two array that doubles before it is half
// full and halves once it is less than an eighth full, never below its minimum: looking up or
// replacing a known sender touches one or two cache lines and never allocates. Removal shifts
// the rest of a probe run back, so no tombstones are left behind. Slots are placed by
// multiply-shift hashing with a multiplier drawn at construction, so a peer that picks its sender
// keys cannot aim them all at one run of slots.
class DepthTable {
  public:
    DepthTable();
    // Sized so that `expectedSenders` senders fit without growing.
    explicit DepthTable(std::size_t expectedSenders);

    // Returns true and sets `depth` when `senderKey` has an entry, that is a depth other than 0.
    bool lookup(std::uint32_t senderKey, std::int32_t& depth) const;
    // Depth 0 removes the sender's entry.
    void store(std::uint32_t senderKey, std::int32_t depth);
    // Senders with an entry.
    std::size_t size() const;
    // Slots in the array; the table never shrinks below the count it was built or reserved for.
    std::size_t capacity() const;
    // Makes room for `senderCount` senders in all, so that storing them does not grow the table.
    void reserve(std::size_t senderCount);

  private:
    // A slot whose key is kEmptyKey is free; the sender key with that value is kept beside the
    // array instead.
    static constexpr std::uint32_t kEmptyKey = 0;

    struct Slot {
        std::uint32_t key = kEmptyKey;
        std::int32_t depth = 0;
    };

    std::size_t homeSlot(std::uint32_t senderKey) const;
    void eraseAt(std::size_t index);
    void rehash(std::size_t slotCount);

    std::vector<Slot> m_slots;
    std::uint64_t m_multiplier;
    unsigned m_shift = 0;  // 64 minus log2 of the slot count: keeps the hash's top bits
    std::size_t m_usedSlots = 0;
    std::size_t m_minSlotCount = 0;
    bool m_hasEmptyKey = false;
    std::int32_t m_emptyKeyDepth = 0;
};
