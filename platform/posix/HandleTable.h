#pragma once
// Process-wide table that turns HANDLE values into kernel objects. A handle carries a slot index
// and a generation, so a closed or forged handle is recognised as invalid instead of reaching
// freed memory. Look-ups take no lock.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/Win32.h"
#include "platform/posix/Namespace.h"

namespace quorvane::platform {

struct MutexState;
struct SemaphoreState;

// A process-local kernel object. Handles and mapped views each hold one reference; the named
// file is given up when the last reference goes.
struct KernelObject {
    ObjectKind kind = ObjectKind::Mutex;
    std::atomic<int> references{1};
    NamedObjectFile file;   // an unnamed object has an anonymous file and no path
    void* state = nullptr;  // MutexState or SemaphoreState, inside the header page

    ~KernelObject();
};

void retainObject(KernelObject* object);
void releaseObject(KernelObject* object);

// Registers `object` and returns its new handle, or nullptr when the table is full.
HANDLE registerHandle(KernelObject* object);
// The object behind `handle`, or nullptr for an invalid handle.
KernelObject* lookupHandle(HANDLE handle);
// Removes the handle from the table and returns its object, or nullptr for an invalid handle.
KernelObject* unregisterHandle(HANDLE handle);

// For the fork handlers: the table's lock is held across fork().
void lockHandleTableForFork();
void unlockHandleTableAfterFork();

}  // namespace quorvane::platform
