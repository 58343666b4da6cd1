#include "transport/CMclKernel.h"

#include "transport/CMclError.h"

namespace {
constexpr const char* kSourceName = "CMclKernel";
}  // namespace

CMclKernel::~CMclKernel() {
    if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
        m_syncObject = nullptr;
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
}

DWORD CMclKernel::waitFor(DWORD milliseconds) const {
    if (m_syncObject != nullptr) return WaitForSyncObject(m_syncObject, milliseconds);
    return WaitForSingleObject(m_handle, milliseconds);
}

void CMclKernel::resolveSyncObject() {
    const DWORD savedError = GetLastError();
    m_syncObject = GetSyncObject(m_handle);
    SetLastError(savedError);
}

void CMclKernel::adoptCreated(HANDLE handle, bool named) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        m_status = GetLastError();
        raiseStatus();
    }
    m_handle = handle;
    m_status = named ? GetLastError() : ERROR_SUCCESS;
}

void CMclKernel::raiseStatus() const {
    raiseMclError(m_status, kSourceName, __LINE__);
}
