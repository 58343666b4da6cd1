// Handles, the last-error value and the calls common to every kind of kernel object.
#include "platform/posix/ObjectHandles.h"

#include <time.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string_view>

#include "platform/Win32.h"
#include "platform/posix/CancellationOff.h"

namespace quorvane::platform {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

BOOL fail(DWORD error) {
    t_lastError = error;
    return FALSE;
}

HANDLE failHandle(DWORD error) {
    t_lastError = error;
    return nullptr;
}

HANDLE createObject(ObjectKind kind, LPCSTR name, std::uint64_t sectionSize,
                    const StateInitializer& initialize, bool& created) {
    auto object = std::unique_ptr<KernelObject>(new (std::nothrow) KernelObject);
    if (!object) return failHandle(ERROR_NOT_ENOUGH_MEMORY);
    object->kind = kind;
    DWORD status;
    if (name == nullptr || name[0] == '\0')
        status = createAnonymous(kind, sectionSize, initialize, object->file);
    else
        status =
            createOrOpenNamed(kind, std::string_view(name), sectionSize, initialize, object->file);
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) return failHandle(status);
    object->state = static_cast<char*>(object->file.headerPage) + kStateOffset;
    created = status == ERROR_SUCCESS;
    HANDLE handle = registerHandle(object.get());
    if (handle == nullptr) return failHandle(ERROR_TOO_MANY_OPEN_FILES);
    static_cast<void>(object.release());  // the handle table's reference now
    t_lastError = status;
    return handle;
}

KernelObject* objectOf(HANDLE handle, ObjectKind kind) {
    KernelObject* object = lookupHandle(handle);
    if (object == nullptr || object->kind != kind) {
        t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return object;
}

KernelObject* objectOf(PSYNC_OBJECT syncObject, ObjectKind kind) {
    auto* object = reinterpret_cast<KernelObject*>(syncObject);
    if (object == nullptr || object->kind != kind) {
        t_lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return object;
}

}  // namespace quorvane::platform

using namespace quorvane::platform;

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

DWORD win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
        case EOVERFLOW:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EIO:
            return ERROR_WRITE_FAULT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL CloseHandle(HANDLE handle) {
    KernelObject* object = unregisterHandle(handle);
    if (object == nullptr) return fail(ERROR_INVALID_HANDLE);
    releaseObject(object);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    const CancellationOff cancellationOff;  // as on Windows, a sleep is no place to be cancelled
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
