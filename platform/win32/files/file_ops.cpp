// Operations on files and folders by name: delete, move, copy, folders, attributes.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boundary.h"
#include "file_object.h"
#include "host_errors.h"
#include "share_lock.h"
#include "sx/kill_point.h"
#include "win32/files.h"

namespace sx::files {
namespace {

namespace fs = std::filesystem;

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Delete access to an existing file, as DeleteFileA and MoveFileExA need it: an open of the file
// that holds its share guard, so that no handle can be opened between the check and the removal.
class DeleteIntent {
 public:
  explicit DeleteIntent(const fs::path& host)
      : fd_(::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
    if (fd_ >= 0) guard_ = std::make_unique<ShareGuard>(fd_);
  }
  ~DeleteIntent() {
    guard_.reset();
    if (fd_ >= 0) ::close(fd_);
  }
  DeleteIntent(const DeleteIntent&) = delete;
  DeleteIntent& operator=(const DeleteIntent&) = delete;

  // ERROR_SUCCESS when no other handle denies delete access. A file this process cannot open for
  // reading (never the case as root) is not checked.
  DWORD check() const {
    if (fd_ < 0) return ERROR_SUCCESS;
    if (guard_->error() != ERROR_SUCCESS) return guard_->error();
    Access remove;
    remove.remove = true;
    return check_share(fd_, remove, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  }

 private:
  int fd_;
  std::unique_ptr<ShareGuard> guard_;
};

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool before(const struct stat& a, const struct stat& b) {
  return a.st_dev != b.st_dev ? a.st_dev < b.st_dev : a.st_ino < b.st_ino;
}

// The last component of a Windows path as typed, with trailing dots and spaces dropped.
std::string typed_last_component(std::string_view windows_path) {
  while (!windows_path.empty() && (windows_path.back() == '\\' || windows_path.back() == '/')) {
    windows_path.remove_suffix(1);
  }
  const std::size_t cut = windows_path.find_last_of("\\/:");
  std::string_view last =
      cut == std::string_view::npos ? windows_path : windows_path.substr(cut + 1);
  while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.remove_suffix(1);
  return std::string(last);
}

int rename_no_replace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE: check, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

BOOL move_file(LPCSTR existing, LPCSTR new_name, DWORD flags) {
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) return fail(ERROR_INVALID_PARAMETER);
  fs::path from;
  fs::path to;
  if (!host_of(existing, &from) || !host_of(new_name, &to)) return FALSE;
  struct stat from_st;
  if (::lstat(from.c_str(), &from_st) != 0) return fail(error_from_errno(errno, from));
  struct stat to_st;
  const bool target_exists = ::lstat(to.c_str(), &to_st) == 0;

  if (target_exists && same_file(from_st, to_st)) {
    // The new name reached the same file ignoring case: a rename that changes only the case.
    const std::string typed = typed_last_component(new_name);
    const fs::path renamed = to.parent_path() / typed;
    if (typed.empty() || renamed == from) return succeed();
    if (::rename(from.c_str(), renamed.c_str()) != 0) return fail(error_from_errno(errno, from));
    return succeed();
  }
  if (target_exists) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(to_st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(to_st.st_mode) && is_read_only_mode(to_st.st_mode)) {
      return fail(ERROR_ACCESS_DENIED);
    }
  }

  // Take the delete intents of both files in a fixed order, so that two opposite moves cannot
  // wait for each other.
  std::optional<DeleteIntent> first;
  std::optional<DeleteIntent> second;
  const bool source_checked = S_ISREG(from_st.st_mode);
  const bool target_checked = target_exists && S_ISREG(to_st.st_mode);
  if (source_checked && target_checked && before(to_st, from_st)) {
    first.emplace(to);
    second.emplace(from);
  } else {
    if (source_checked) first.emplace(from);
    if (target_checked) second.emplace(to);
  }
  for (auto* intent : {&first, &second}) {
    if (*intent) {
      if (DWORD error = (*intent)->check(); error != ERROR_SUCCESS) return fail(error);
    }
  }

