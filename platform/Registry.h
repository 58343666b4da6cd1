#pragma once
// A small file-backed registry with the Win32 calls the viewer and the client library use.
// HKEY_CURRENT_USER lives under $XDG_CONFIG_HOME/quorvane/registry (default ~/.config); a key is
// a directory and a value is one small human-readable text file, replaced atomically so that a
// reader never sees half a value. Calls return Win32 error numbers (ERROR_SUCCESS on success).

#include "platform/Win32.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
using REGSAM = DWORD;

inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                     LPDWORD disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegCloseKey(HKEY key);
