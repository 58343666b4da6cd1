#pragma once
// What the kernel-object tests share: a handle closed at the end of a scope, and a semaphore's
// counts taken without waiting.

#include "platform/Win32.h"

namespace quorvane::test {

// Closes a handle at the end of a scope.
struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    ~Handle() {
        if (value != nullptr) CloseHandle(value);
    }
    operator HANDLE() const { return value; }
};

// Takes every count a semaphore has without waiting.
inline int drain(HANDLE semaphore) {
    int taken = 0;
    while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) ++taken;
    return taken;
}

}  // namespace quorvane::test
