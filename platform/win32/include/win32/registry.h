// The Windows registry (ANSI functions of advapi32), as the system code calls it.
//
// The four root keys HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_USERS live
// in the machine root's "registry.reg", a REGEDIT4 export that a person can read and edit (format:
// docs in platform/win32/registry/README.md). Every change is written through to that file at once;
// every call first looks (one stat) whether another process changed the file and reloads it then.
//
// Thread-safe: any thread may call any function. A handle from RegOpenKey*/RegCreateKey* belongs to
// the process and stays valid until RegCloseKey. All functions return a Windows error code
// (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
// ERROR_KEY_DELETED, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_CANTWRITE when the file cannot be
// replaced, ERROR_NO_SYSTEM_RESOURCES when a change would make the file larger than 64 MiB, ...)
// and never throw. Key names, value names and texts are Windows-1252 bytes; names
// compare without regard to case.
#pragma once

#include "win32/errors.h"
#include "win32/types.h"

// Root keys (predefined handles; closing one is a harmless no-op).
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

// Value types.
#define REG_NONE 0ul
#define REG_SZ 1ul
#define REG_EXPAND_SZ 2ul
#define REG_BINARY 3ul
#define REG_DWORD 4ul
#define REG_DWORD_LITTLE_ENDIAN 4ul
#define REG_MULTI_SZ 7ul

// Access rights of a key handle.
#define KEY_QUERY_VALUE 0x0001ul
#define KEY_SET_VALUE 0x0002ul
#define KEY_CREATE_SUB_KEY 0x0004ul
#define KEY_ENUMERATE_SUB_KEYS 0x0008ul
#define KEY_NOTIFY 0x0010ul
#define KEY_CREATE_LINK 0x0020ul
#define KEY_READ 0x20019ul
#define KEY_WRITE 0x20006ul
#define KEY_EXECUTE 0x20019ul
#define KEY_ALL_ACCESS 0xF003Ful

// RegCreateKeyExA options and dispositions.
#define REG_OPTION_NON_VOLATILE 0x0ul
#define REG_CREATED_NEW_KEY 0x1ul
#define REG_OPENED_EXISTING_KEY 0x2ul

extern "C" {

// Opens `sub_key` under `key` with full access. A null or empty `sub_key` returns `key` itself.
// ERROR_FILE_NOT_FOUND when the key does not exist.
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Opens `sub_key` under `key` with the rights in `desired` (KEY_READ, KEY_WRITE, ...); a call that
// needs a right the handle lacks fails with ERROR_ACCESS_DENIED. An empty `sub_key` opens a new
// handle to `key`. ERROR_FILE_NOT_FOUND when the key does not exist.
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result);

// Opens or creates `sub_key` (and any missing keys on its path) with full access. A key name has 1
// to 255 characters and no control characters other than tab; a key lies at most 512 levels below
// its root (ERROR_BAD_PATHNAME otherwise).
LONG RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Opens or creates `sub_key`; `disposition` (may be null) tells REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY. Creating needs KEY_CREATE_SUB_KEY on `key`; `klass` and `security` are
// ignored; `options` other than REG_OPTION_NON_VOLATILE give ERROR_INVALID_PARAMETER.
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR klass, DWORD options,
                     REGSAM desired, _SECURITY_ATTRIBUTES* security, PHKEY result,
                     LPDWORD disposition);

// Reads value `name` (null or "" is the default value). `type` (may be null) receives its type.
// With `data` null, `*size` receives the size in bytes. When `*size` is too small: ERROR_MORE_DATA,
// `*size` = the size needed and `data` left untouched. REG_SZ sizes include the terminating NUL.
// ERROR_FILE_NOT_FOUND when the value does not exist.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);

// Writes value `name` (null or "" is the default value). REG_SZ and REG_EXPAND_SZ data get a
// terminating NUL when `size` leaves it out. Needs KEY_SET_VALUE.
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);

// Deletes value `name`. ERROR_FILE_NOT_FOUND when it does not exist. Needs KEY_SET_VALUE.
LONG RegDeleteValueA(HKEY key, LPCSTR name);

// Deletes `sub_key` and its values. ERROR_ACCESS_DENIED when it has subkeys; other handles open on
// it then fail with ERROR_KEY_DELETED.
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);

// Deletes `sub_key` with all its subkeys and values, in one change of the registry file. A null or
// empty `sub_key` deletes every subkey and value of `key` itself (which then needs KEY_SET_VALUE)
// and keeps the key. ERROR_FILE_NOT_FOUND when `sub_key` does not exist; handles open anywhere in
// the deleted tree then fail with ERROR_KEY_DELETED.
LONG RegDeleteTreeA(HKEY key, LPCSTR sub_key);

// Subkey number `index` in ascending name order (case-insensitive). `*name_size` is the buffer's
// size in characters; on success it receives the length without the NUL. ERROR_MORE_DATA when the
// name and its NUL do not fit (buffer untouched); ERROR_NO_MORE_ITEMS past the last subkey. The
// class is always empty and the last write time zero.
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                   LPSTR klass, LPDWORD klass_size, LPFILETIME last_write);

// Value number `index` in the order the values were first written. Name as RegEnumKeyExA; data as
// RegQueryValueExA. When either buffer is short: ERROR_MORE_DATA, neither buffer written, `*type`
// and `*data_size` (the size needed) set, `*name_size` unchanged. ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD data_size);

// Counts and longest lengths (characters without NUL for names, bytes for data) of a key. Every
// out pointer may be null. Class empty, security descriptor size 0, last write time zero.
LONG RegQueryInfoKeyA(HKEY key, LPSTR klass, LPDWORD klass_size, LPDWORD reserved, LPDWORD sub_keys,
                      LPDWORD max_sub_key_len, LPDWORD max_class_len, LPDWORD values,
                      LPDWORD max_value_name_len, LPDWORD max_value_len,
                      LPDWORD security_descriptor_size, LPFILETIME last_write);

// Reads the default value (REG_SZ) of `sub_key` (null or "": of `key`); a key without a default
// value reads as "" (size 1). ERROR_MORE_DATA as RegQueryValueExA.
LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, PLONG size);

// Creates `sub_key` when needed and sets its default value to the text `data` (`size` ignored).
// `type` must be REG_SZ.
LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD size);

// Closes a handle from RegOpenKey*/RegCreateKey*. ERROR_INVALID_HANDLE when it is not open.
LONG RegCloseKey(HKEY key);

}  // extern "C"
