#pragma once
#include <cstddef>
#include <cstdint>

// The 732-byte unit a client posts and the viewer receives: one mailbox slot, no header, no
// length prefix. Integers are little-endian; text fields are raw single-byte text, normally
// NUL-terminated within their width (a reader must not rely on it).
// Packed to 4 bytes: 732 is not a multiple of the 64-bit timestamp's natural alignment.
namespace quorvane {

// Records posted by this library (and Quorvane's tools) also carry the precise time and a
// per-sender sequence number, in bytes the line never depends on:
//   716  nanoseconds  u32  within the second of `timestamp`, 0 .. 999,999,999
//   720  sequence     u32  counts the records of one sending thread from 1, lost ones included
//                          (a record dropped for want of room still takes its number), wrapping
//   728  marker       u32  kPreciseTimeMarker: "QVT" and the layout version 1
// A record whose marker differs was written by something else: those bytes mean nothing then.
inline constexpr std::uint32_t kPreciseTimeMarker = 0x01545651;  // 'Q' 'V' 'T' 1, little-endian

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
    std::uint32_t nanoseconds;  // see above: meaningful only with the marker
    std::uint32_t sequence;
    std::uint32_t senderKey;
    std::uint32_t marker;
};
#pragma pack(pop)

inline constexpr std::uint32_t kTraceRecordSize = 732;

static_assert(sizeof(TraceRecord) == kTraceRecordSize);
static_assert(offsetof(TraceRecord, entryName) == 0);
static_assert(offsetof(TraceRecord, entryText) == 128);
static_assert(offsetof(TraceRecord, originName) == 640);
static_assert(offsetof(TraceRecord, timestamp) == 704);
static_assert(offsetof(TraceRecord, depthDelta) == 712);
static_assert(offsetof(TraceRecord, nanoseconds) == 716);
static_assert(offsetof(TraceRecord, sequence) == 720);
static_assert(offsetof(TraceRecord, senderKey) == 724);
static_assert(offsetof(TraceRecord, marker) == 728);
static_assert(alignof(TraceRecord) == 4);

// Whether the record carries this library's precise time and sequence number.
inline bool carriesPreciseTime(const TraceRecord& record) {
    return record.marker == kPreciseTimeMarker && record.nanoseconds < 1'000'000'000u;
}

}  // namespace quorvane
