#pragma once
#include <string>
#include <vector>

#include "platform/Win32.h"

// The application object: builds the main dialog, runs it modally and lets the program end when
// it returns. A trace mailbox that cannot be opened (at start, or later while the window waits
// for it) is reported on standard error, and the program then ends with status 1.
//
// Given saved logs instead, it opens each in a read-only window and runs until the last window
// closes; a file that cannot be opened is reported on standard error, and when none could be
// the program ends with status 1 at once.
class CQuorvaneApp {
  public:
    static constexpr int kExitMailboxFailure = 1;
    static constexpr int kExitNoSavedLog = 1;

    // Returns FALSE: the program leaves once the dialog has ended.
    BOOL InitInstance();
    // Shows `files` (names in the system's 8-bit encoding) and returns once every window closed.
    void runSavedLogs(const std::vector<std::string>& files);
    int exitCode() const { return m_exitCode; }

  private:
    int m_exitCode = 0;
};
