#pragma once
#include <string>
#include <string_view>

#include "platform/Win32.h"

// A short text saying why the trace mailbox could not be opened, for the Win32 code raised.
const char* mailboxFailureReason(DWORD code);

// The one line the viewer prints when it cannot open its mailbox:
//   quorvane: cannot open the trace mailbox "NAME": REASON (error N)
std::string mailboxOpenFailureMessage(std::string_view mailboxName, DWORD code);
