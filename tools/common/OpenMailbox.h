#pragma once
#include <csignal>
#include <memory>

#include "platform/Win32.h"
#include "transport/CMclMailbox.h"

// The longest single wait for the mailbox's guard: a stop request is seen within about this.
constexpr DWORD kOpenSliceMs = 250;

// Opens the trace mailbox (CQuorvane's name and geometry) for a tool. A process holding the
// mailbox's guard (stopped in a debugger, say) makes the open time out; it is then tried again
// in slices of kOpenSliceMs, checking `stopRequested` (may be null) between them, until
// `timeoutMs` has passed (INFINITE: until the open succeeds). Once the wait has lasted a second,
// says once on standard error what it waits for.
//
// Returns null when the mailbox could not be opened, having said why on standard error after
// "`program`: ", or when a stop was requested first.

std::unique_ptr<CMclMailbox> openTraceMailbox(const char* program, DWORD timeoutMs,
                                              const volatile std::sig_atomic_t* stopRequested);
