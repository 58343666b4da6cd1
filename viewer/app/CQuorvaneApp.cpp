#include "viewer/app/CQuorvaneApp.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <string>

#include "transport/ErrorText.h"
#include "transport/TraceMailbox.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/windows/CSavedLogDlg.h"

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

void CQuorvaneApp::runSavedLogs(const std::vector<std::string>& files) {
    int opened = 0;
    for (const std::string& file : files) {
        QString failure;
        if (CSavedLogDlg::open(QFile::decodeName(file.c_str()), nullptr, failure) != nullptr) {
            ++opened;
        } else {
            std::fprintf(stderr, "quorvane-viewer: %s\n", failure.toLocal8Bit().constData());
        }
    }
    if (opened == 0) {
        m_exitCode = kExitNoSavedLog;
        return;
    }
    m_exitCode = QApplication::exec();
}
