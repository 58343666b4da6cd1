#pragma once
#include "platform/Win32.h"

// The application object: builds the main dialog, runs it modally and lets the program end when
// it returns. A trace mailbox that cannot be opened (at start, or later while the window waits
// for it) is reported on standard error, and the program then ends with status 1.
class CQuorvaneApp {
  public:
    static constexpr int kExitMailboxFailure = 1;

    // Returns FALSE: the program leaves once the dialog has ended.
    BOOL InitInstance();
    int exitCode() const { return m_exitCode; }

  private:
    int m_exitCode = 0;
};
