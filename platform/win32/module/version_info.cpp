// GetFileVersionInfo*, VerQueryValueA and the stamp for stand-in files (see sx/version_stamp.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "../files/boundary.h"
#include "../files/host_errors.h"
#include "elf_section.h"
#include "sx/version_stamp.h"
#include "version_block.h"
#include "win32/module.h"

namespace sx::modules {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTrailerSize = 4 + sizeof(sx::version::kTrailerMagic);

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// A version file name: a host absolute path, or a Windows path of the machine.
bool resolve(const char* name, fs::path* host) {
  if (name != nullptr && name[0] == '/') {
    *host = name;
    return true;
  }
  return sx::files::host_of(name, host);
}

// The version block of a file as binary, or the Windows error.
DWORD read_version_block(const char* name, std::vector<char>* block) {
  fs::path host;
  if (!resolve(name, &host)) return GetLastError();
  Descriptor file{::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) return sx::files::error_from_errno(errno, host);
  struct stat st;
  if (::fstat(file.fd, &st) != 0) return sx::files::error_from_errno(errno, host);
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  const auto size = static_cast<std::uint64_t>(st.st_size);

  std::string text;
  bool have_text = false;
  if (size >= kTrailerSize) {
    unsigned char trailer[kTrailerSize];
    if (::pread(file.fd, trailer, kTrailerSize, static_cast<off_t>(size - kTrailerSize)) ==
            static_cast<ssize_t>(kTrailerSize) &&
        std::memcmp(trailer + 4, sx::version::kTrailerMagic, sizeof(sx::version::kTrailerMagic)) ==
            0) {
      const std::uint32_t length = static_cast<std::uint32_t>(trailer[0]) |
                                   (static_cast<std::uint32_t>(trailer[1]) << 8) |
                                   (static_cast<std::uint32_t>(trailer[2]) << 16) |
                                   (static_cast<std::uint32_t>(trailer[3]) << 24);
      if (length > sx::version::kMaxTextBytes || length > size - kTrailerSize) {
        return ERROR_INVALID_DATA;
      }
      text.resize(length);
      const off_t at = static_cast<off_t>(size - kTrailerSize - length);
      if (::pread(file.fd, text.data(), length, at) != static_cast<ssize_t>(length)) {
        return ERROR_INVALID_DATA;
      }
      have_text = true;
    }
  }
  if (!have_text) {
    SectionResult section =
        read_elf_section(file.fd, size, sx::version::kSectionName, sx::version::kMaxTextBytes);
    switch (section.status) {
      case SectionStatus::kFound:
        text = std::move(section.content);
        break;
      case SectionStatus::kNotElf:
      case SectionStatus::kNoSection:
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
      case SectionStatus::kDamaged:
        return ERROR_BAD_EXE_FORMAT;
      case SectionStatus::kReadError:
        return ERROR_INVALID_DATA;
    }
  }
  VersionData data;
  if (!parse_version_text(text, &data)) return ERROR_INVALID_DATA;
  *block = build_version_block(data);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace sx::modules

namespace sx::version {

std::string block_text(const StampInfo& info) {
  std::string text = std::string(kMagicLine) + "\n@Translation=" + info.lang_codepage +
                     "\n@FileType=" + (info.is_program ? "APP" : "DLL") + "\n";
  for (const auto& [name, value] : info.values) text += name + "=" + value + "\n";
  sx::modules::VersionData check;
  if (info.values.size() > kMaxValues || text.size() > kMaxTextBytes ||
      !sx::modules::parse_version_text(text, &check) || check.values.size() != info.values.size()) {
    return {};
  }
  for (std::size_t i = 0; i < check.values.size(); ++i) {
    if (check.values[i].second != std::next(info.values.begin(), static_cast<long>(i))->second) {
      return {};  // a value with a line break or a NUL would not read back as written
    }
  }
  return text;
}

bool stamp_file(const std::filesystem::path& path, const StampInfo& info, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  const std::string text = block_text(info);
  if (text.empty()) return fail("the version values break the block's rules");
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec) return fail(path.string() + ": " + ec.message());
  // Drop an earlier stamp, so that a file carries at most one.
  if (size >= sx::modules::kTrailerSize) {
    std::ifstream in(path, std::ios::binary);
    char trailer[sx::modules::kTrailerSize];
    in.seekg(static_cast<std::streamoff>(size - sx::modules::kTrailerSize));
    if (in.read(trailer, sizeof(trailer)) &&
        std::memcmp(trailer + 4, kTrailerMagic, sizeof(kTrailerMagic)) == 0) {
      std::uint32_t length;
      std::memcpy(&length, trailer, 4);  // little-endian host
      if (length <= size - sx::modules::kTrailerSize) {
        size -= sx::modules::kTrailerSize + length;
        std::filesystem::resize_file(path, size, ec);
        if (ec) return fail(path.string() + ": " + ec.message());
      }
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::app);
  const auto length = static_cast<std::uint32_t>(text.size());
  const char length_bytes[4] = {
      static_cast<char>(length & 0xFF), static_cast<char>((length >> 8) & 0xFF),
      static_cast<char>((length >> 16) & 0xFF), static_cast<char>((length >> 24) & 0xFF)};
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.write(length_bytes, 4);
  out.write(kTrailerMagic, sizeof(kTrailerMagic));
  out.close();
  if (!out) return fail(path.string() + ": cannot write the stamp");
  return true;
}

}  // namespace sx::version

using sx::files::guarded;

extern "C" {

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  return guarded<DWORD>(0, [&]() -> DWORD {
    if (lpdwHandle) *lpdwHandle = 0;
    std::vector<char> block;
    if (DWORD error = sx::modules::read_version_block(lptstrFilename, &block); error != 0) {
      SetLastError(error);
      return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(block.size());
  });
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  return guarded(FALSE, [&]() -> BOOL {
    if (lpData == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::vector<char> block;
    if (DWORD error = sx::modules::read_version_block(lptstrFilename, &block); error != 0) {
      SetLastError(error);
      return FALSE;
    }
    if (dwLen < block.size()) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(lpData, block.data(), block.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  });
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  return guarded(FALSE, [&]() -> BOOL {
    if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    void* value = nullptr;
    UINT length = 0;
    DWORD error = 0;
    if (!sx::modules::query_version_block(pBlock, lpSubBlock, &value, &length, &error)) {
      SetLastError(error);
      return FALSE;
    }
    *lplpBuffer = value;
    if (puLen) *puLen = length;
    return TRUE;
  });
}

}  // extern "C"
