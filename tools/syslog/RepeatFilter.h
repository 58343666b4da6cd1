#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/syslog/SyslogMessage.h"

// Tells a trace that was posted already from a new one. rsyslog passes messages at least once: a
// relay that resumes after an outage may send part of a batch again, and a queue that spilled to
// disk may pass batches on out of order. Per forwarder run (host name and run) the line numbers
// posted among the last kWindow are kept; a trace whose line is among them is a repeat, one older
// than that is taken as new (a loss is worse than a repeat). Messages without a run and line are
// never repeats.
//
// The memory is bounded whatever arrives: kWindow bits per run and at most kMaxRuns runs, the one
// seen least recently forgotten first (its later traces are then taken as new).
class RepeatFilter {
  public:
    static constexpr std::uint64_t kWindow = 65536;
    // Far more forwarders than one viewer follows at once; at 8 KiB each, 8 MiB at most in all.
    static constexpr std::size_t kMaxRuns = 1024;
    // A forwarder names its run with 16 hex digits; a longer name is no forwarder's, and such a
    // message is never a repeat.
    static constexpr std::size_t kMaxRunLength = 64;

    bool isRepeat(const SyslogMessage& message);
    void notePosted(const SyslogMessage& message);

    std::size_t runCount() const { return m_runs.size(); }

  private:
    struct Run {
        std::string key;  // host name, a NUL byte and run
        std::uint64_t highest = 0;
        std::vector<std::uint64_t>
            posted;  // bit (line % kWindow), for the kWindow lines to highest
    };

    // Fills m_key with the message's forwarder run and `line` with its number.
    bool identify(const SyslogMessage& message, std::uint64_t& line);
    // The run of m_key, moved to the front as the one seen last; null when not kept.
    Run* find();
    // A run for m_key with nothing posted, in place of the one seen least long ago when full.
    Run& add();

    std::string m_key;
    std::list<Run> m_recent;  // most recently seen first
    std::unordered_map<std::string_view, std::list<Run>::iterator> m_runs;  // keys in m_recent
};
