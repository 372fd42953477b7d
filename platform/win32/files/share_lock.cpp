#include "share_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "host_errors.h"
#include "sx/file_share.h"
#include "win32/errors.h"
#include "win32/files.h"

namespace sx::files {
namespace {

// Lock bytes, far past the end of any real file: one byte per access held and per access denied.
// A handle holds a shared lock on each byte that applies to it; a new handle tests the opposite
// bytes for a lock held by any other open file description.
constexpr off_t kLockBase = static_cast<off_t>(INT64_MAX & ~static_cast<std::int64_t>(0xFFFF));
enum LockByte : off_t {
  kHoldsRead = 0,
  kHoldsWrite = 1,
  kHoldsDelete = 2,
  kDeniesRead = 3,
  kDeniesWrite = 4,
  kDeniesDelete = 5,
};

// True when another open file description holds a lock on the byte; false when none does.
// Returns a host errno through `error` when the test itself fails.
bool locked_by_other(int fd, LockByte byte, int* error) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + byte;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
    *error = errno;
    return false;
  }
  return fl.l_type != F_UNLCK;
}

int hold(int fd, LockByte byte) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + byte;
  fl.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

}  // namespace

Access access_from_desired(DWORD desired) {
  Access a;
  a.read = (desired & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
  a.write = (desired & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  a.remove = (desired & (DELETE | GENERIC_ALL)) != 0;
  return a;
}

ShareGuard::ShareGuard(int fd) : fd_(fd), error_(ERROR_SUCCESS) {
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error_ = error_from_errno(errno, {});
    break;
  }
}

ShareGuard::~ShareGuard() {
  if (error_ == ERROR_SUCCESS) ::flock(fd_, LOCK_UN);
}

DWORD check_share(int fd, Access access, DWORD share_mode) {
  if (!access.any()) return ERROR_SUCCESS;
  struct Rule {
    bool applies;
    LockByte byte;
  };
  const Rule rules[] = {
      // What I ask for must not be denied by anyone...
      {access.read, kDeniesRead},
      {access.write, kDeniesWrite},
      {access.remove, kDeniesDelete},
      // ...and what I deny must not be held by anyone.
      {(share_mode & FILE_SHARE_READ) == 0, kHoldsRead},
      {(share_mode & FILE_SHARE_WRITE) == 0, kHoldsWrite},
      {(share_mode & FILE_SHARE_DELETE) == 0, kHoldsDelete},
  };
  for (const Rule& rule : rules) {
    if (!rule.applies) continue;
    int error = 0;
    const bool locked = locked_by_other(fd, rule.byte, &error);
    if (error != 0) return error_from_errno(error, {});
    if (locked) return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

DWORD record_share(int fd, Access access, DWORD share_mode) {
  if (!access.any()) return ERROR_SUCCESS;
  const struct {
    bool applies;
    LockByte byte;
  } marks[] = {
      {access.read, kHoldsRead},
      {access.write, kHoldsWrite},
      {access.remove, kHoldsDelete},
      {(share_mode & FILE_SHARE_READ) == 0, kDeniesRead},
      {(share_mode & FILE_SHARE_WRITE) == 0, kDeniesWrite},
      {(share_mode & FILE_SHARE_DELETE) == 0, kDeniesDelete},
  };
  for (const auto& mark : marks) {
    if (!mark.applies) continue;
    if (int error = hold(fd, mark.byte); error != 0) return error_from_errno(error, {});
  }
  return ERROR_SUCCESS;
}

}  // namespace sx::files

namespace sx::files {

DWORD hold_share_mode(int fd, DWORD desired_access, DWORD share_mode) {
  ShareGuard guard(fd);
  if (guard.error() != ERROR_SUCCESS) return guard.error();
  const Access access = access_from_desired(desired_access);
  if (DWORD error = check_share(fd, access, share_mode); error != ERROR_SUCCESS) return error;
  return record_share(fd, access, share_mode);
}

}  // namespace sx::files
