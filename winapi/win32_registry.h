// Registry and profile (INI file) functions, for POSIX builds.
// Included by winapi/win32.h; on Windows <windows.h> declares all of this.
//
// The registry lives in one text file per user:
//   $VAZUR_REGISTRY_FILE if set, else $XDG_CONFIG_HOME/vazur/registry,
//   else ~/.config/vazur/registry.
// Every predefined root is kept in that file. Each change rewrites it through
// a temporary file that replaces the old one only when fully on disk, under a
// lock shared by all processes, so a crash never leaves a torn store.
//
// Profile files are ordinary INI files; a write replaces the file the same
// way and keeps every other line (comments, blank and unknown lines) as it was.
// A relative file name is taken from the working directory.
#pragma once

#include "winapi/win32.h"

#ifndef _WIN32

#include <cstdint>

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))
#define HKEY_CURRENT_CONFIG (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000005u)))

// Value types
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

// Access rights of a key handle
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003Fu

#define REG_OPTION_NON_VOLATILE 0x0000u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Error codes the registry and profile functions report (beyond win32.h's)
#ifndef ERROR_HANDLE_DISK_FULL
#define ERROR_HANDLE_DISK_FULL 39u
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112u
#endif
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161u
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206u
#endif
#ifndef ERROR_BADDB
#define ERROR_BADDB 1009u
#endif
#ifndef ERROR_KEY_DELETED
#define ERROR_KEY_DELETED 1018u
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#endif

// Registry. The functions return an error code (ERROR_SUCCESS on success)
// and, like Windows, do not set the thread's last error.
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition);
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegFlushKey(HKEY key);
// Deletes a subkey that has no subkeys of its own.
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
// Names in the store's order; ERROR_NO_MORE_ITEMS past the last one.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                      LPDWORD classSize, void* lastWriteTime);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize);

// Profile (INI) files. Section and key names match ignoring ASCII case.
DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultValue, LPSTR returned, DWORD size,
                               LPCSTR fileName);
UINT GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, int defaultValue, LPCSTR fileName);
// A null value deletes the key; a null key name deletes the whole section.
// Names or values that would break the file's lines are refused
// (ERROR_INVALID_PARAMETER).
BOOL WritePrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR value, LPCSTR fileName);

#define RegCreateKeyEx RegCreateKeyExA
#define RegOpenKeyEx RegOpenKeyExA
#define RegDeleteKey RegDeleteKeyA
#define RegSetValueEx RegSetValueExA
#define RegQueryValueEx RegQueryValueExA
#define RegDeleteValue RegDeleteValueA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define GetPrivateProfileString GetPrivateProfileStringA
#define GetPrivateProfileInt GetPrivateProfileIntA
#define WritePrivateProfileString WritePrivateProfileStringA

#endif  // !_WIN32
