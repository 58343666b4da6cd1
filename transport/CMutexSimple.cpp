#include "transport/CMutexSimple.h"

CMutexSimple::~CMutexSimple() {
    releaseMutex();
}

BOOL CMutexSimple::getMutex(const char* name) {
    releaseMutex();
    if (name == nullptr) return FALSE;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) return FALSE;
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return FALSE;
    }
    m_handle = mutex;
    return TRUE;
}

BOOL CMutexSimple::releaseMutex() {
    if (m_handle == nullptr) return FALSE;
    const BOOL released = ReleaseMutex(m_handle);
    CloseHandle(m_handle);
    m_handle = nullptr;
    return released;
}
