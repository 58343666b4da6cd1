#pragma once
// The names and numbers every Quorvane process must agree on: traced programs, the viewer and
// the tools. Written here once.
#include <cstdint>

namespace quorvane {

// The trace mailbox: its name unless the environment variable names another, and its slots.
inline constexpr const char* kDefaultMailboxName = "QuorvaneTraceMailbox";
inline constexpr const char* kMailboxNameVariable = "QUORVANE_MAILBOX";
inline constexpr std::uint32_t kMailSlots = 32768;
// The mutex a running viewer holds.
inline constexpr const char* kPresenceMutexName = "QuorvaneMutex_Alive";
// The flag a viewer sets while it runs: a value in the user's settings store.
inline constexpr const char* kRegistryKey = "Software\\Quorvane";
inline constexpr const char* kRegistryValue = "ViewerRunning";

}  // namespace quorvane
