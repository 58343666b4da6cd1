#include "transport/CMclSharedMemory.h"

#include "transport/CMclError.h"

namespace {
constexpr const char* kSourceName = "CMclSharedMemory";
}  // namespace

CMclSharedMemory::CMclSharedMemory(DWORD size, LPCSTR name,
                                   LPSECURITY_ATTRIBUTES securityAttributes) {
    m_mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, securityAttributes, PAGE_READWRITE, 0, size, name);
    if (m_mapping == nullptr || m_mapping == INVALID_HANDLE_VALUE) {
        m_mapping = nullptr;
        m_status = GetLastError();
        raiseMclError(m_status, kSourceName, __LINE__);
    }
    m_status = GetLastError();
    m_isCreator = m_status != ERROR_ALREADY_EXISTS;
    m_view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (m_view == nullptr) {
        m_status = GetLastError();
        // The object is not constructed, so its destructor will not close the section.
        CloseHandle(m_mapping);
        m_mapping = nullptr;
        raiseMclError(m_status, kSourceName, __LINE__);
    }
}

CMclSharedMemory::~CMclSharedMemory() {
    if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
        m_view = nullptr;
    }
    if (m_mapping != nullptr) CloseHandle(m_mapping);
}
