#include "transport/CMclSemaphore.h"

CMclSemaphore::CMclSemaphore(LONG initialCount, LONG maximumCount, LPCSTR name,
                             LPSECURITY_ATTRIBUTES securityAttributes) {
    adoptCreated(CreateSemaphoreA(securityAttributes, initialCount, maximumCount, name),
                 name != nullptr);
    resolveSyncObject();
}

CMclSemaphore::~CMclSemaphore() = default;

BOOL CMclSemaphore::release(LONG count, LONG* previousCount) {
    LONG previous = 0;
    BOOL released = ReleaseSemaphore(m_handle, count, &previous);
    if (released && previousCount != nullptr) *previousCount = previous;
    return released;
}

DWORD CMclSemaphore::waitUntilAvailable(DWORD milliseconds) const {
    return WaitForSemaphoreObjectAvailable(m_syncObject, milliseconds);
}

LONG CMclSemaphore::count() const {
    return GetSemaphoreObjectCount(m_syncObject);
}

bool CMclSemaphore::raise(LONG count, bool& wakeOwed, LONG* previousCount) {
    BOOL owed = FALSE;
    const bool raised = RaiseSemaphoreObject(m_syncObject, count, &owed, previousCount) != FALSE;
    wakeOwed = raised && owed != FALSE;
    return raised;
}
