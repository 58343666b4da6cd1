#pragma once
// Marks that running processes leave in the user's name space, so that a process starting later
// can tell which others run for the same purpose (the readers of one mailbox) and name them.
//
// A mark lasts exactly as long as the process that placed it: the process holds it locked, and
// the lock ends with the process however it ends, so a killed process is never found. Marks of
// ended processes are cleared away by whoever comes across them.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32.h"

// A process found by its mark.
struct MarkedProcess {
    DWORD processId = 0;
    std::string program;
};

// This process's mark under one group, held while the object lives. Belongs to the process that
// placed it: a forked child does not keep it, nor a program started by exec.
class ProcessMark {
  public:
    ProcessMark() = default;
    ProcessMark(const ProcessMark&) = delete;
    ProcessMark& operator=(const ProcessMark&) = delete;
    // Removes the mark.
    ~ProcessMark();

    // Marks this process under `group` (any bytes but NUL) as `program`, replacing a mark it
    // held before. Returns ERROR_SUCCESS or the Win32 code of the failure. `othersFound`, when
    // given, receives what FindMarkedProcesses() would have returned just before: of two
    // processes placing marks at once, the second always finds the first.
    DWORD place(std::string_view group, std::string_view program,
                std::vector<MarkedProcess>* othersFound = nullptr);
    // Removes the mark; nothing when none is placed.
    void remove();
    bool isPlaced() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
    int m_ownerPid = 0;
    std::string m_path;
};

// The running processes other than this one marked under `group`, in the order of their process
// ids. Empty when there are none or the name space cannot be read.
std::vector<MarkedProcess> FindMarkedProcesses(std::string_view group);
