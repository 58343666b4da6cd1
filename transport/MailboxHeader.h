#pragma once
#include <cstddef>
#include <cstdint>

// The 20 bytes at the start of a mailbox section.
struct MailboxHeader {
    std::uint32_t slotCount;
    std::uint32_t slotSize;
    std::uint32_t dataOffset;
    std::uint32_t readIndex;
    std::uint32_t writeIndex;
};
static_assert(sizeof(MailboxHeader) == 20);
static_assert(offsetof(MailboxHeader, readIndex) == 12);
static_assert(offsetof(MailboxHeader, writeIndex) == 16);

constexpr std::uint32_t kMailboxDataOffset = 20;
