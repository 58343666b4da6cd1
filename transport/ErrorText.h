#pragma once
#include <string>

#include "platform/Win32.h"

// The system's sentence for a Win32 error number ("Access is denied."), or "Unknown error.".
const char* win32ErrorText(DWORD code);

// Why a mailbox could not be opened, for a person: the mailbox name, what the code means for a
// mailbox, and the code, e.g.
//   cannot open mailbox "x": the name is longer than 229 characters (error 206: The filename or
//   extension is too long.)
std::string describeMailboxFailure(const char* mailboxName, DWORD code);
