#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>

#include "records/ScopeTimes.h"
#include "records/TraceRecord.h"

// What the live window's records said of time beyond their lines, by line number: the
// nanoseconds within the line's second for records with the client library's precise time, and
// for scope lines how long the scope took (or that it is still open, or never finished), and how
// many records of a line's sender were lost just before it. A line costs 8 bytes here, a line
// with a note 16 more (lines before the first record with precise time cost nothing); a line of a
// record without precise time shows nothing more, and the line itself never changes.
class LineTimes {
  public:
    enum class Scope : std::uint8_t { None, Open, Closed, Unfinished };
    struct Note {
        Scope scope = Scope::None;
        std::uint32_t lostBefore = 0;
        std::int64_t duration = 0;  // when Closed
    };

    // Follows the record shown as line `lineNumber`; lines come numbered 1, 2, 3 ...
    void follow(const TraceRecord& record, std::uint32_t lineNumber);
    // Every scope still open of `senderKey` is marked unfinished: its sender is gone.
    void abandonSender(std::uint32_t senderKey);
    // The senders of this machine with scopes still open: an origin "host/program" names a
    // sender of another machine, whose sender key is no thread here.
    template <typename Visit>
    void forEachLocalSenderWithOpenScopes(Visit visit) const {
        std::uint32_t last = 0;
        bool any = false;
        m_scopes.forEachOpenScope([&](std::uint32_t key, const ScopeTimes::OpenScope&) {
            if ((!any || key != last) && !m_remoteSenders.contains(key)) visit(key);
            any = true;
            last = key;
        });
    }
    // Forgets everything: the numbering starts again.
    void clear();

    static constexpr std::uint32_t kNoTime = 0xFFFFFFFFu;
    // The nanoseconds of line `lineNumber`'s second, or kNoTime.
    std::uint32_t nanoseconds(std::uint32_t lineNumber) const;
    const Note* note(std::uint32_t lineNumber) const;
    // Lines followed, and how many of them came from records without precise time.
    std::size_t lineCount() const { return m_firstLine - 1 + m_lines.size(); }
    std::size_t linesWithoutTime() const { return m_linesWithoutTime; }
    // The whole seconds of line 1's record (since 1970), or -1 before any: the date the lines'
    // times of day belong to.
    std::int64_t firstTimestamp() const { return m_firstTimestamp; }

  private:
    static constexpr std::uint32_t kNoNote = 0xFFFFFFFFu;
    // Each line's nanoseconds and the place of its note, if it has one.
    struct Slot {
        std::uint32_t nanoseconds;
        std::uint32_t note;
    };

    Note& noteOf(std::uint32_t lineNumber);

    ScopeTimes m_scopes;
    std::uint32_t m_firstLine = 1;
    std::int64_t m_firstTimestamp = -1;
    std::deque<Slot> m_lines;  // of lines m_firstLine, m_firstLine + 1, ...
    std::size_t m_linesWithoutTime = 0;
    std::deque<Note> m_notes;  // of scope lines and lines after a loss, in the order made
    std::unordered_set<std::uint32_t> m_remoteSenders;
};

// Which time columns the list shows beyond its lines.
struct TimeColumns {
    int fractionDigits = 0;  // 0, 3 (milliseconds) or 6 (microseconds)
    bool durations = false;

    bool any() const { return fractionDigits > 0 || durations; }
};

// The number a line begins with (its line number), or 0 when it begins with none.
std::uint32_t leadingLineNumber(std::string_view line);

// `line` as the list shows it with `columns`: the fraction of the second after the time column,
// and after it a column of its own with the scope's duration ("12.4 ms", "open", "unfinished")
// and the records lost before the line ("3 lost"). Every line gets the column, so that the
// columns after it stay aligned.
void decorateLine(std::string_view line, const LineTimes& times, const TimeColumns& columns,
                  std::string& out);
