#include "registry_key.h"

#include <cstring>

namespace sx::configure {

CRegistryKey::~CRegistryKey() { Close(); }

void CRegistryKey::Close() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

bool CRegistryKey::Open(HKEY root, const std::string& path, REGSAM access) {
  root_ = root;
  access_ = access;
  return Reopen(path);
}

bool CRegistryKey::Reopen(const std::string& path) {
  Close();
  path_ = path;
  HKEY key = nullptr;
  last_result_ = access_ == 0 ? RegOpenKeyA(root_, path.c_str(), &key)
                              : RegOpenKeyExA(root_, path.c_str(), 0, access_, &key);
  if (last_result_ == ERROR_SUCCESS) key_ = key;
  return key_ != nullptr;
}

bool CRegistryKey::Create(const std::string& path) {
  Close();
  path_ = path;
  HKEY key = nullptr;
  last_result_ = RegCreateKeyA(root_, path.c_str(), &key);
  if (last_result_ == ERROR_SUCCESS) key_ = key;
  return key_ != nullptr;
}

bool CRegistryKey::ReadText(const char* name, std::string* value, const std::string& fallback) {
  *value = fallback;
  if (key_ == nullptr) return false;
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1, type = 0;
  last_result_ =
      RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (last_result_ != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  value->assign(buffer, strnlen(buffer, sizeof buffer - 1));
  return true;
}

bool CRegistryKey::ReadDword(const char* name, DWORD* value, DWORD fallback) {
  *value = fallback;
  if (key_ == nullptr) return false;
  DWORD data = 0, size = sizeof data, type = 0;
  last_result_ =
      RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (last_result_ != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
  *value = data;
  return true;
}

bool CRegistryKey::WriteText(const char* name, const std::string& value) {
  if (key_ == nullptr) return false;
  last_result_ = RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
  return last_result_ == ERROR_SUCCESS;
}

bool CRegistryKey::WriteDword(const char* name, DWORD value) {
  if (key_ == nullptr) return false;
  last_result_ =
      RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  return last_result_ == ERROR_SUCCESS;
}

bool CRegistryKey::DeleteValue(const char* name) {
  if (key_ == nullptr) return false;
  last_result_ = RegDeleteValueA(key_, name);
  return last_result_ == ERROR_SUCCESS;
}

bool CRegistryKey::EnumerateSubkeys(std::set<std::string>* names) {
  names->clear();
  if (key_ == nullptr) return false;
  DWORD count = 0;
  last_result_ = RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr);
  if (last_result_ != ERROR_SUCCESS) return false;
  bool all = true;
  for (DWORD i = 0; i < count; ++i) {
    char name[260] = {};
    DWORD size = sizeof name;
    last_result_ = RegEnumKeyExA(key_, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (last_result_ != ERROR_SUCCESS) {
      all = false;
      continue;
    }
    names->insert(std::string(name, strnlen(name, sizeof name)));
  }
  return all;
}

bool CRegistryKey::EnumerateValues(std::vector<std::string>* names,
                                   std::vector<std::string>* data) {
  names->clear();
  data->clear();
  if (key_ == nullptr) return false;
  DWORD count = 0;
  last_result_ = RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &count, nullptr, nullptr, nullptr, nullptr);
  if (last_result_ != ERROR_SUCCESS) return false;
  bool all = true;
  for (DWORD i = 0; i < count; ++i) {
    char name[260] = {};
    BYTE value[260] = {};
    DWORD name_size = sizeof name, value_size = sizeof value - 1, type = 0;
    last_result_ = RegEnumValueA(key_, i, name, &name_size, nullptr, &type, value, &value_size);
    if (last_result_ != ERROR_SUCCESS) {
      all = false;
      continue;
    }
    names->emplace_back(name, strnlen(name, sizeof name));
    const char* text = reinterpret_cast<const char*>(value);
    data->emplace_back(text, strnlen(text, sizeof value - 1));
  }
  return all;
}

}  // namespace sx::configure
