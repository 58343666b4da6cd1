#include "bench/PrivateNameSpace.h"

#include <unistd.h>

#include <cstdlib>

namespace {
// Kernel objects under XDG_RUNTIME_DIR live in memory there, as they do in /run/user.
constexpr const char* kShmBase = "/dev/shm";
}  // namespace

PrivateNameSpace::PrivateNameSpace(const std::string& mailboxStem, bool ownRegistry)
    : m_runtime(kShmBase) {
    if (ownRegistry) m_config.emplace();
    if (!valid()) return;
    setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    if (m_config) setenv("XDG_CONFIG_HOME", m_config->path().c_str(), 1);
    setenv("QUORVANE_MAILBOX", (mailboxStem + "." + std::to_string(getpid())).c_str(), 1);
}
