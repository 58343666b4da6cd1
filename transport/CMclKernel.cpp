#include "transport/CMclKernel.h"

#include "transport/CMclError.h"

namespace {
constexpr const char* kSourceName = "CMclKernel";
}  // namespace

CMclKernel::~CMclKernel() {
    if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
}

DWORD CMclKernel::waitFor(DWORD milliseconds) const {
    return WaitForSingleObject(m_handle, milliseconds);
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
