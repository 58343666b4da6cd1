#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/ScopeTimes.h"
#include "records/TraceRecord.h"

// Records written for the tools people analyse timing with, one record at a time, appended to a
// string the caller writes out:
//   JSON Lines: one object per record with every field, its depth, and its precise time, sequence
//   number and duration where it carries them ("jq" reads it);
//   Trace Event Format: the JSON that Perfetto's UI, chrome://tracing and speedscope open as a
//   flame chart. Each origin is a process (pid numbered in order of appearance, named by a
//   metadata event), each sender key a thread; precise scopes become B/E pairs nested per thread,
//   every other record an instant event. Times are microseconds since 1970.
// Text fields are raw bytes: valid UTF-8 passes, any other byte is taken as Latin-1.

// A record's fields as an export writes them: the numbers, and the text fields without their
// padding. A record read back from a line has no sequence number.
struct ExportedFields {
    std::uint32_t senderKey = 0;
    std::int64_t timestamp = 0;
    std::uint32_t nanoseconds = 0;
    std::uint32_t sequence = 0;
    bool hasSequence = true;
    std::int32_t depthDelta = 0;
    std::string_view origin;
    std::string_view name;
    std::string_view text;

    static ExportedFields of(const TraceRecord& record);
};

// One record as an export sees it.
struct ExportedRecord {
    ExportedFields fields;
    std::uint32_t lineNumber;
    std::int32_t depth;                // as the line is indented
    const ScopeTimes::Timing& timing;  // from ScopeTimes::follow
    // For an entry line whose scope has closed, when the exporter already knows: its duration.
    std::int64_t entryDuration = -1;
};

void appendJsonLine(const ExportedRecord& exported, std::string& out);

class TraceEventWriter {
  public:
    // The opening of the document.
    static void begin(std::string& out);
    void append(const ExportedRecord& exported, std::string& out);
    // Closes the scopes still open at the last record's time, marked unfinished, and the document.
    void finish(std::string& out);

  private:
    class Piece;

    struct Open {
        std::string name;
    };

    // Hashes std::string and std::string_view alike, so that a look-up builds no string.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };

    // ",\"pid\":P,\"tid\":T" as a thread's events carry it.
    struct ThreadIds {
        ThreadIds() = default;
        ThreadIds(std::uint32_t pid, std::uint32_t tid);
        std::array<char, 48> text{};  // 14 bytes of keys and two numbers of at most 10 digits
        std::uint8_t length = 0;
    };

    // A sender seen lately: its origin, that origin's pid, and its thread's open events.
    struct Recent {
        std::uint32_t senderKey = 0;
        std::string origin;
        std::uint32_t pid = 0;  // 0: unused
        std::vector<Open>* open = nullptr;
        ThreadIds ids;
    };

    // The digits of the whole seconds of the last time written.
    struct SecondDigits {
        std::int64_t seconds = -1;
        std::array<char, 24> digits{};
        std::uint8_t length = 0;
    };

    std::uint32_t pidOf(std::string_view origin, std::string& out);
    Recent& recentOf(const ExportedFields& fields, std::string& out);
    void appendEnd(const Open& open, const Recent& sender, std::int64_t time, bool unfinished,
                   std::string& out);
    // Microseconds since 1970 with three decimals: Trace Event times keep nanoseconds that way.
    void putTime(std::int64_t nanoseconds, Piece& piece);

    std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> m_pids;
    // Per thread, the B events without their E yet, outermost first.
    std::unordered_map<std::uint64_t, std::vector<Open>> m_open;
    // The senders seen last, by a few bits of their key: a busy trace comes from a handful of
    // threads, so most records need no look-up by name. Elements of an unordered_map stay where
    // they are when it grows.
    static constexpr std::size_t kRecentSenders = 16;
    std::array<Recent, kRecentSenders> m_recent;
    SecondDigits m_second;
    std::string m_scratch;
    std::int64_t m_lastTime = 0;
    bool m_first = true;
};

// Appends `text` as the contents of a JSON string (no quotes).
void appendJsonText(std::string_view text, std::string& out);
