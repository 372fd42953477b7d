// TEMPORARY: declarations of the Win32 calls the COM runtime makes (registry, modules, system
// message texts) while win32/registry.h and win32/module.h are still placeholders. The real
// definitions live in sxwin32. They are declared weak so that test programs link before they land;
// the runtime checks for their presence. Remove this header when the real headers are merged.
#pragma once

#include <cstdarg>

#include "win32/errors.h"
#include "win32/types.h"

#ifndef HKEY_CLASSES_ROOT
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#endif
#ifndef KEY_READ
#define KEY_READ 0x20019
#endif
#ifndef REG_SZ
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#endif
#ifndef FORMAT_MESSAGE_FROM_SYSTEM
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#endif

using FARPROC = INT_PTR (*)();

extern "C" {
__attribute__((weak)) LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM sam,
                                         PHKEY result);
__attribute__((weak)) LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                            LPBYTE data, LPDWORD size);
__attribute__((weak)) LONG RegCloseKey(HKEY key);
__attribute__((weak)) HMODULE LoadLibraryA(LPCSTR file_name);
__attribute__((weak)) FARPROC GetProcAddress(HMODULE module, LPCSTR name);
__attribute__((weak)) DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id,
                                           DWORD language_id, LPSTR buffer, DWORD size,
                                           va_list* arguments);
}

namespace sx::com::detail {
// True when the registry and module calls are present in this process.
inline bool win32_imports_present() {
  return &RegOpenKeyExA != nullptr && &RegQueryValueExA != nullptr && &RegCloseKey != nullptr &&
         &LoadLibraryA != nullptr && &GetProcAddress != nullptr;
}
inline bool format_message_present() { return &FormatMessageA != nullptr; }
}  // namespace sx::com::detail
