#pragma once
#include "platform/Win32.h"

// A named mutex obtained for this process without waiting; an abandoned mutex counts as obtained.
class CMutexSimple {
public:
    CMutexSimple() = default;
    CMutexSimple(const CMutexSimple&) = delete;
    CMutexSimple& operator=(const CMutexSimple&) = delete;
    ~CMutexSimple();

    // Nonzero when the mutex `name` is now held by this object.
    BOOL getMutex(const char* name);
    BOOL releaseMutex();
};
