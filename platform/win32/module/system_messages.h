// The Windows system message texts that the system meets (FormatMessageA's FROM_SYSTEM table).
#pragma once

#include "win32/types.h"

namespace sx::modules {

// The text of a Win32 error code or HRESULT, without the trailing "\r\n"; null when there is none.
// An HRESULT_FROM_WIN32 value (0x8007xxxx) gives the text of Win32 code xxxx.
const char* system_message(DWORD code);

}  // namespace sx::modules
