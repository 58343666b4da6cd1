#include "viewer/CQuorvaneApp.h"

#include <cstdio>
#include <string>

#include "client/CQuorvane.h"
#include "viewer/CQuorvaneDlg.h"
#include "viewer/MailboxFailureText.h"

BOOL CQuorvaneApp::InitInstance() {
    DWORD failure = ERROR_SUCCESS;
    try {
        CQuorvaneDlg dialog;
        dialog.exec();
        failure = dialog.mailboxFailure();
    } catch (DWORD code) {
        // Only the dialog's constructor throws, when opening the mailbox fails; no window exists.
        failure = code;
    }
    if (failure != ERROR_SUCCESS) {
        const std::string message = mailboxOpenFailureMessage(CQuorvane::getMailboxName(), failure);
        std::fprintf(stderr, "%s\n", message.c_str());
        m_exitCode = kExitMailboxFailure;
    }
    return FALSE;
}
