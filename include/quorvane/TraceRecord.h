#pragma once
#include <cstddef>
#include <cstdint>

// The 732-byte unit a client posts and the viewer receives: one mailbox slot, no header, no
// length prefix. Integers are little-endian; text fields are raw single-byte text, normally
// NUL-terminated within their width (a reader must not rely on it).
// Packed to 4 bytes: 732 is not a multiple of the 64-bit timestamp's natural alignment.
namespace quorvane {

#pragma pack(push, 4)
struct TraceRecord {
    static constexpr std::size_t kEntryNameSize = 128;
    static constexpr std::size_t kEntryTextSize = 512;
    static constexpr std::size_t kOriginNameSize = 64;

    char entryName[kEntryNameSize];
    char entryText[kEntryTextSize];
    char originName[kOriginNameSize];
    std::int64_t timestamp;     // seconds since 1970-01-01 UTC
    std::int32_t depthDelta;    // < 0 applied before indenting, > 0 after
    std::uint8_t reserved1[8];  // written by the client library, never read by the viewer
    std::uint32_t senderKey;
    std::uint8_t reserved2[4];  // written by the client library, never read by the viewer
};
#pragma pack(pop)

inline constexpr std::uint32_t kTraceRecordSize = 732;

static_assert(sizeof(TraceRecord) == kTraceRecordSize);
static_assert(offsetof(TraceRecord, entryName) == 0);
static_assert(offsetof(TraceRecord, entryText) == 128);
static_assert(offsetof(TraceRecord, originName) == 640);
static_assert(offsetof(TraceRecord, timestamp) == 704);
static_assert(offsetof(TraceRecord, depthDelta) == 712);
static_assert(offsetof(TraceRecord, reserved1) == 716);
static_assert(offsetof(TraceRecord, senderKey) == 724);
static_assert(offsetof(TraceRecord, reserved2) == 728);
static_assert(alignof(TraceRecord) == 4);

}  // namespace quorvane
