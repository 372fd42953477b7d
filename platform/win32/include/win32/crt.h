// The C runtime's file calls on Windows paths, as the Windows C runtime makes them: each goes
// through the Win32 file functions of the machine (win32/files.h: sharing modes, read-only files)
// and turns their error into errno the runtime's way:
//   ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_NETPATH ... -> ENOENT (2)
//   ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION (a file another program holds open with a share
//     mode that forbids it), ERROR_LOCK_VIOLATION ...                 -> EACCES (13)
//   ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS                           -> EEXIST (17)
//   ERROR_NOT_SAME_DEVICE -> EXDEV, ERROR_DIR_NOT_EMPTY -> ENOTEMPTY, anything else -> EINVAL (22)
// errno takes the host's constants, which for these codes are the Windows runtime's numbers too.
//
// `rename` and `remove` carry the names <stdio.h> gives them on the host. A program built as for
// Windows reaches these versions by linking with sx_windows_crt() (cmake/SxHelpers.cmake), which
// routes its calls of rename and remove to __wrap_rename and __wrap_remove. A path that starts with
// '/' is a host path (test frameworks linked into the same program remove their temporary files)
// and goes to the host's call unchanged. Thread-safe.
#pragma once

#include <cerrno>
#include <cstdio>

#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

extern "C" {

// mode 0: exists; 2: may be written (not read-only); 4: may be read; 6: both. 0, or -1 with errno
// ENOENT, EACCES (read-only for mode 2 or 6) or EINVAL (another mode).
int _access(const char* path, int mode);
// _S_IWRITE in `mode` clears the read-only attribute, its absence sets it. 0, or -1 with errno.
int _chmod(const char* path, int mode);
// Deletes a file (as remove). 0, or -1 with errno.
int _unlink(const char* path);

// rename: moves a file or folder; an existing new name fails with EEXIST, a file held open without
// delete sharing with EACCES, a missing one with ENOENT. remove: deletes a file.
int __wrap_rename(const char* old_name, const char* new_name);
int __wrap_remove(const char* path);

}  // extern "C"
