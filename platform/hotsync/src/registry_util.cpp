#include "registry_util.h"

namespace sx::hotsync::reg {
namespace {

struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h != nullptr) RegCloseKey(h);
  }
};

}  // namespace

std::optional<std::string> read_string(const std::string& key, const char* name) {
  Key k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) return {};
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(k.h, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  std::string value(size, '\0');
  if (RegQueryValueExA(k.h, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.resize(std::min<std::size_t>(size, value.size()));
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

std::optional<DWORD> read_dword(const std::string& key, const char* name) {
  Key k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) return {};
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(k.h, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return {};
  }
  return value;
}

bool write_string(const std::string& key, const char* name, const std::string& value) {
  Key k;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &k.h, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(k.h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool write_dword(const std::string& key, const char* name, DWORD value) {
  Key k;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &k.h, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(k.h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

std::vector<std::string> subkeys(const std::string& key) {
  std::vector<std::string> names;
  Key k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof name;
    const LONG r = RegEnumKeyExA(k.h, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS) names.emplace_back(name, size);
  }
  return names;
}

}  // namespace sx::hotsync::reg