  int error = 0;
  if (target_exists) {
    error = ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  } else {
    error = rename_no_replace(from, to);
  }
  if (error == EEXIST) return fail(ERROR_ALREADY_EXISTS);
  if (error == ENOTDIR || error == EISDIR) return fail(ERROR_ACCESS_DENIED);
  if (error != 0) return fail(error_from_errno(error, error == ENOENT ? to : from));
  return succeed();
}

BOOL copy_file(LPCSTR existing, LPCSTR new_name, BOOL fail_if_exists) {
  fs::path from;
  fs::path to;
  if (!host_of(existing, &from) || !host_of(new_name, &to)) return FALSE;
  struct stat from_st;
  struct stat to_st;
  if (::stat(from.c_str(), &from_st) == 0 && ::stat(to.c_str(), &to_st) == 0 &&
      same_file(from_st, to_st)) {
    return fail(ERROR_SHARING_VIOLATION);  // a file cannot be copied onto itself
  }
  OpenResult source = open_host_file(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  if (!source.file) return fail(source.error);
  if (::fstat(source.file->fd(), &from_st) != 0) return fail(error_from_errno(errno, from));
  OpenResult target =
      open_host_file(to, GENERIC_WRITE, 0, fail_if_exists ? CREATE_NEW : CREATE_ALWAYS, 0);
  if (!target.file) return fail(target.error);

  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(source.file->fd(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(error_from_errno(errno, from));
    }
    if (n == 0) break;
    ssize_t written = 0;
    while (written < n) {
      const ssize_t w = ::write(target.file->fd(), buffer.data() + written, n - written);
      if (w < 0) {
        if (errno == EINTR) continue;
        return fail(error_from_errno(errno, to));
      }
      written += w;
    }
  }
  // The copy keeps the source's last-write time and read-only attribute, as on Windows.
  target.file->clear_modified();
  const timespec times[2] = {from_st.st_atim, from_st.st_mtim};
  ::futimens(target.file->fd(), times);
  if (is_read_only_mode(from_st.st_mode)) {
    struct stat st;
    if (::fstat(target.file->fd(), &st) == 0) ::fchmod(target.file->fd(), st.st_mode & ~0222);
  }
  return succeed();
}

}  // namespace
}  // namespace sx::files

using sx::files::fail;
using sx::files::guarded;
using sx::files::host_of;
using sx::files::succeed;
namespace fs = std::filesystem;

extern "C" {

BOOL DeleteFileA(LPCSTR lpFileName) {
  return guarded(FALSE, [&]() -> BOOL {
    fs::path host;
    if (!host_of(lpFileName, &host)) return FALSE;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return fail(sx::files::error_from_errno(errno, host));
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode)) {
      if (sx::files::is_read_only_mode(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
      sx::files::DeleteIntent intent(host);
      if (DWORD error = intent.check(); error != ERROR_SUCCESS) return fail(error);
      if (::unlink(host.c_str()) != 0) return fail(sx::files::error_from_errno(errno, host));
      return succeed();
    }
    if (::unlink(host.c_str()) != 0) return fail(sx::files::error_from_errno(errno, host));
    return succeed();
  });
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return guarded(FALSE, [&]() -> BOOL {
    sx::kill_points::pass("MoveFile");
    return sx::files::move_file(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
  });
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  return guarded(FALSE, [&]() -> BOOL {
    sx::kill_points::pass("MoveFile");
    return sx::files::move_file(lpExistingFileName, lpNewFileName, dwFlags);
  });
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return guarded(FALSE, [&]() -> BOOL {
    return sx::files::copy_file(lpExistingFileName, lpNewFileName, bFailIfExists);
  });
}

BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES*) {
  return guarded(FALSE, [&]() -> BOOL {
    fs::path host;
    if (!host_of(lpPathName, &host)) return FALSE;
    if (::mkdir(host.c_str(), 0777) != 0) {
      if (errno == ENOENT) return fail(ERROR_PATH_NOT_FOUND);
      return fail(sx::files::error_from_errno(errno, host));
    }
    return succeed();
  });
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  return guarded(FALSE, [&]() -> BOOL {
    fs::path host;
    if (!host_of(lpPathName, &host)) return FALSE;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return fail(sx::files::error_from_errno(errno, host));
    if (!S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
    if (sx::paths::to_windows(host).size() == 3) return fail(ERROR_ACCESS_DENIED);  // "X:\"
    if (::rmdir(host.c_str()) != 0) {
      if (errno == EEXIST) return fail(ERROR_DIR_NOT_EMPTY);
      return fail(sx::files::error_from_errno(errno, host));
    }
    return succeed();
  });
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  return guarded<DWORD>(INVALID_FILE_ATTRIBUTES, [&]() -> DWORD {
    fs::path host;
    if (!host_of(lpFileName, &host)) return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
      SetLastError(sx::files::error_from_errno(errno, host));
      return INVALID_FILE_ATTRIBUTES;
    }
    SetLastError(ERROR_SUCCESS);
    return sx::files::attributes_of(st.st_mode);
  });
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  return guarded(FALSE, [&]() -> BOOL {
    fs::path host;
    if (!host_of(lpFileName, &host)) return FALSE;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return fail(sx::files::error_from_errno(errno, host));
    if (S_ISREG(st.st_mode)) {
      const mode_t mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                              ? (st.st_mode & 07777 & ~0222)
                              : (st.st_mode & 07777) | S_IWUSR;
      if (::chmod(host.c_str(), mode) != 0) return fail(sx::files::error_from_errno(errno, host));
    }
    return succeed();
  });
}

}  // extern "C"
