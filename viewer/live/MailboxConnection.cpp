#include "viewer/live/MailboxConnection.h"

#include "transport/TraceMailbox.h"

DWORD MailboxConnection::open(DWORD timeoutMs) {
    if (m_mailbox != nullptr) {
        return ERROR_SUCCESS;
    }
    TraceMailboxOpening opening = openTraceMailbox(timeoutMs);
    if (!opening) {
        m_failureText = std::move(opening.reason);
        return opening.code;
    }
    m_mailbox = std::move(opening.mailbox);
    m_failureText.clear();
    return ERROR_SUCCESS;
}
