#include "transport/CMclMutex.h"

CMclMutex::CMclMutex(BOOL initialOwner, LPCSTR name, LPSECURITY_ATTRIBUTES securityAttributes) {
    adoptCreated(CreateMutexA(securityAttributes, initialOwner, name), name != nullptr);
    resolveSyncObject();
}

CMclMutex::~CMclMutex() {
    // Released, not abandoned, when the destroying thread owns it; otherwise this fails harmlessly.
    if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) ReleaseMutex(m_handle);
}

BOOL CMclMutex::release() {
    return ReleaseMutexObject(m_syncObject);
}
