#include "file_version.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "windows.h"

namespace sx::configure {
namespace {

bool ReadBlock(const std::string& path, std::vector<char>* block) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return false;
  block->assign(size, '\0');
  return GetFileVersionInfoA(path.c_str(), handle, size, block->data()) != FALSE;
}

bool QueryText(const std::vector<char>& block, const std::string& sub_block, std::string* value) {
  void* data = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), sub_block.c_str(), &data, &length) || data == nullptr)
    return false;
  const char* text = static_cast<const char*>(data);
  value->assign(text, strnlen(text, length));
  return true;
}

// The usual decimal reading of a version part: optional blanks and sign, then leading digits (0
// when there are none); a number too large for an int stops at INT_MAX.
int DecimalValue(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > 0x7FFFFFFFL) return 0x7FFFFFFF;
  if (value < -0x7FFFFFFFL) return -0x7FFFFFFF;
  return static_cast<int>(value);
}

}  // namespace

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int ReadFileVersion(const std::string& path, std::string* version) {
  version->clear();
  if (!FileExists(path)) return kVersionFileMissing;
  std::vector<char> block;
  if (!ReadBlock(path, &block)) return kVersionUnreadable;
  for (const char* language : {"040904B0", "040904E4", "000004E4"}) {
    if (QueryText(block, std::string("\\StringFileInfo\\") + language + "\\FileVersion", version))
      return 0;
  }
  return kVersionUnreadable;
}

bool ReadVersionString(const std::string& path, const char* name, std::string* value) {
  std::vector<char> block;
  return ReadBlock(path, &block) &&
         QueryText(block, std::string("\\StringFileInfo\\040904B0\\") + name, value);
}

std::array<int, 4> ParseVersion(const std::string& text) {
  std::array<int, 4> parts = {-1, -1, -1, -1};
  if (text.empty()) return parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::size_t dot = text.find('.', start);
    const std::string part =
        text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (i == 0 || !part.empty()) parts[i] = DecimalValue(part);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

int CheckPartialUpgrade(const std::string& serverPath, std::string* message) {
  message->clear();
  const std::size_t slash = serverPath.rfind('\\');
  const std::string dir = slash == std::string::npos ? "" : serverPath.substr(0, slash + 1);
  int results[2] = {0, 0};
  const std::string files[2] = {dir + "outlrpc.dll", dir + "1033\\outllibr.dll"};
  for (int i = 0; i < 2; ++i) {
    std::string version;
    results[i] = ReadFileVersion(files[i], &version);
    if (results[i] != 0) continue;
    const std::array<int, 4> v = ParseVersion(version);
    if (v[0] == 9 && v[1] == 0 && v[2] < 3000) {
      *message = "The following file is out of date: " + files[i] + "\n";
      results[i] = 1;
    }
  }
  return results[0] != 0 ? results[0] : results[1];
}

}  // namespace sx::configure
