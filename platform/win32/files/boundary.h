// The exception wall of the extern "C" functions: nothing escapes to a caller written for Windows.
#pragma once

#include <filesystem>
#include <new>

#include "sx/paths.h"
#include "win32/errors.h"

namespace sx::files {

// Runs `body`; an exception becomes `on_exception` with ERROR_NOT_ENOUGH_MEMORY (std::bad_alloc) or
// ERROR_INVALID_FUNCTION (anything else) as the last error.
template <class R, class F>
R guarded(R on_exception, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    SetLastError(ERROR_INVALID_FUNCTION);
  }
  return on_exception;
}

// Maps a caller's Windows path; false with the last error set when it is null or refused.
inline bool host_of(const char* windows_path, std::filesystem::path* host) {
  if (windows_path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  sx::paths::Mapped mapped = sx::paths::map(windows_path);
  if (mapped.error != ERROR_SUCCESS) {
    SetLastError(mapped.error);
    return false;
  }
  *host = std::move(mapped.host);
  return true;
}

}  // namespace sx::files
