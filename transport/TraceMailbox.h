#pragma once
#include <memory>
#include <string>

#include "platform/Win32.h"
#include "quorvane/Names.h"
#include "transport/CMclMailbox.h"

// The trace mailbox that traced programs, the viewer and the tools all open: its name is the
// environment variable QUORVANE_MAILBOX when set and not empty (read once per process, so every
// mailbox a process opens agrees), otherwise "QuorvaneTraceMailbox"; its slots hold one record.
const char* traceMailboxName();

// The outcome of opening a trace mailbox: the mailbox, or why not as a Win32 code and one
// sentence that names the mailbox (and, when its guard was held too long, the holder).
struct TraceMailboxOpening {
    std::unique_ptr<CMclMailbox> mailbox;
    DWORD code = ERROR_SUCCESS;
    std::string reason;

    explicit operator bool() const { return mailbox != nullptr; }
};

// Opens the mailbox `name` (null: traceMailboxName()) of `slotCount` record slots, waiting at
// most about `openTimeoutMs` for a process that holds its guard. Never throws.
TraceMailboxOpening openTraceMailbox(DWORD openTimeoutMs = CMclMailbox::kDefaultOpenTimeoutMs,
                                     const char* name = nullptr,
                                     DWORD slotCount = quorvane::kMailSlots);
