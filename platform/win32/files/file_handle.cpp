// CreateFileA and the functions that work on an open file handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "boundary.h"
#include "file_object.h"
#include "file_time.h"
#include "host_errors.h"
#include "sx/kill_point.h"
#include "win32/files.h"

namespace sx::files {
namespace {

std::shared_ptr<FileObject> file_of(HANDLE handle) {
  auto file = sx::handles::get<FileObject>(handle);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace
}  // namespace sx::files

using sx::files::FileObject;
using sx::files::guarded;

extern "C" {

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES*, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
  return guarded(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    std::filesystem::path host;
    if (!sx::files::host_of(lpFileName, &host)) return INVALID_HANDLE_VALUE;
    sx::files::OpenResult opened = sx::files::open_host_file(
        host, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    if (!opened.file) {
      SetLastError(opened.error);
      return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = sx::handles::insert(std::move(opened.file));
    const bool reports_existing = opened.existed && (dwCreationDisposition == CREATE_ALWAYS ||
                                                     dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reports_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
  });
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, OVERLAPPED* lpOverlapped) {
  return guarded(FALSE, [&]() -> BOOL {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) {
      return sx::files::fail(ERROR_INVALID_PARAMETER);
    }
    if (!file->access().read) return sx::files::fail(ERROR_ACCESS_DENIED);
    auto* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
      const ssize_t n = ::read(file->fd(), out + done, nNumberOfBytesToRead - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
        return sx::files::fail(sx::files::error_from_errno(errno, {}));
      }
      if (n == 0) break;  // end of file
      done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    return TRUE;
  });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, OVERLAPPED* lpOverlapped) {
  return guarded(FALSE, [&]() -> BOOL {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) {
      return sx::files::fail(ERROR_INVALID_PARAMETER);
    }
    if (!file->access().write) return sx::files::fail(ERROR_ACCESS_DENIED);
    const auto* in = static_cast<const char*>(lpBuffer);
    if (sx::kill_points::due("WriteFile-torn")) {
      if (::write(file->fd(), in, nNumberOfBytesToWrite / 2) < 0) {
        // dying anyway
      }
      sx::kill_points::kill_now();
    }
    sx::kill_points::pass("WriteFile");
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
      const ssize_t n = ::write(file->fd(), in + done, nNumberOfBytesToWrite - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (done > 0) file->mark_modified();
        if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
        return sx::files::fail(sx::files::error_from_errno(errno, {}));
      }
      done += static_cast<DWORD>(n);
    }
    if (done > 0) file->mark_modified();
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    return TRUE;
  });
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
  return guarded<DWORD>(INVALID_SET_FILE_POINTER, [&]() -> DWORD {
    auto file = sx::files::file_of(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;
    std::int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
      distance = static_cast<std::int64_t>(
          (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*lpDistanceToMoveHigh)) << 32) |
          static_cast<std::uint32_t>(lDistanceToMove));
    }
    std::int64_t origin = 0;
    switch (dwMoveMethod) {
      case FILE_BEGIN:
        break;
      case FILE_CURRENT:
        origin = ::lseek(file->fd(), 0, SEEK_CUR);
        break;
      case FILE_END: {
        struct stat st;
        origin = ::fstat(file->fd(), &st) == 0 ? st.st_size : -1;
        break;
      }
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (origin < 0) {
      SetLastError(sx::files::error_from_errno(errno, {}));
      return INVALID_SET_FILE_POINTER;
    }
    if ((distance > 0 && origin > INT64_MAX - distance) || origin + distance < 0) {
      SetLastError(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
    const std::int64_t target = origin + distance;
    if (::lseek(file->fd(), target, SEEK_SET) < 0) {
      SetLastError(sx::files::error_from_errno(errno, {}));
      return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
      *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    }
    const auto low = static_cast<DWORD>(static_cast<std::uint64_t>(target) & 0xFFFFFFFFu);
    SetLastError(ERROR_SUCCESS);
    return low;
  });
}

BOOL SetEndOfFile(HANDLE hFile) {
  return guarded(FALSE, [&]() -> BOOL {
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    if (!file->access().write) return sx::files::fail(ERROR_ACCESS_DENIED);
    const off_t position = ::lseek(file->fd(), 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(file->fd(), position) != 0) {
      return sx::files::fail(sx::files::error_from_errno(errno, {}));
    }
    file->mark_modified();
    return TRUE;
  });
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  return guarded<DWORD>(INVALID_FILE_SIZE, [&]() -> DWORD {
    auto file = sx::files::file_of(hFile);
    if (!file) return INVALID_FILE_SIZE;
    struct stat st;
    if (::fstat(file->fd(), &st) != 0) {
      SetLastError(sx::files::error_from_errno(errno, {}));
      return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
  });
}

BOOL FlushFileBuffers(HANDLE hFile) {
  return guarded(FALSE, [&]() -> BOOL {
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    if (!file->access().write) return sx::files::fail(ERROR_ACCESS_DENIED);
    file->stamp_if_modified();
    if (::fsync(file->fd()) != 0) return sx::files::fail(sx::files::error_from_errno(errno, {}));
    return TRUE;
  });
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime) {
  return guarded(FALSE, [&]() -> BOOL {
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    file->stamp_if_modified();
    struct statx info {};
    if (::statx(file->fd(), "", AT_EMPTY_PATH, STATX_BTIME | STATX_ATIME | STATX_MTIME, &info) !=
        0) {
      return sx::files::fail(sx::files::error_from_errno(errno, {}));
    }
    const FILETIME written =
        sx::files::filetime_from_unix_ns(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    if (lpLastWriteTime) *lpLastWriteTime = written;
    if (lpLastAccessTime) {
      *lpLastAccessTime =
          sx::files::filetime_from_unix_ns(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
    }
    if (lpCreationTime) {
      *lpCreationTime =
          (info.stx_mask & STATX_BTIME)
              ? sx::files::filetime_from_unix_ns(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
              : written;
    }
    return TRUE;
  });
}

BOOL SetFileTime(HANDLE hFile, const FILETIME*, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  return guarded(FALSE, [&]() -> BOOL {
    auto file = sx::files::file_of(hFile);
    if (!file) return FALSE;
    if (!file->access().write) return sx::files::fail(ERROR_ACCESS_DENIED);
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (lpLastAccessTime) times[0] = sx::files::timespec_from_filetime(*lpLastAccessTime);
    if (lpLastWriteTime) {
      file->clear_modified();  // a pending stamp must not overwrite the time set here
      times[1] = sx::files::timespec_from_filetime(*lpLastWriteTime);
    }
    if (::futimens(file->fd(), times) != 0) {
      return sx::files::fail(sx::files::error_from_errno(errno, {}));
    }
    return TRUE;
  });
}

}  // extern "C"
