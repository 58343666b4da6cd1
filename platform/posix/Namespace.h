#pragma once
// The per-user name space of named kernel objects: one directory private to the user, one file
// per object, each file starting with a header page that carries the object's kind and full name.
//
// Lifetime: every open handle holds a shared flock on its object's file. Opening and closing
// serialise on the name space's lock (NamespaceLock.h). The last closer removes the file; an
// opener that finds a file nobody holds knows its holders died and creates the object afresh.
// Who counts as the last closer, across fork() and a program's own close() or dup2(), is
// HeldFiles.h's rule.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Win32.h"

namespace quorvane::platform {

enum class ObjectKind : std::uint32_t { Mutex = 1, Semaphore = 2, Section = 3 };

constexpr std::size_t kPageSize = 4096;
// Offset of the object's state (mutex or semaphore) inside the header page.
constexpr std::size_t kStateOffset = 2048;
// Longest name kept in a header (names may hold any byte but NUL).
constexpr std::size_t kMaxStoredNameLength = 1536;

// One process's hold on a named object's file.
struct NamedObjectFile {
    int fd = -1;
    void* headerPage = nullptr;     // the mapped header page (state at kStateOffset)
    std::uint64_t sectionSize = 0;  // for sections: the size as created
    std::string path;
    int ownerPid = 0;  // the process that holds the lock on its own description
    // The file the descriptor was opened as: a program may close it or dup2() over it.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Called on the fresh, zero-filled header page of a newly created object, before any other
// process can see it.
using StateInitializer = std::function<void(void* state)>;

// Creates the named object or opens the existing one. Returns ERROR_SUCCESS (created),
// ERROR_ALREADY_EXISTS (opened), or a Win32 error code. `sectionSize` is used only when a section
// is created.
DWORD createOrOpenNamed(ObjectKind kind, std::string_view name, std::uint64_t sectionSize,
                        const StateInitializer& initialize, NamedObjectFile& out);

// Creates an unnamed object private to this process, laid out like a named one.
DWORD createAnonymous(ObjectKind kind, std::uint64_t sectionSize,
                      const StateInitializer& initialize, NamedObjectFile& out);

// Gives up this process's hold; removes the object when it was the last holder.
void closeNamed(NamedObjectFile& file);

// Where the name-space directory of the current user is, without creating or checking it.
std::string namespaceDirectoryPath();

// Resolves and verifies the name-space directory for the current user (created on first use).
DWORD namespaceDirectory(std::string& directory);

}  // namespace quorvane::platform
