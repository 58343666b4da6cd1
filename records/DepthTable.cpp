#include "records/DepthTable.h"

#include <algorithm>
#include <bit>
#include <random>

namespace {

constexpr std::size_t kMinSlotCount = 16;
// The array halves once fewer than one slot in this many is used. Growing leaves it more than a
// quarter full and halving less than a quarter, so neither follows the other at once.
constexpr std::size_t kShrinkRatio = 8;
// Golden-ratio multiplier, used only when no random source is available.
constexpr std::uint64_t kFallbackMultiplier = 0x9E3779B97F4A7C15ull;

// Multiply-shift hashing needs an odd multiplier; a random one keeps the slot order unknown to
// senders.
std::uint64_t randomOddMultiplier() {
    try {
        std::random_device source;
        const std::uint64_t high = source();
        const std::uint64_t low = source();
        return ((high << 32) | low) | 1u;
    } catch (...) {
        return kFallbackMultiplier;
    }
}

// Smallest power-of-two slot count that keeps `senderCount` entries at most half full.
std::size_t slotCountFor(std::size_t senderCount) {
    return std::bit_ceil(std::max(kMinSlotCount, senderCount * 2));
}

}  // namespace

DepthTable::DepthTable() : DepthTable(0) {}

DepthTable::DepthTable(std::size_t expectedSenders)
    : m_multiplier(randomOddMultiplier()), m_minSlotCount(slotCountFor(expectedSenders)) {
    rehash(m_minSlotCount);
}

std::size_t DepthTable::homeSlot(std::uint32_t senderKey) const {
    return static_cast<std::size_t>((senderKey * m_multiplier) >> m_shift);
}

bool DepthTable::lookup(std::uint32_t senderKey, std::int32_t& depth) const {
    if (senderKey == kEmptyKey) {
        if (m_hasEmptyKey) depth = m_emptyKeyDepth;
        return m_hasEmptyKey;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = homeSlot(senderKey);; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.key == senderKey) {
            depth = slot.depth;
            return true;
        }
        if (slot.key == kEmptyKey) return false;
    }
}

void DepthTable::store(std::uint32_t senderKey, std::int32_t depth) {
    if (senderKey == kEmptyKey) {
        m_hasEmptyKey = depth != 0;
        m_emptyKeyDepth = depth;
        return;
    }
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = homeSlot(senderKey);
    for (;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.key == senderKey) {
            if (depth != 0) {
                slot.depth = depth;
            } else {
                eraseAt(i);
            }
            return;
        }
        if (slot.key == kEmptyKey) break;
    }
    if (depth == 0) return;
    // A new sender: grow first if needed, so probe runs stay short.
    if ((m_usedSlots + 1) * 2 > m_slots.size()) {
        rehash(m_slots.size() * 2);
        i = homeSlot(senderKey);
        while (m_slots[i].key != kEmptyKey) i = (i + 1) & (m_slots.size() - 1);
    }
    m_slots[i] = Slot{senderKey, depth};
    ++m_usedSlots;
}

void DepthTable::eraseAt(std::size_t index) {
    // Backward shift: each later entry of the run moves into the hole unless that would put it
    // before its home slot, so that every lookup still finds its key before the first free slot.
    const std::size_t mask = m_slots.size() - 1;
    std::size_t hole = index;
    for (std::size_t i = (hole + 1) & mask; m_slots[i].key != kEmptyKey; i = (i + 1) & mask) {
        const std::size_t distanceFromHome = (i - homeSlot(m_slots[i].key)) & mask;
        const std::size_t distanceFromHole = (i - hole) & mask;
        if (distanceFromHome >= distanceFromHole) {
            m_slots[hole] = m_slots[i];
            hole = i;
        }
    }
    m_slots[hole] = Slot{};
    --m_usedSlots;
    if (m_usedSlots * kShrinkRatio < m_slots.size() && m_slots.size() > m_minSlotCount) {
        rehash(m_slots.size() / 2);
    }
}

std::size_t DepthTable::size() const {
    return m_usedSlots + (m_hasEmptyKey ? 1 : 0);
}

std::size_t DepthTable::capacity() const {
    return m_slots.size();
}

void DepthTable::reserve(std::size_t senderCount) {
    const std::size_t slotCount = slotCountFor(senderCount);
    m_minSlotCount = std::max(m_minSlotCount, slotCount);
    if (slotCount > m_slots.size()) rehash(slotCount);
}

void DepthTable::rehash(std::size_t slotCount) {
    std::vector<Slot> old(slotCount);
    old.swap(m_slots);
    m_shift = 64u - static_cast<unsigned>(std::countr_zero(slotCount));
    const std::size_t mask = slotCount - 1;
    for (const Slot& slot : old) {
        if (slot.key == kEmptyKey) continue;
        std::size_t i = homeSlot(slot.key);
        while (m_slots[i].key != kEmptyKey) i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}
