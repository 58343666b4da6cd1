#include "records/ScopeTimes.h"

#include <cstdio>
#include <cstring>

#include "records/RecordFields.h"

ScopeTimes::Timing ScopeTimes::follow(const TraceRecord& record, std::uint32_t lineNumber) {
    Timing timing;
    if (!m_unfinished.empty()) m_unfinished.clear();
    if (!quorvane::carriesPreciseTime(record)) return timing;
    timing.precise = true;
    timing.time = timeOf(record);
    Sender& sender = senderOf(record.senderKey);
    const std::uint32_t sequence = record.sequence;
    if (sender.hasSequence && sequence != sender.lastSequence + 1) {
        // Unsigned difference: a sequence that wrapped still counts forward. One that went back
        // (a sender restarted under a reused key) says nothing about losses.
        const std::uint32_t jump = sequence - sender.lastSequence - 1;
        if (jump < 0x80000000u) timing.lostBefore = jump;
    }
    sender.hasSequence = true;
    sender.lastSequence = sequence;

    if (record.depthDelta == 0) return timing;
    const std::string_view name = recordFieldText(record.entryName);
    static_assert(TraceRecord::kEntryNameSize <= UINT8_MAX);
    if (record.depthDelta > 0) {
        if (sender.scopes.size() < kMaxOpenScopes) {
            OpenScope& scope = sender.scopes.emplace_back();
            scope.entryLine = lineNumber;
            scope.start = timing.time;
            scope.nameLength = static_cast<std::uint8_t>(name.size());
            std::memcpy(scope.entryName, name.data(), name.size());
            scope.entryName[name.size()] = '\0';
        }
    } else {
        // The nearest open scope of the same name; those above it lost their leave.
        for (std::size_t i = sender.scopes.size(); i-- > 0;) {
            if (name != sender.scopes[i].name()) continue;
            timing.closesScope = true;
            timing.entryLine = sender.scopes[i].entryLine;
            timing.duration = timing.time - sender.scopes[i].start;
            timing.unfinishedScopes = sender.scopes.size() - i - 1;
            m_unfinished.assign(sender.scopes.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                sender.scopes.end());
            sender.scopes.resize(i);
            break;
        }
    }
    if (sender.scopes.empty() && sender.scopes.capacity() > kMaxOpenScopes / 8)
        sender.scopes.shrink_to_fit();  // a sender that went deep once keeps no deep array
    return timing;
}

ScopeTimes::Sender& ScopeTimes::senderOf(std::uint32_t key) {
    // Fibonacci hashing: thread ids that differ in their low bits still spread.
    Recent& recent = m_recent[(key * 0x9E3779B9u) >> 28];
    if (recent.sender == nullptr || recent.key != key) {
        recent.key = key;
        recent.sender = &m_senders[key];
    }
    return *recent.sender;
}

void ScopeTimes::forEachOpenScope(
    const std::function<void(std::uint32_t, const OpenScope&)>& visit) const {
    for (const auto& [key, sender] : m_senders)
        for (const OpenScope& scope : sender.scopes) visit(key, scope);
}

std::vector<ScopeTimes::OpenScope> ScopeTimes::abandonSender(std::uint32_t senderKey) {
    std::vector<OpenScope> abandoned;
    if (auto found = m_senders.find(senderKey); found != m_senders.end()) {
        abandoned.swap(found->second.scopes);
        forgetRecent();
        m_senders.erase(found);
    }
    return abandoned;
}

std::size_t formatDuration(ScopeTimes::Nanoseconds duration, char* out) {
    if (duration < 0) duration = 0;
    const double value = static_cast<double>(duration);
    int length;
    if (duration < 1'000) {
        length = std::snprintf(out, kDurationTextSize, "%lld ns", static_cast<long long>(duration));
    } else if (duration >= 60'000'000'000) {
        const long long seconds = duration / 1'000'000'000;
        length =
            std::snprintf(out, kDurationTextSize, "%lld min %02lld s", seconds / 60, seconds % 60);
    } else {
        // Three significant digits in the largest unit that keeps the number at 1 or more.
        static constexpr struct {
            double scale;
            const char* unit;
        } kUnits[] = {{1e9, "s"}, {1e6, "ms"}, {1e3, "\u00b5s"}};
        // Chosen after rounding, so that 999.9996 ms reads "1.00 s", not "1000 ms".
        const auto& unit = value >= 999.5e6 ? kUnits[0] : value >= 999.5e3 ? kUnits[1] : kUnits[2];
        const double scaled = value / unit.scale;
        const int decimals = scaled >= 100 ? 0 : scaled >= 10 ? 1 : 2;
        length = std::snprintf(out, kDurationTextSize, "%.*f %s", decimals, scaled, unit.unit);
    }
    return length < 0 ? 0 : static_cast<std::size_t>(length);
}

std::string_view formatFraction(std::uint32_t nanoseconds, int digits, char* out) {
    unsigned value = nanoseconds % 1'000'000'000u;
    for (int drop = 9 - digits; drop > 0; --drop) value /= 10;
    out[0] = '.';
    for (int i = digits; i > 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return {out, static_cast<std::size_t>(digits) + 1};
}
