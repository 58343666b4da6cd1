#include "viewer/CQuorvaneApp.h"

#include <cstdio>
#include <string>

#include "client/CQuorvane.h"
#include "viewer/CQuorvaneDlg.h"
#include "viewer/MailboxFailureText.h"

BOOL CQuorvaneApp::InitInstance() {
    try {
        CQuorvaneDlg dialog;
        dialog.exec();
    } catch (DWORD code) {
        // Only the dialog's constructor throws, when opening the mailbox fails; no window exists.
        const std::string message = mailboxOpenFailureMessage(CQuorvane::getMailboxName(), code);
        std::fprintf(stderr, "%s\n", message.c_str());
        m_exitCode = kExitMailboxFailure;
    }
    return FALSE;
}
