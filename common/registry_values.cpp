#include "scribbix/registry_values.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace sx::common {

long leading_number(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin) return 0;
  if (value > INT32_MAX) return INT32_MAX;  // strtoll's own overflow lands here too
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<long>(value);
}

LONG WriteRegValue(HKEY key, const std::string& name, DWORD type, const RegValue& value) {
  try {
    if (type == REG_SZ) {
      const std::string text = std::holds_alternative<std::string>(value)
                                   ? std::get<std::string>(value)
                                   : std::to_string(std::get<long>(value));
      return RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size()));
    }
    if (type == REG_DWORD) {
      const long number = std::holds_alternative<long>(value)
                              ? std::get<long>(value)
                              : leading_number(std::get<std::string>(value));
      const DWORD word = static_cast<DWORD>(number);
      return RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word),
                            sizeof word);
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

LONG ReadRegValue(HKEY key, const std::string& name, RegValue* value) {
  try {
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::vector<char> buffer(size + 1, '\0');
      status = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(buffer.data()), &size);
      if (status != ERROR_SUCCESS) return status;
      *value = std::string(buffer.data(), std::min<std::size_t>(size, buffer.size() - 1));
      return ERROR_SUCCESS;
    }
    if (type == REG_DWORD) {
      DWORD word = 0;
      size = sizeof word;
      status = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&word),
                                &size);
      if (status != ERROR_SUCCESS) return status;
      if (type != REG_DWORD || size != sizeof word) return -1;
      *value = static_cast<long>(static_cast<std::int32_t>(word));
      return ERROR_SUCCESS;
    }
    return -1;
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

std::string GetKeyValue(HKEY root, const std::string& path, const std::string& name) {
  try {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    RegValue value;
    const LONG status = ReadRegValue(key, name, &value);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return {};
    if (std::holds_alternative<long>(value)) return std::to_string(std::get<long>(value));
    std::string text = std::get<std::string>(value);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  } catch (...) {
    return {};
  }
}

bool SetKeyValue(HKEY root, std::string path, const std::string& name, const RegValue& value,
                 DWORD type) {
  try {
    if (!path.empty() && path.front() == '\\') path.erase(0, 1);
    if (path.empty()) return false;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    WriteRegValue(key, name, type, value);
    RegCloseKey(key);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace sx::common
