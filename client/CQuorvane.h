#pragma once
#include <cstdint>

#include "platform/Registry.h"
#include "platform/Win32.h"
#include "records/TraceRecord.h"

// The client library's record class and the configuration that viewer and clients share.
// The five static getters name the shared objects, so every process must get the same values:
// the mailbox name is "QuorvaneTraceMailbox" unless the environment variable QUORVANE_MAILBOX
// names another.
class CQuorvane {
public:
    static DWORD getMailSlots();            // 32768
    static const char* getMailboxName();    // QUORVANE_MAILBOX or "QuorvaneTraceMailbox"
    static HKEY getRegistryBranch();        // HKEY_CURRENT_USER
    static const char* getRegistryKey();    // "Software\\Quorvane"
    static const char* getRegistryValue();  // "ViewerRunning"

    // (record part: see the implementation)
};
