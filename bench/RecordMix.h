#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "records/TraceRecord.h"

// Records as a busy traced program sends them: kMixSenders senders interleaved at random, each
// entering and leaving nested calls, entry texts of kMinTextLength to kMaxTextLength bytes, and
// a clock that ticks one second every kRecordsPerClockTick records. Every sender is back at depth
// 0 after the last record, so the mix can be replayed any number of times without drifting.
// The same seed gives the same records.
constexpr std::size_t kMixSenders = 8;
constexpr std::size_t kMinTextLength = 20;
constexpr std::size_t kMaxTextLength = 500;
constexpr std::size_t kRecordsPerClockTick = 1000;
constexpr std::int64_t kMixStartTime = 1'700'000'000;

std::vector<TraceRecord> makeRecordMix(std::size_t count, std::uint32_t seed);
// The same mix with entry texts of `minTextLength` to `maxTextLength` bytes (at most 511).
std::vector<TraceRecord> makeRecordMix(std::size_t count, std::uint32_t seed,
                                       std::size_t minTextLength, std::size_t maxTextLength);
// `mix` as the client library stamps it: precise time rising by a microsecond a record and each
// sender's own sequence numbers (which start again when the mix is replayed).
std::vector<TraceRecord> stampPreciseTime(std::vector<TraceRecord> mix);
