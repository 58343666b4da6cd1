#pragma once
// WaitForSingleObject over the waitable kinds: each kind's wait lives with its kind (Mutex.cpp,
// Semaphore.cpp), and ObjectWait.cpp chooses among them by the object's kind, so that the calls
// every kind shares (ObjectHandles) never reach up into a kind.
#include "platform/Win32.h"

namespace quorvane::platform {

// Waits at most `milliseconds` on the state of a mutex, or of a semaphore; returns as
// WaitForSingleObject does.
DWORD waitMutexState(void* state, DWORD milliseconds);
DWORD waitSemaphoreState(void* state, DWORD milliseconds);

}  // namespace quorvane::platform
