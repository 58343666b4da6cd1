// WaitForSingleObject: the wait of the object's kind.
#include "platform/posix/ObjectWait.h"

#include "platform/Win32.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/ObjectHandles.h"

using namespace quorvane::platform;

PSYNC_OBJECT GetSyncObject(HANDLE handle) {
    KernelObject* object = lookupHandle(handle);
    if (object == nullptr || object->kind == ObjectKind::Section) {
        fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<PSYNC_OBJECT>(object);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForSyncObject(reinterpret_cast<PSYNC_OBJECT>(lookupHandle(handle)), milliseconds);
}

DWORD WaitForSyncObject(PSYNC_OBJECT syncObject, DWORD milliseconds) {
    auto* object = reinterpret_cast<KernelObject*>(syncObject);
    if (object == nullptr) {
        fail(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    switch (object->kind) {
        case ObjectKind::Mutex:
            return waitMutexState(object->state, milliseconds);
        case ObjectKind::Semaphore:
            return waitSemaphoreState(object->state, milliseconds);
        case ObjectKind::Section:
            break;
    }
    fail(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
