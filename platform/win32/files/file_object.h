// The kernel object behind a file handle of CreateFileA, and the opening of host files that
// CreateFileA, CopyFileA and GetTempFileNameA share.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>

#include "share_lock.h"
#include "sx/handles.h"
#include "win32/types.h"

namespace sx::files {

// An open file: its own host descriptor (and so its own open file description, which carries the
// share-mode locks), the access it was opened with, and whether writes await a last-write stamp.
// Thread-safe: the descriptor is used through read/write/lseek only.
class FileObject : public sx::handles::Object {
 public:
  FileObject(int fd, Access access) : fd_(fd), access_(access) {}
  ~FileObject() override;  // stamps pending writes, then closes the descriptor (dropping its locks)

  int fd() const { return fd_; }
  const Access& access() const { return access_; }

  // A write happened: the last-write time becomes the machine clock's when next asked or on close.
  void mark_modified() { modified_.store(true); }
  // An explicit time was set: forget the pending stamp.
  void clear_modified() { modified_.store(false); }
  // Applies the pending stamp now.
  void stamp_if_modified();

 private:
  int fd_;
  Access access_;
  std::atomic<bool> modified_{false};
};

struct OpenResult {
  std::shared_ptr<FileObject> file;  // null on failure
  DWORD error = 0;                   // Windows code on failure
  bool existed = false;              // the file was there before (for ERROR_ALREADY_EXISTS)
};

// Opens `host` as CreateFileA does (see win32/files.h): disposition, read-only enforcement, share
// modes. `attributes` only matters for FILE_ATTRIBUTE_READONLY on a new file.
OpenResult open_host_file(const std::filesystem::path& host, DWORD desired_access, DWORD share_mode,
                          DWORD disposition, DWORD attributes);

// Whether host permission bits say "read-only" (the owner's write bit is off).
bool is_read_only_mode(unsigned mode);

// The Windows attributes of a host file of this mode (see win32/files.h).
DWORD attributes_of(unsigned mode);

}  // namespace sx::files
