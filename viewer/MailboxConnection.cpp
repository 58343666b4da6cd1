#include "viewer/MailboxConnection.h"

#include "client/CQuorvane.h"
#include "client/ErrorText.h"
#include "records/TraceRecord.h"

DWORD MailboxConnection::open(DWORD timeoutMs) {
    if (m_mailbox != nullptr) {
        return ERROR_SUCCESS;
    }
    try {
        m_mailbox = std::make_unique<CMclMailbox>(CQuorvane::getMailSlots(), kTraceRecordSize,
                                                  CQuorvane::getMailboxName(), nullptr, timeoutMs);
    } catch (DWORD code) {
        m_failureText = describeMailboxFailure(CQuorvane::getMailboxName(), code);
        return code;
    }
    m_failureText.clear();
    return ERROR_SUCCESS;
}
