#include "win32/errors.h"

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}

extern "C" {
DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD code) { t_last_error = code; }
}
