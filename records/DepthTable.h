#pragma once
#include <cstdint>

// Map from sender key to that sender's current indentation depth. Entries are created on first
// store and never removed.
class DepthTable {
public:
    // Returns true and sets `depth` when `senderKey` has an entry.
    bool lookup(std::uint32_t senderKey, std::int32_t& depth) const;
    void store(std::uint32_t senderKey, std::int32_t depth);
    std::size_t size() const;
};
