// FindFirstFileA / FindNextFileA / FindClose: a listing of the names of a folder that match a
// pattern, taken when the search starts.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "boundary.h"
#include "file_object.h"
#include "file_time.h"
#include "host_errors.h"
#include "wildcard.h"
#include "win32/files.h"

namespace sx::files {
namespace {

namespace fs = std::filesystem;

class FindSearch : public sx::handles::Object {
 public:
  explicit FindSearch(std::vector<WIN32_FIND_DATAA> entries) : entries_(std::move(entries)) {}

  // Copies the next entry; false when none is left.
  bool next(WIN32_FIND_DATAA* out) {
    std::lock_guard lock(mutex_);
    if (position_ >= entries_.size()) return false;
    *out = entries_[position_++];
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<WIN32_FIND_DATAA> entries_;
  std::size_t position_ = 0;
};

std::string folded(const char* s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// "." and ".." first, then names in case-insensitive order (as NTFS lists them).
bool listed_before(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
  auto rank = [](const char* name) {
    return std::strcmp(name, ".") == 0 ? 0 : std::strcmp(name, "..") == 0 ? 1 : 2;
  };
  const int ra = rank(a.cFileName);
  const int rb = rank(b.cFileName);
  if (ra != rb) return ra < rb;
  const std::string fa = folded(a.cFileName);
  const std::string fb = folded(b.cFileName);
  if (fa != fb) return fa < fb;
  return std::strcmp(a.cFileName, b.cFileName) < 0;
}

bool fill(const fs::path& folder, const char* name, WIN32_FIND_DATAA* data) {
  const std::size_t length = std::strlen(name);
  if (length >= sizeof(data->cFileName)) return false;  // cannot be named through this API
  struct stat st;
  if (::stat((folder / name).c_str(), &st) != 0) return false;  // vanished, or a broken link
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = attributes_of(st.st_mode);
  data->ftLastWriteTime = filetime_from_unix_ns(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  data->ftLastAccessTime = filetime_from_unix_ns(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  data->ftCreationTime = data->ftLastWriteTime;
  if (S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::memcpy(data->cFileName, name, length + 1);
  return true;
}

HANDLE find_first(LPCSTR file_name, WIN32_FIND_DATAA* out) {
  if (file_name == nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Split "<folder>\<pattern>"; the folder goes through the path mapping, the pattern is matched.
  const std::string_view text(file_name);
  const std::size_t cut = text.find_last_of("\\/");
  std::string folder_text;
  std::string_view pattern;
  if (cut != std::string_view::npos) {
    folder_text = std::string(text.substr(0, cut + 1));
    pattern = text.substr(cut + 1);
  } else if (text.size() >= 2 && text[1] == ':') {
    folder_text = std::string(text.substr(0, 2)) + "\\";
    pattern = text.substr(2);
  } else {
    folder_text = "\\";
    pattern = text;
  }
  for (char c : pattern) {
    if (c != '*' && c != '?' && sx::paths::is_illegal_name_char(c)) {
      SetLastError(ERROR_INVALID_NAME);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  fs::path folder;
  if (!host_of(folder_text.c_str(), &folder)) return INVALID_HANDLE_VALUE;
  const bool drive_root = sx::paths::to_windows(folder).size() == 3;

  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<WIN32_FIND_DATAA> entries;
  try {
    while (const dirent* entry = ::readdir(dir)) {
      const bool dots =
          std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0;
      if (dots && drive_root) continue;
      if (!wildcard_match(pattern, entry->d_name)) continue;
      WIN32_FIND_DATAA data;
      if (fill(folder, entry->d_name, &data)) entries.push_back(data);
    }
  } catch (...) {
    ::closedir(dir);
    throw;
  }
  ::closedir(dir);
  if (entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(entries.begin(), entries.end(), listed_before);
  auto search = std::make_shared<FindSearch>(std::move(entries));
  search->next(out);
  HANDLE handle = sx::handles::insert(std::move(search));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

}  // namespace
}  // namespace sx::files

extern "C" {

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  return sx::files::guarded(INVALID_HANDLE_VALUE,
                            [&] { return sx::files::find_first(lpFileName, lpFindFileData); });
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  return sx::files::guarded(FALSE, [&]() -> BOOL {
    auto search = sx::handles::get<sx::files::FindSearch>(hFindFile);
    if (!search) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (lpFindFileData == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (!search->next(lpFindFileData)) {
      SetLastError(ERROR_NO_MORE_FILES);
      return FALSE;
    }
    return TRUE;
  });
}

BOOL FindClose(HANDLE hFindFile) {
  return sx::files::guarded(FALSE, [&]() -> BOOL {
    if (!sx::handles::get<sx::files::FindSearch>(hFindFile) || !sx::handles::close(hFindFile)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return TRUE;
  });
}

}  // extern "C"
