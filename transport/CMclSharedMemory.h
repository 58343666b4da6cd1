#pragma once
#include "platform/Win32.h"

// A named shared-memory section, zero-filled when created, mapped whole into this process.
class CMclSharedMemory {
  public:
    CMclSharedMemory(DWORD size, LPCSTR name, LPSECURITY_ATTRIBUTES securityAttributes = nullptr);
    CMclSharedMemory(const CMclSharedMemory&) = delete;
    CMclSharedMemory& operator=(const CMclSharedMemory&) = delete;
    virtual ~CMclSharedMemory();

    void* getView() const { return m_view; }
    bool isCreator() const { return m_isCreator; }
    DWORD getStatus() const { return m_status; }

  private:
    void* m_view = nullptr;
    HANDLE m_mapping = nullptr;
    bool m_isCreator = false;
    DWORD m_status = 0;
};
