#pragma once
#include <chrono>

#include "transport/ReaderPresence.h"

// A tool that drains the trace mailbox as one of its readers: at start it joins the readers,
// naming on standard error those already running (each record goes to one reader only), and
// takes the presence mutex if it is free; while another reader holds it, keepPresence() tries
// again now and then, so that this one takes over when that reader ends.
class ToolReader {
  public:
    static constexpr auto kPresenceRetryPeriod = std::chrono::seconds(1);

    // `program` names this tool in the marks and on standard error.
    explicit ToolReader(const char* program);

    // Called from the tool's loop: tries the presence mutex again, at most once a period, while
    // another reader holds it.
    void keepPresence();
    // Lets the presence go and leaves the readers, before the tool's last words.
    void leave() { m_presence.leave(); }

  private:
    ReaderPresence m_presence;
    std::chrono::steady_clock::time_point m_presenceTried;
};
