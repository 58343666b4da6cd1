#pragma once
#include "platform/Win32.h"

// Raises `errorCode` as an exception whose value is the bare 32-bit Win32 code (type DWORD).
// `sourceName` and `line` say where the failing check sits; they are not part of the value.
[[noreturn]] void raiseMclError(DWORD errorCode, const char* sourceName, int line);
