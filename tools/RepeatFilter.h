#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/SyslogMessage.h"

// Tells a trace that was posted already from a new one. rsyslog passes messages at least once: a
// relay that resumes after an outage may send part of a batch again, and a queue that spilled to
// disk may pass batches on out of order. Per forwarder run (host name and run) the line numbers
// posted among the last kWindow are kept; a trace whose line is among them is a repeat, one older
// than that is taken as new (a loss is worse than a repeat). Messages without a run and line are
// never repeats.
class RepeatFilter {
  public:
    static constexpr std::uint64_t kWindow = 65536;

    bool isRepeat(const SyslogMessage& message);
    void notePosted(const SyslogMessage& message);

  private:
    struct Run {
        std::uint64_t highest = 0;
        std::vector<std::uint64_t>
            posted;  // bit (line % kWindow), for the kWindow lines to highest
    };

    // Fills m_key with the message's forwarder run and `line` with its number.
    bool identify(const SyslogMessage& message, std::uint64_t& line);

    std::string m_key;
    std::unordered_map<std::string, Run> m_runs;
};
