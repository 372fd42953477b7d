// Windows share modes between the handles of one file, in this process and across the processes of
// the machine, recorded as OFD byte-range locks on the file itself (layout in share_lock.cpp; the
// scheme is described in win32/files.h).
#pragma once

#include "win32/types.h"

namespace sx::files {

// The data access a handle holds, as share modes see it.
struct Access {
  bool read = false;
  bool write = false;
  bool remove = false;  // DELETE
  bool any() const { return read || write || remove; }
};

// Access bits of a CreateFileA dwDesiredAccess value.
Access access_from_desired(DWORD desired_access);

// Makes checking and recording share modes on a file atomic: holds flock(LOCK_EX) on `fd` while it
// lives (a short wait while another thread or process checks the same file).
class ShareGuard {
 public:
  explicit ShareGuard(int fd);
  ~ShareGuard();
  ShareGuard(const ShareGuard&) = delete;
  ShareGuard& operator=(const ShareGuard&) = delete;
  // ERROR_SUCCESS, or the Windows code when the guard could not be taken.
  DWORD error() const { return error_; }

 private:
  int fd_;
  DWORD error_;
};

// With a ShareGuard held: ERROR_SUCCESS when a handle on `fd` asking for `access` with `share_mode`
// (FILE_SHARE_*) fits every other handle of the file, else ERROR_SHARING_VIOLATION (or a host
// error). An access of nothing always fits.
DWORD check_share(int fd, Access access, DWORD share_mode);

// With a ShareGuard held, after check_share: records the handle's access and share mode on `fd`'s
// open file description, until it is closed. Needs `fd` open for reading.
DWORD record_share(int fd, Access access, DWORD share_mode);

}  // namespace sx::files
