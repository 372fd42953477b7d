// The C runtime's file calls on Windows paths, over the Win32 file functions (see win32/crt.h).
#include "win32/crt.h"

#include <cstdio>

#include "boundary.h"
#include "win32/files.h"

namespace sx::files {
namespace {

// The Windows C runtime's mapping of a system error code to errno.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_ACCESS_DENIED:
      return EACCES;
  }
  // ERROR_WRITE_PROTECT (19) to ERROR_SHARING_BUFFER_EXCEEDED (36): sharing and lock violations.
  if (error >= 19 && error <= 36) return EACCES;
  return EINVAL;
}

int fail_with_last_error() {
  errno = errno_of(GetLastError());
  return -1;
}

bool is_host_path(const char* path) { return path != nullptr && path[0] == '/'; }

}  // namespace
}  // namespace sx::files

using sx::files::fail_with_last_error;
using sx::files::guarded;

extern "C" {

int _access(const char* path, int mode) {
  return guarded<int>(-1, [&]() -> int {
    if (path == nullptr || (mode & ~6) != 0) {
      errno = EINVAL;
      return -1;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail_with_last_error();
    // A folder may always be written; a read-only file may not.
    if ((mode & 2) && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      errno = EACCES;
      return -1;
    }
    return 0;
  });
}

int _chmod(const char* path, int mode) {
  return guarded<int>(-1, [&]() -> int {
    if (path == nullptr) {
      errno = EINVAL;
      return -1;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail_with_last_error();
    const DWORD wanted = (mode & _S_IWRITE) ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                                            : (attributes | FILE_ATTRIBUTE_READONLY);
    return SetFileAttributesA(path, wanted) ? 0 : fail_with_last_error();
  });
}

int _unlink(const char* path) {
  return guarded<int>(-1, [&]() -> int {
    if (path == nullptr) {
      errno = EINVAL;
      return -1;
    }
    return DeleteFileA(path) ? 0 : fail_with_last_error();
  });
}

int __wrap_rename(const char* old_name, const char* new_name) {
  if (sx::files::is_host_path(old_name) && sx::files::is_host_path(new_name)) {
    return std::rename(old_name, new_name);
  }
  return guarded<int>(-1, [&]() -> int {
    if (old_name == nullptr || new_name == nullptr) {
      errno = EINVAL;
      return -1;
    }
    return MoveFileExA(old_name, new_name, MOVEFILE_COPY_ALLOWED) ? 0 : fail_with_last_error();
  });
}

int __wrap_remove(const char* path) {
  if (sx::files::is_host_path(path)) return std::remove(path);
  return _unlink(path);
}

}  // extern "C"
