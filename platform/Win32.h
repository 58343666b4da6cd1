#pragma once
// The operating-system services the transport, the client library and the viewer are written
// against: named kernel objects (mutex, semaphore, shared-memory section), waits, and the
// per-thread last-error value, with Win32 names, types, numbers and semantics.
//
// Named objects live in a per-user name space shared by all three kinds. An object exists while
// any handle to it is open in any process and disappears with the last handle, including when
// the last holder is killed. Every call is safe from any thread.

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using BYTE = std::uint8_t;
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCSTR = const char*;
using LPLONG = LONG*;
using SIZE_T = std::size_t;

struct SECURITY_ATTRIBUTES;  // only ever null here; accepted and ignored
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Error numbers (Win32 values).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;
constexpr DWORD ERROR_TIMEOUT = 1460;

// Wait results.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 128;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Section protection and view access.
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0xF001F;

// Longest object name accepted (Win32's MAX_PATH less the terminating NUL).
constexpr std::size_t kMaxObjectNameLength = 259;

DWORD GetLastError();
void SetLastError(DWORD error);

// A null or empty name gives an unnamed object private to the process. Opening an existing name
// leaves last-error ERROR_ALREADY_EXISTS; a name held by another kind of object fails with
// ERROR_INVALID_HANDLE.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount);

// Waits on a mutex or a semaphore; the time-out runs on the monotonic clock.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Extensions of our own, for a ring whose counts change only under its guard mutex.
// Waits until the semaphore's count is above zero without taking any of it: WAIT_OBJECT_0 or
// WAIT_TIMEOUT.
DWORD WaitForSemaphoreAvailable(HANDLE semaphore, DWORD milliseconds);
// ReleaseSemaphore in two halves, so that a count raised under a lock wakes its sleepers only
// after the lock is let go: the first raises the count and says whether sleepers are owed a
// wake, the second wakes them.
BOOL RaiseSemaphore(HANDLE semaphore, LONG releaseCount, BOOL* wakeOwed);
BOOL WakeSemaphoreSleepers(HANDLE semaphore);
// Reads the semaphore's current count; FALSE for a handle that is no semaphore.
BOOL GetSemaphoreCount(HANDLE semaphore, LPLONG count);
// The process whose thread owns the mutex, or 0 when it is free (or the handle is no mutex).
DWORD GetMutexOwnerProcessId(HANDLE mutex);

// Our own: a mutex or a semaphore found once from its handle, for paths that run per record. Each
// call below does what the handle call of the same name does, without finding the object behind
// the handle again. Valid while the handle it came from stays open.
struct SYNC_OBJECT;
using PSYNC_OBJECT = SYNC_OBJECT*;
// Null, with ERROR_INVALID_HANDLE, for a bad handle or a section.
PSYNC_OBJECT GetSyncObject(HANDLE handle);
DWORD WaitForSyncObject(PSYNC_OBJECT object, DWORD milliseconds);
BOOL ReleaseMutexObject(PSYNC_OBJECT mutex);
// Takes the mutex when it is free, in one atomic instruction: FALSE when anyone holds it, even
// an owner that has died (only a wait takes a mutex over from a dead owner).
BOOL TryTakeMutexObject(PSYNC_OBJECT mutex);
DWORD WaitForSemaphoreObjectAvailable(PSYNC_OBJECT semaphore, DWORD milliseconds);
// RaiseSemaphore; `previousCount`, when non-null, receives the count before the raise.
BOOL RaiseSemaphoreObject(PSYNC_OBJECT semaphore, LONG releaseCount, BOOL* wakeOwed,
                          LPLONG previousCount = nullptr);
BOOL WakeSemaphoreObjectSleepers(PSYNC_OBJECT semaphore);
// Sleeps about `microseconds` (under a second) while the count is zero, without letting
// releasers know that anyone waits: releases meanwhile make no wake call and do not end the
// nap. Returns at once when the count is above zero already. Afterwards WAIT_OBJECT_0 when the
// count is above zero, else WAIT_TIMEOUT; takes nothing either way.
DWORD NapOnSemaphoreObject(PSYNC_OBJECT semaphore, DWORD microseconds);
// For a semaphore whose count is only ever taken or raised by the holder of one mutex, called
// by that holder: the take (TRUE when a count was there) and the raise, each a plain store while
// the count is above zero (no waiter changes the word then, and no other process takes or
// raises meanwhile), and RaiseSemaphoreObject's atomic update from zero.
BOOL TakeSemaphoreObjectLocked(PSYNC_OBJECT semaphore);
BOOL RaiseSemaphoreObjectLocked(PSYNC_OBJECT semaphore, LONG releaseCount, BOOL* wakeOwed,
                                LPLONG previousCount = nullptr);
// The current count; 0 for an object that is no semaphore.
LONG GetSemaphoreObjectCount(PSYNC_OBJECT semaphore);

// Only INVALID_HANDLE_VALUE (no backing file) is supported as `file`.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytesToMap);
BOOL UnmapViewOfFile(LPCVOID baseAddress);

// Describes the mapped view that contains `address`: its base and the bytes from `address` to
// its end. Returns the bytes written to `buffer`, 0 when `address` lies in no view.
struct MEMORY_BASIC_INFORMATION {
    LPVOID BaseAddress;
    LPVOID AllocationBase;
    SIZE_T RegionSize;
};
SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* buffer, SIZE_T length);

BOOL CloseHandle(HANDLE handle);

void Sleep(DWORD milliseconds);

// Our own: makes fork() safe for these objects. Before a fork it waits for this layer's short
// locks and takes them; afterwards each process holds the objects independently. Idempotent; a
// layer above with fork handlers of its own calls it first, so that at fork its own run first
// (prepare handlers run in the reverse order of registration).
void RegisterForkHandlers();

// Our own: one sentence naming the cause of `error` from creating or opening a named object,
// where this layer knows more than the number: the private directory that was refused (its path,
// owner and mode), the name space's lock held by another process (for ERROR_TIMEOUT), the limit
// of open files. Empty otherwise.
std::string DescribeObjectError(DWORD error);

// Maps an errno value to the nearest Win32 error number.
DWORD win32ErrorFromErrno(int error);
