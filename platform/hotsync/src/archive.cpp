// CFile and CArchive over the Windows file stand-in; see hotsync/archive.h.
#include "hotsync/archive.h"

#include <unistd.h>

#include "sx/paths.h"
#include "sx/stale_temporaries.h"
#include "windows.h"

namespace {
constexpr DWORD kMaxReadBytes = 1024 * 1024;
constexpr char kTempMarker[] = ".new-";
}  // namespace

CFile::~CFile() {
  if (open_ && !writing_) Close();
}

BOOL CFile::Open(const char* windows_path, UINT flags) {
  if (open_ || windows_path == nullptr) return FALSE;
  path_ = windows_path;
  data_.clear();
  writing_ = (flags & modeWrite) != 0;
  if (writing_) {
    open_ = true;  // written by Close()
    return TRUE;
  }
  HANDLE file =
      CreateFileA(windows_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  const DWORD size = GetFileSize(file, nullptr);
  if (size > kMaxReadBytes) {
    CloseHandle(file);
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  data_.resize(size);
  DWORD read = 0;
  const BOOL ok = size == 0 || ReadFile(file, data_.data(), size, &read, nullptr);
  CloseHandle(file);
  if (!ok || read != size) {
    data_.clear();
    return FALSE;
  }
  open_ = true;
  return TRUE;
}

BOOL CFile::Close() {
  if (!open_) return FALSE;
  open_ = false;
  if (!writing_) return TRUE;
  // Temporaries of writers killed before their rename go first; ours is named after this process.
  sx::stale::remove_temporaries(sx::paths::to_host(path_), kTempMarker);
  const std::string temp = path_ + kTempMarker + std::to_string(::getpid());
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  const BOOL ok = data_.empty() || WriteFile(file, data_.data(), static_cast<DWORD>(data_.size()),
                                             &written, nullptr);
  CloseHandle(file);
  if (!ok || written != data_.size()) {
    DeleteFileA(temp.c_str());
    return FALSE;
  }
  return MoveFileExA(temp.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
}

CArchive::CArchive(CFile* file, UINT mode, int /*buffer_size*/) : file_(file), mode_(mode) {}

const std::string& CArchive::Content() const {
  static const std::string empty;
  return file_ != nullptr && file_->open_ ? file_->data_ : empty;
}

void CArchive::Write(const std::string& text) {
  if (file_ != nullptr && file_->open_ && file_->writing_) file_->data_ += text;
}
