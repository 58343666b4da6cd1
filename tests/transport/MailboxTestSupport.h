#pragma once
// What the mailbox's tests share: numbered records, the code a construction raises, a second
// view of a ring's section and the names of its objects.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "transport/CMclMailbox.h"
#include "transport/CMclSharedMemory.h"

namespace mailboxtest {

inline constexpr DWORD kSlotSize = 32;
using Slot = std::array<unsigned char, kSlotSize>;

// A record that names its sender and sequence number and checks itself in its last byte.
inline Slot record(std::uint32_t sender, std::uint32_t sequence) {
    Slot slot{};
    std::memcpy(slot.data(), &sender, 4);
    std::memcpy(slot.data() + 4, &sequence, 4);
    slot[kSlotSize - 1] = static_cast<unsigned char>(sequence * 7 + sender);
    return slot;
}

// Raises the code a construction throws, or 0 when it succeeds.
template <typename Make>
DWORD raisedBy(Make make) {
    try {
        make();
    } catch (DWORD code) {
        return code;
    }
    return 0;
}

// A second view of a mailbox's section, for looking at or scribbling on the header and slots.
struct HeaderView {
    CMclSharedMemory memory;
    HeaderView(DWORD slotCount, const std::string& name)
        : memory(slotCount * kSlotSize + kMailboxDataOffset, name.c_str()) {}
    MailboxHeader* operator->() { return static_cast<MailboxHeader*>(memory.getView()); }
    unsigned char* slot(std::uint32_t index) {
        return static_cast<unsigned char*>(memory.getView()) + kMailboxDataOffset +
               static_cast<std::size_t>(index) * kSlotSize;
    }
};

inline std::string guardName(const std::string& mailbox) {
    return std::string(CMclMailbox::kGuardPrefix) + "::" + mailbox;
}

inline std::string freeCountName(const std::string& mailbox) {
    return std::string(CMclMailbox::kFreeCountPrefix) + "::" + mailbox;
}

inline std::string pendingCountName(const std::string& mailbox) {
    return std::string(CMclMailbox::kPendingCountPrefix) + "::" + mailbox;
}

}  // namespace mailboxtest
