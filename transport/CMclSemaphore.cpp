#include "transport/CMclSemaphore.h"

CMclSemaphore::CMclSemaphore(LONG initialCount, LONG maximumCount, LPCSTR name,
                             LPSECURITY_ATTRIBUTES securityAttributes) {
    adoptCreated(CreateSemaphoreA(securityAttributes, initialCount, maximumCount, name),
                 name != nullptr);
}

CMclSemaphore::~CMclSemaphore() = default;

BOOL CMclSemaphore::release(LONG count, LONG* previousCount) {
    LONG previous = 0;
    BOOL released = ReleaseSemaphore(m_handle, count, &previous);
    if (released && previousCount != nullptr) *previousCount = previous;
    return released;
}

DWORD CMclSemaphore::waitUntilAvailable(DWORD milliseconds) const {
    return WaitForSemaphoreAvailable(m_handle, milliseconds);
}

LONG CMclSemaphore::count() const {
    LONG count = 0;
    return GetSemaphoreCount(m_handle, &count) ? count : 0;
}

bool CMclSemaphore::raise(LONG count, bool& wakeOwed) {
    BOOL owed = FALSE;
    const bool raised = RaiseSemaphore(m_handle, count, &owed) != FALSE;
    wakeOwed = raised && owed != FALSE;
    return raised;
}
