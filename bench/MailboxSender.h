#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "records/TraceRecord.h"

// A forked process that waits for go(), then posts `recordCount` records of `mix` into the trace
// mailbox, opening it by name as a client does. Make it before Qt starts any thread of its own.
class MailboxSender {
  public:
    MailboxSender(const std::vector<TraceRecord>& mix, std::uint32_t recordCount);
    MailboxSender(const MailboxSender&) = delete;
    MailboxSender& operator=(const MailboxSender&) = delete;
    ~MailboxSender() { finish(true); }

    bool started() const { return m_pid > 0; }
    bool go();
    // Waits for the sender to end, killing it first when `abandon`; empty when it posted every
    // record, otherwise why not.
    std::string finish(bool abandon);

  private:
    [[noreturn]] static void run(int goReadEnd, const std::vector<TraceRecord>& mix,
                                 std::uint32_t recordCount);

    pid_t m_pid = -1;
    int m_go = -1;
};
