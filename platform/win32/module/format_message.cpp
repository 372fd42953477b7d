// FormatMessageA (system texts only), LocalAlloc / LocalFree, GetVersionExA.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../files/boundary.h"
#include "system_messages.h"
#include "win32/module.h"

using sx::files::guarded;

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, std::size_t uBytes) {
  void* memory = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                          : std::malloc(uBytes ? uBytes : 1);
  if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return static_cast<HLOCAL>(memory);
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(static_cast<void*>(hMem));
  return nullptr;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                     va_list*) {
  return guarded<DWORD>(0, [&]() -> DWORD {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) ||
        lpBuffer == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const char* text = sx::modules::system_message(dwMessageId);
    if (text == nullptr) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    const std::string message = std::string(text) + "\r\n";
    const auto length = static_cast<DWORD>(message.size());
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
      const std::size_t bytes = std::max<std::size_t>(length + 1, nSize);
      auto* memory = static_cast<char*>(static_cast<void*>(LocalAlloc(LMEM_FIXED, bytes)));
      if (memory == nullptr) return 0;
      std::memcpy(memory, message.c_str(), length + 1);
      *reinterpret_cast<LPSTR*>(lpBuffer) = memory;
    } else {
      if (nSize < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      std::memcpy(lpBuffer, message.c_str(), length + 1);
    }
    SetLastError(ERROR_SUCCESS);
    return length;
  });
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  return guarded(FALSE, [&]() -> BOOL {
    if (info == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    if (size == sizeof(OSVERSIONINFOEXA)) {
      auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
      ex->wServicePackMajor = 0;
      ex->wServicePackMinor = 0;
      ex->wSuiteMask = 0;
      ex->wProductType = VER_NT_WORKSTATION;
      ex->wReserved = 0;
    }
    return TRUE;
  });
}

}  // extern "C"
