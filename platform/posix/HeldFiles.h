#pragma once
// The named object files this process holds open, and the rule for when one may be removed.
//
// A holder's shared flock is a property of its open file description, which fork() shares and
// a program's close() or dup2() can take away, so neither a lock nor a descriptor number alone
// tells who holds a file. Three facts are kept per file instead: the device and inode it was
// opened as (a descriptor is used only while it still names them), the process that holds it,
// and whether a child forked since may still share its description. transport/LastHolder.md
// gives the whole rule and why it is sound.

#include "platform/posix/Namespace.h"

namespace quorvane::platform {

// Adds a newly opened named file; the first one installs the exit hook that removes the files
// this process is the last holder of when it ends without closing them.
void holdFile(NamedObjectFile* file);
// Forgets a file that is being closed.
void releaseHeldFile(NamedObjectFile* file);

// Whether `file.fd` is still the descriptor of the file it was opened as.
bool descriptorStillOurs(const NamedObjectFile& file);
// Whether this process alone may judge `file` by its own lock: it holds the file itself (not
// by inheritance) and no child forked while it was held still shares its description.
bool mayJudgeLastHolder(const NamedObjectFile& file);

// For the fork handlers. Before fork: counts the fork. In the child: gives each inherited file
// an open file description of its own, so parent and child hold the file independently from
// then on, and counts the child as settled when that worked for every file.
void lockHeldFilesForFork();
void unlockHeldFilesInParent();
void settleHeldFilesInChild();

}  // namespace quorvane::platform
