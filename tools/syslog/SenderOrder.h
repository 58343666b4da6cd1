#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "records/TraceRecord.h"

// Puts each forwarder run's traces into the mailbox once and in the order of their line numbers,
// whatever order and however often a relay passes them on. rsyslog delivers at least once and
// passes a backlog spilled to disk partly out of order; a trace's indentation depends on order.
//
// Per run (host name and run id) the next line to post is kept in a file mapped into memory, so
// that it survives the receiving process being killed: a trace sent again after a restart is
// known as a repeat. A trace that comes early is held until the ones before it have come, and
// is first appended to a journal beside it, so that a held trace is not lost when the process
// is killed after the sender was told it arrived. A gap that stays open longer than the wait
// given to expire() is given up: the held traces after it are posted and the gap is said.
class SenderOrder {
  public:
    // What posts a record; false when the receiver is stopping before it could.
    using Post = std::function<bool(const TraceRecord&)>;
    using Clock = std::chrono::steady_clock;

    enum class Outcome { Posted, Repeat, Held, Stopped };

    // Runs kept at once, the least recently seen one forgotten first (its later traces then
    // count as new: a repeat is better than a loss).
    static constexpr std::size_t kMaxRuns = 1024;
    // The longest key (host name, a NUL byte, run) that is kept; a longer one is no forwarder's.
    static constexpr std::size_t kMaxKeyLength = 320;
    // Traces held for one run at most; past this its gap is given up at once.
    static constexpr std::size_t kMaxHeld = 65536;

    explicit SenderOrder(Post post) : m_post(std::move(post)) {}
    SenderOrder(const SenderOrder&) = delete;
    SenderOrder& operator=(const SenderOrder&) = delete;
    ~SenderOrder();

    // Opens or creates the state files in `directory`, locked against a second receiver, and
    // takes back the traces held when the last process ended. False, with the reason in
    // `error`, when they cannot be used.
    bool open(const std::string& directory, std::string& error);

    // One trace of run `run` from `host`, numbered `line` by its forwarder.
    Outcome accept(std::string_view host, std::string_view run, std::uint64_t line,
                   const TraceRecord& record);

    // Gives up the gaps that have been open for longer than `wait`: posts what was held after
    // each. False when a post was stopped.
    bool expire(Clock::duration wait);

    std::size_t heldCount() const { return m_heldTotal; }
    std::uint64_t gapsGivenUp() const { return m_gapsGivenUp; }

  private:
    struct Slot;
    struct Run {
        Slot* slot = nullptr;
        std::map<std::uint64_t, TraceRecord> held;
        Clock::time_point gapSince;
    };

    Run* find(const std::string& key);
    // Posts the held traces that follow on from the run's next line.
    bool postFollowing(Run& run);
    bool giveUpGap(const std::string& key, Run& run);
    bool hold(const std::string& key, Run& run, std::uint64_t line, const TraceRecord& record,
              bool journal);
    void forgetJournalWhenEmpty();
    bool loadJournal(std::string& error);

    Post m_post;
    Slot* m_slots = nullptr;
    std::size_t m_mappedBytes = 0;
    int m_journal = -1;
    int m_lock = -1;  // the slots' file, locked while this receiver runs
    std::uint64_t m_clock = 0;
    std::size_t m_heldTotal = 0;
    std::uint64_t m_gapsGivenUp = 0;
    std::unordered_map<std::string, Run> m_runs;
};
