// A host file's bytes, read and written whole (tests that cut, damage or restore files).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sx::testing {

// The file's bytes; "" when it cannot be read.
inline std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file's bytes.
inline void write_file_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace sx::testing
