#include "objects/registry_values.h"

namespace sx::outlook::registry {

std::optional<std::string> read_text(HKEY key, const char* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  std::string text(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  text.resize(size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::optional<DWORD> read_dword(HKEY key, const char* name) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return std::nullopt;
  return value;
}

std::vector<std::string> subkeys(HKEY key) {
  std::vector<std::string> out;
  for (DWORD i = 0;; ++i) {
    char name[260];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    out.emplace_back(name, size);
  }
  return out;
}

namespace {

bool write(const std::string& path, const char* name, DWORD type, const BYTE* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG rc = RegSetValueExA(key, name, 0, type, data, size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace

bool write_text(const std::string& path, const char* name, const std::string& value) {
  return write(path, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
               static_cast<DWORD>(value.size() + 1));
}

bool write_dword(const std::string& path, const char* name, DWORD value) {
  return write(path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace sx::outlook::registry
