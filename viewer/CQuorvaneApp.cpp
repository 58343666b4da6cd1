#include "viewer/CQuorvaneApp.h"

#include <cstdio>
#include <string>

#include "transport/ErrorText.h"
#include "transport/TraceMailbox.h"
#include "viewer/CQuorvaneDlg.h"

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
        std::fprintf(stderr, "quorvane-viewer: %s\n",
                     describeMailboxFailure(traceMailboxName(), failure).c_str());
        m_exitCode = kExitMailboxFailure;
    }
    return FALSE;
}
