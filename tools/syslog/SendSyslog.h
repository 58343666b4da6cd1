#pragma once
// quorvane-send --syslog: one record per RFC 5424 message read from standard input, as rsyslog's
// omprog passes them, with omprog's confirmations on standard output when asked.

#include <cstddef>

#include "platform/Win32.h"

class CMclMailbox;

// The longest line kept of standard input; the rest of a longer one is read past and counted.
// rsyslog's default maxMessageSize, thrice the longest message quorvane-forward writes.
inline constexpr std::size_t kMaxSyslogLineLength = 8192;

// Posts every message read from standard input; `timeoutMs` bounds each wait for room. Returns
// the exit status: 0, or 1 when a record could not be posted or an answer not written.
int sendSyslog(CMclMailbox& mailbox, DWORD timeoutMs, bool confirm);
