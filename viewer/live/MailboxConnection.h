#pragma once
#include <memory>
#include <string>

#include "platform/Win32.h"
#include "transport/CMclMailbox.h"

// The viewer's trace mailbox, which may have to be waited for: a process stopped (in a debugger,
// by Ctrl+Z) while holding the ring's guard makes every open time out until it goes on or dies.
// open() can be tried again until it succeeds; it never throws.
class MailboxConnection {
  public:
    // The attempt before the window shows waits as long as any healthy guard holder needs.
    static constexpr DWORD kFirstOpenTimeoutMs = CMclMailbox::kDefaultOpenTimeoutMs;
    // Later attempts run on the window's event loop, so they wait briefly.
    static constexpr DWORD kRetryOpenTimeoutMs = 200;

    // Opens the viewer's mailbox unless it is open, waiting at most `timeoutMs` for its guard.
    // Returns ERROR_SUCCESS, ERROR_TIMEOUT while the guard stays held, or another failure's code.
    DWORD open(DWORD timeoutMs);
    void close() { m_mailbox.reset(); }

    bool isOpen() const { return m_mailbox != nullptr; }
    // Only while open.
    CMclMailbox& mailbox() { return *m_mailbox; }
    // The last failure in one sentence: the mailbox, why, and for a held guard, its holder.
    const std::string& failureText() const { return m_failureText; }

  private:
    std::unique_ptr<CMclMailbox> m_mailbox;
    std::string m_failureText;
};
