#include "tools/common/ToolReader.h"

#include <cstdio>
#include <string>
#include <vector>

#include "transport/TraceMailbox.h"

ToolReader::ToolReader(const char* program) : m_presence(program, traceMailboxName()) {
    const std::vector<MarkedProcess> others = m_presence.join();
    if (!others.empty()) {
        const bool one = others.size() == 1;
        std::fprintf(stderr,
                     "%s: %s of the mailbox %s %s: %s; each record goes to one reader only\n",
                     program, one ? "another reader" : "other readers", traceMailboxName(),
                     one ? "runs" : "run", describeReaders(others).c_str());
    }
    m_presence.holdPresence();
    m_presenceTried = std::chrono::steady_clock::now();
}

void ToolReader::keepPresence() {
    if (m_presence.holdsPresence()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_presenceTried < kPresenceRetryPeriod) return;
    m_presenceTried = now;
    m_presence.holdPresence();
}
