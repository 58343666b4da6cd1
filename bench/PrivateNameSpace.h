#pragma once
#include <optional>
#include <string>

#include "bench/TempDirectory.h"

// The kernel objects and the trace mailbox of this process and its children, kept apart from any
// viewer the user runs: XDG_RUNTIME_DIR is a fresh directory in memory (under /dev/shm), and
// QUORVANE_MAILBOX names a mailbox of this process's own (`mailboxStem`.PID). With `ownRegistry`
// XDG_CONFIG_HOME is a fresh directory too, so the registry is private as well. Nothing is set
// unless every directory could be made.
class PrivateNameSpace {
  public:
    PrivateNameSpace(const std::string& mailboxStem, bool ownRegistry);

    bool valid() const { return m_runtime.valid() && (!m_config || m_config->valid()); }

  private:
    TempDirectory m_runtime;
    std::optional<TempDirectory> m_config;
};
