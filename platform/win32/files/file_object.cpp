#include "file_object.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host_errors.h"
#include "sx/clock.h"
#include "win32/errors.h"
#include "win32/files.h"

namespace sx::files {

bool is_read_only_mode(unsigned mode) { return (mode & S_IWUSR) == 0; }

DWORD attributes_of(unsigned mode) {
  if (S_ISDIR(mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_ARCHIVE | (is_read_only_mode(mode) ? FILE_ATTRIBUTE_READONLY : 0);
}

FileObject::~FileObject() {
  stamp_if_modified();
  ::close(fd_);
}

void FileObject::stamp_if_modified() {
  if (!modified_.exchange(false)) return;
  const std::int64_t ms = sx::clock::wall_unix_ms();
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ms / 1000);
  times[1].tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  ::futimens(fd_, times);
}

namespace {

OpenResult fail(DWORD error) {
  OpenResult r;
  r.error = error;
  return r;
}

bool creates(DWORD disposition) {
  return disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
}

}  // namespace

OpenResult open_host_file(const std::filesystem::path& host, DWORD desired_access, DWORD share_mode,
                          DWORD disposition, DWORD attributes) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const Access access = access_from_desired(desired_access);
  if (disposition == TRUNCATE_EXISTING && !access.write) return fail(ERROR_INVALID_PARAMETER);
  const bool may_truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;

  // Always readable (share-mode locks need it; the machine runs as root, so this never stops an
  // open the Windows rules allow); writable when the handle writes or the open truncates.
  const int base_flags =
      O_CLOEXEC | O_NONBLOCK | O_NOCTTY | ((access.write || may_truncate) ? O_RDWR : O_RDONLY);
  mode_t new_mode = 0666;
  if (attributes & FILE_ATTRIBUTE_READONLY) new_mode = 0444;

  int fd = -1;
  bool existed = false;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    if (creates(disposition)) {
      fd = ::open(host.c_str(), base_flags | O_CREAT | O_EXCL, new_mode);
      if (fd >= 0) break;
      if (errno != EEXIST) return fail(error_from_errno(errno, host));
      if (disposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
    }
    fd = ::open(host.c_str(), base_flags);
    if (fd >= 0) {
      existed = true;
      break;
    }
    // Removed between the two opens: try creating again.
    if (errno == ENOENT && creates(disposition)) continue;
    if (errno == EISDIR) return fail(ERROR_ACCESS_DENIED);
    return fail(error_from_errno(errno, host));
  }
  if (fd < 0) return fail(ERROR_ACCESS_DENIED);
  auto file = std::make_shared<FileObject>(fd, access);  // owns fd from here on

  struct stat st;
  if (::fstat(fd, &st) != 0) return fail(error_from_errno(errno, host));
  if (!S_ISREG(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  if (existed && is_read_only_mode(st.st_mode) && (access.write || access.remove || may_truncate)) {
    return fail(ERROR_ACCESS_DENIED);
  }

  const bool truncates = existed && may_truncate;
  {
    ShareGuard guard(fd);
    if (guard.error() != ERROR_SUCCESS) return fail(guard.error());
    Access checked = access;
    checked.write =
        checked.write || truncates;  // overwriting is writing, whatever the handle asked
    if (DWORD error = check_share(fd, checked, share_mode); error != ERROR_SUCCESS) {
      return fail(error);
    }
    if (DWORD error = record_share(fd, access, share_mode); error != ERROR_SUCCESS) {
      return fail(error);
    }
    if (truncates && ::ftruncate(fd, 0) != 0) return fail(error_from_errno(errno, host));
  }
  if (truncates || !existed) file->mark_modified();

  OpenResult result;
  result.file = std::move(file);
  result.existed = existed;
  return result;
}

}  // namespace sx::files
