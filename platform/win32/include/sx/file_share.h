// Windows share modes for files that a stand-in keeps open with host calls (Outlook's store files):
// the file then counts as open the way CreateFileA would have opened it, for every CreateFileA,
// DeleteFileA and MoveFile(Ex)A of every process of the machine (win32/files.h explains the
// scheme).
#pragma once

#include "win32/types.h"

namespace sx::files {

// Makes the open host file descriptor `fd` (opened for reading, or reading and writing) hold the
// access `desired_access` (GENERIC_READ, GENERIC_WRITE, DELETE...) with the share mode `share_mode`
// (FILE_SHARE_*) until `fd` is closed. ERROR_SUCCESS, ERROR_SHARING_VIOLATION when another handle
// of the file does not fit (nothing is recorded then), or another Windows code for a host failure.
// Thread-safe.
DWORD hold_share_mode(int fd, DWORD desired_access, DWORD share_mode);

}  // namespace sx::files
