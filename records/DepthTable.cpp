#include "records/DepthTable.h"

#include <algorithm>
#include <bit>
#include <random>

namespace {

constexpr std::size_t kMinSlotCount = 16;
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

DepthTable::DepthTable(std::size_t expectedSenders) : m_multiplier(randomOddMultiplier()) {
    rehash(slotCountFor(expectedSenders));
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
        m_hasEmptyKey = true;
        m_emptyKeyDepth = depth;
        return;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = homeSlot(senderKey);; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.key == senderKey) {
            slot.depth = depth;
            return;
        }
        if (slot.key == kEmptyKey) break;
    }
    // A new sender: grow first if needed, so probe runs stay short.
    if ((m_usedSlots + 1) * 2 > m_slots.size()) rehash(m_slots.size() * 2);
    std::size_t i = homeSlot(senderKey);
    while (m_slots[i].key != kEmptyKey) i = (i + 1) & (m_slots.size() - 1);
    m_slots[i] = Slot{senderKey, depth};
    ++m_usedSlots;
}

std::size_t DepthTable::size() const {
    return m_usedSlots + (m_hasEmptyKey ? 1 : 0);
}

void DepthTable::reserve(std::size_t senderCount) {
    const std::size_t slotCount = slotCountFor(senderCount);
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
