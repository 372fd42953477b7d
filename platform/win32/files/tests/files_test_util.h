// Small helpers for the file tests: host-side file contents, bypassing the API under test.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "win32/files.h"

namespace sx::files::testing {

inline void write_host_file(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string read_host_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Opens through the API with the most common arguments.
inline HANDLE open_file(const char* name, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace sx::files::testing
