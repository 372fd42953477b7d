// GetTempPathA and GetTempFileNameA: temporary files in the machine's "C:\Windows\Temp".
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "boundary.h"
#include "file_object.h"
#include "sx/clock.h"
#include "win32/files.h"

namespace {

constexpr char kTempPath[] = "C:\\Windows\\Temp\\";

// Where GetTempFileNameA starts looking for a free number; differs between processes and calls.
std::atomic<unsigned> g_next_unique{static_cast<unsigned>(::getpid()) * 2654435761u};

}  // namespace

extern "C" {

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  return sx::files::guarded<DWORD>(0, [&]() -> DWORD {
    std::error_code ec;
    std::filesystem::create_directories(sx::paths::to_host(kTempPath), ec);
    const DWORD length = sizeof(kTempPath) - 1;
    if (lpBuffer == nullptr || nBufferLength < length + 1) return length + 1;
    std::memcpy(lpBuffer, kTempPath, length + 1);
    SetLastError(ERROR_SUCCESS);
    return length;
  });
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                      LPSTR lpTempFileName) {
  return sx::files::guarded<UINT>(0, [&]() -> UINT {
    if (lpPathName == nullptr || lpTempFileName == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::string stem = lpPathName;
    if (!stem.empty() && stem.back() != '\\' && stem.back() != '/') stem += '\\';
    if (lpPrefixString != nullptr) stem += std::string(lpPrefixString).substr(0, 3);
    auto name_for = [&](unsigned number) {
      char hex[16];
      std::snprintf(hex, sizeof(hex), "%X", number & 0xFFFFu);
      return stem + hex + ".TMP";
    };
    auto give = [&](const std::string& name, UINT result) -> UINT {
      if (name.size() + 1 > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
      }
      std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
      SetLastError(ERROR_SUCCESS);
      return result;
    };
    if (uUnique != 0) return give(name_for(uUnique), uUnique);

    const unsigned start = g_next_unique.fetch_add(1) + static_cast<unsigned>(sx::clock::now_ms());
    for (unsigned i = 0; i < 0xFFFFu; ++i) {
      const unsigned number = ((start + i) % 0xFFFFu) + 1;  // 1..0xFFFF: 0 means "do not create"
      const std::string name = name_for(number);
      if (name.size() + 1 > MAX_PATH) return give(name, 0);
      std::filesystem::path host;
      if (!sx::files::host_of(name.c_str(), &host)) return 0;
      sx::files::OpenResult created =
          sx::files::open_host_file(host, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
      if (created.file) return give(name, number);
      if (created.error != ERROR_FILE_EXISTS) {
        SetLastError(created.error);
        return 0;
      }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
  });
}

}  // extern "C"
