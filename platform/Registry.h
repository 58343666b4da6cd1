#pragma once
// A small file-backed registry with the Win32 calls the viewer and the client library use.
// HKEY_CURRENT_USER lives under $XDG_CONFIG_HOME/quorvane/registry (default ~/.config); a key is
// a directory and a value is one small human-readable text file, replaced atomically so that a
// reader never sees half a value. Calls return Win32 error numbers (ERROR_SUCCESS on success).
//
// On disk:
// - A subkey path "Software\\Quorvane" is the directory Software/Quorvane below its parent key.
//   Empty components, "." and ".." are refused with ERROR_INVALID_PARAMETER.
// - Key and value names are kept as they are, except that bytes other than letters, digits,
//   '-', '_', ' ' and a '.' that does not start the name are written as "%XX" (two hex digits).
//   The unnamed (default) value is the file "@". Names are case-sensitive here.
// - A value file holds one line: "dword:0000002a" (REG_DWORD of 4 bytes), "sz:<text>" (REG_SZ;
//   '\\', newlines and other control bytes escaped as "\\\\", "\\n", "\\xNN"), "hex:01,ff"
//   (REG_BINARY) or "hex(N):..." (any other type N, or a REG_DWORD not 4 bytes long).
// - A REG_SZ reads back with exactly one terminating NUL, whether or not it was written with one.
// - A value file that does not parse reads as absent (ERROR_FILE_NOT_FOUND); the next write
//   replaces it.
// - A key and a value with the same name under one key cannot both exist: creating the one where
//   the other is fails with ERROR_ACCESS_DENIED.

#include "platform/Win32.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
using REGSAM = DWORD;

inline const HKEY HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Access rights checked on a key handle: reading values needs KEY_QUERY_VALUE, writing needs
// KEY_SET_VALUE (ERROR_ACCESS_DENIED otherwise). KEY_READ, KEY_WRITE and KEY_ALL_ACCESS carry
// the corresponding bits, as on Win32.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Creates the key `subKey` below `key` (every missing level), or opens it, and returns a new
// handle in `*result`; `*disposition`, when given, says REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY. An empty `subKey` opens `key` itself. Only non-volatile keys exist.
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                     LPDWORD disposition);
// Reads a value. With `data` null and `dataSize` given, returns ERROR_SUCCESS and the size; with
// a buffer too small, returns ERROR_MORE_DATA and sets `*dataSize` to the size needed.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
// Writes a value atomically: a reader sees either the old or the new value, never a mixture.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
// Closes a handle returned by RegCreateKeyExA; closing a predefined key succeeds and does nothing.
LONG RegCloseKey(HKEY key);
