// Windows error codes for host failures of the file functions.
#pragma once

#include <filesystem>

#include "win32/types.h"

namespace sx::files {

// ERROR_FILE_NOT_FOUND when the folder that should hold `host` exists, else ERROR_PATH_NOT_FOUND:
// Windows tells a missing file from a missing folder on the way to it.
DWORD missing_error(const std::filesystem::path& host);

// The Windows code for an errno value from an operation on `host` (ENOENT through missing_error).
DWORD error_from_errno(int error, const std::filesystem::path& host);

}  // namespace sx::files
