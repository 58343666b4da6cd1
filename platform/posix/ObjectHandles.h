#pragma once
// What the kernel-object calls share: making an object and its handle, finding an object by
// handle, and setting the calling thread's last error on the way out.
#include <cstdint>

#include "platform/Win32.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/Namespace.h"

namespace quorvane::platform {

// Set the last error to `error` and return FALSE, or a null handle.
BOOL fail(DWORD error);
HANDLE failHandle(DWORD error);

// Creates (or, named, opens) an object of `kind` and returns a new handle to it; `created` says
// which. Leaves last-error ERROR_ALREADY_EXISTS for an opened named object.
HANDLE createObject(ObjectKind kind, LPCSTR name, std::uint64_t sectionSize,
                    const StateInitializer& initialize, bool& created);

// The object behind `handle` when it is of `kind`; otherwise null with ERROR_INVALID_HANDLE.
KernelObject* objectOf(HANDLE handle, ObjectKind kind);
// The same for an object found once (GetSyncObject): a check of its kind, no look-up.
KernelObject* objectOf(PSYNC_OBJECT object, ObjectKind kind);

// For the fork handlers: the table of mapped views is locked across fork().
void lockViewsForFork();
void unlockViewsAfterFork();

}  // namespace quorvane::platform
