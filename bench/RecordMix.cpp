#include "bench/RecordMix.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

constexpr std::int32_t kMaxNesting = 12;
constexpr std::uint32_t kFirstSenderKey = 4100;
constexpr std::uint32_t kSenderKeyStep = 36;
constexpr int kOpenPercent = 35;
constexpr int kClosePercent = 35;

constexpr std::array kEntryNames = {
    "main",
    "Parser::readToken",
    "Connection::sendRequest",
    "ImageCache::lookup",
    "RenderQueue::flushPendingDrawCommands",
    "Db::query",
    "Scheduler::dispatch",
    "ConfigLoader::parseSection",
};
constexpr std::array kOriginNames = {
    "app", "netio", "render", "storage", "scheduler", "config", "ui", "audio",
};
constexpr char kTextAlphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 =,.:;-_/()[]";

void copyText(char* field, std::size_t fieldSize, const char* text) {
    std::snprintf(field, fieldSize, "%s", text);
}

}  // namespace

std::vector<TraceRecord> makeRecordMix(std::size_t count, std::uint32_t seed) {
    return makeRecordMix(count, seed, kMinTextLength, kMaxTextLength);
}

std::vector<TraceRecord> makeRecordMix(std::size_t count, std::uint32_t seed,
                                       std::size_t minTextLength, std::size_t maxTextLength) {
    maxTextLength = std::min(maxTextLength, TraceRecord::kEntryTextSize - 1);
    minTextLength = std::min(minTextLength, maxTextLength);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pickSender(0, kMixSenders - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<std::size_t> textLength(minTextLength, maxTextLength);
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kTextAlphabet - 2);

    std::array<std::int32_t, kMixSenders> depth{};
    std::int64_t openCalls = 0;
    std::vector<TraceRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        TraceRecord& record = records[i];
        std::memset(&record, 0, sizeof record);
        const std::size_t remaining = count - i;
        std::size_t sender = pickSender(random);
        std::int32_t delta = 0;
        if (static_cast<std::int64_t>(remaining) <= openCalls) {
            // Close what is still open, so the mix ends where it began.
            while (depth[sender] == 0) sender = (sender + 1) % kMixSenders;
            delta = -1;
        } else {
            const int roll = percent(random);
            const bool roomToClose = openCalls + 2 < static_cast<std::int64_t>(remaining);
            if (roll < kOpenPercent && depth[sender] < kMaxNesting && roomToClose) {
                delta = 1;
            } else if (roll >= 100 - kClosePercent && depth[sender] > 0) {
                delta = -1;
            }
        }
        depth[sender] += delta;
        openCalls += delta;

        record.senderKey = kFirstSenderKey + static_cast<std::uint32_t>(sender) * kSenderKeyStep;
        record.depthDelta = delta;
        record.timestamp = kMixStartTime + static_cast<std::int64_t>(i / kRecordsPerClockTick);
        copyText(record.entryName, sizeof record.entryName,
                 kEntryNames[(i + sender) % kEntryNames.size()]);
        copyText(record.originName, sizeof record.originName, kOriginNames[sender]);
        const std::size_t length = textLength(random);
        for (std::size_t c = 0; c < length; ++c)
            record.entryText[c] = kTextAlphabet[letter(random)];
        record.entryText[length] = '\0';
    }
    return records;
}

std::vector<TraceRecord> stampPreciseTime(std::vector<TraceRecord> mix) {
    std::vector<std::uint32_t> sequences(kMixSenders + 1);
    std::uint32_t microseconds = 0;
    for (TraceRecord& record : mix) {
        record.nanoseconds = (microseconds++ % 1'000'000) * 1000;
        record.sequence = ++sequences[record.senderKey % sequences.size()];
        record.marker = quorvane::kPreciseTimeMarker;
    }
    return mix;
}
