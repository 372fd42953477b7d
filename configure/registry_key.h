// CRegistryKey: one open registry key of the configuration program, opened for one use and closed
// with the object. Reads never raise: a missing key or value reports false and leaves the default.
// Main thread only (one object is never shared between threads).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "windows.h"

namespace sx::configure {

class CRegistryKey {
 public:
  CRegistryKey() = default;
  ~CRegistryKey();
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;

  // Opens `path` under `root`. An access mask of 0 opens with full access (RegOpenKeyA); any other
  // mask is asked for as it stands (RegOpenKeyExA). True when the key is open.
  bool Open(HKEY root, const std::string& path, REGSAM access);
  // Closes the key and opens another path under the same root with the same mask.
  bool Reopen(const std::string& path);
  // Creates or opens `path` under the root of the last Open (RegCreateKeyA).
  bool Create(const std::string& path);
  void Close();
  bool IsOpen() const { return key_ != nullptr; }
  LONG LastResult() const { return last_result_; }

  // A text value (at most 1023 characters are read). False, and *value = `fallback`, when it cannot
  // be read.
  bool ReadText(const char* name, std::string* value, const std::string& fallback = {});
  // A 32-bit value. False, and *value = `fallback`, when it cannot be read.
  bool ReadDword(const char* name, DWORD* value, DWORD fallback = 0);
  bool WriteText(const char* name, const std::string& value);
  bool WriteDword(const char* name, DWORD value);
  bool DeleteValue(const char* name);

  // The names of the subkeys (each up to 259 characters). True when every name was read.
  bool EnumerateSubkeys(std::set<std::string>* names);
  // The values in enumeration order: names and their data as text (up to 259 bytes each). True
  // when every value was read.
  bool EnumerateValues(std::vector<std::string>* names, std::vector<std::string>* data);

 private:
  HKEY root_ = nullptr;
  HKEY key_ = nullptr;
  REGSAM access_ = 0;
  LONG last_result_ = -1;
  std::string path_;
};

}  // namespace sx::configure
