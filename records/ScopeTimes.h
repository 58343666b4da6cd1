#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/TraceRecord.h"

// Follows each sender's scopes through the records in the order they arrive, for the records
// that carry the client library's precise time and sequence number (carriesPreciseTime): a
// record without them takes no part and gets no timing.
//
// A scope opens with a record whose depth delta is above zero and closes with the next record of
// the same sender and entry name whose delta is below zero; scopes opened after it by that sender
// and still open then lost their leave record (it was dropped, or the sender was killed in
// between) and are closed unfinished. A jump in a sender's sequence numbers says how many of its
// records were lost just before the record that shows it.
//
// Memory grows with the senders and their open scopes only, never with the records; a sender
// deeper than kMaxOpenScopes keeps its deeper scopes untimed.
class ScopeTimes {
  public:
    static constexpr std::size_t kMaxOpenScopes = 4096;

    // Nanoseconds since 1970-01-01 UTC.
    using Nanoseconds = std::int64_t;

    struct OpenScope {
        std::uint32_t entryLine;
        Nanoseconds start;
        std::uint8_t nameLength;
        char entryName[TraceRecord::kEntryNameSize + 1];

        std::string_view name() const { return {entryName, nameLength}; }
    };

    // What one record says about time.
    struct Timing {
        bool precise = false;  // the record carries precise time; nothing below is set otherwise
        Nanoseconds time = 0;
        std::uint32_t lostBefore = 0;  // records of its sender lost just before it
        bool closesScope = false;      // a leave that closed a scope opened on entryLine
        std::uint32_t entryLine = 0;
        Nanoseconds duration = 0;
        // Scopes of the same sender this leave passed over: their leave never came.
        std::size_t unfinishedScopes = 0;
    };

    // Follows `record`, shown as line `lineNumber`.
    Timing follow(const TraceRecord& record, std::uint32_t lineNumber);
    // The scopes the last leave passed over (their entry lines and starts), outermost first.
    const std::vector<OpenScope>& unfinished() const { return m_unfinished; }

    // The scopes still open, per sender, outermost first.
    void forEachOpenScope(
        const std::function<void(std::uint32_t senderKey, const OpenScope&)>& visit) const;
    // Closes every open scope of `senderKey` unfinished (its sender is gone) and returns them.
    std::vector<OpenScope> abandonSender(std::uint32_t senderKey);
    std::size_t senderCount() const { return m_senders.size(); }
    void clear() {
        m_senders.clear();
        forgetRecent();
    }

    static Nanoseconds timeOf(const TraceRecord& record) {
        return record.timestamp * 1'000'000'000 + record.nanoseconds;
    }

  private:
    struct Sender {
        bool hasSequence = false;
        std::uint32_t lastSequence = 0;
        std::vector<OpenScope> scopes;
    };

    std::unordered_map<std::uint32_t, Sender> m_senders;
    // The senders seen last, by a few bits of their key: a busy trace comes from a handful of
    // threads, so most look-ups stop here. Pointers into the map stay valid until its sender
    // is erased.
    struct Recent {
        std::uint32_t key = 0;
        Sender* sender = nullptr;
    };
    static constexpr std::size_t kRecentSenders = 16;
    Sender& senderOf(std::uint32_t key);
    void forgetRecent() { m_recent = {}; }
    std::array<Recent, kRecentSenders> m_recent{};
    std::vector<OpenScope> m_unfinished;
};

// "12.4 ms", "850 ns", "1.20 s", "3 min 05 s": three significant digits below a minute. Writes at
// most kDurationTextSize bytes (UTF-8, "µs") and returns the text's length.
inline constexpr std::size_t kDurationTextSize = 24;
std::size_t formatDuration(ScopeTimes::Nanoseconds duration, char* out);

// The fraction of a second after a "%H:%M:%S" time: ".123" (3 digits) or ".123456" (6).
std::string_view formatFraction(std::uint32_t nanoseconds, int digits, char* out);
