#include "registry_snapshot.h"

namespace sx::machine_tool {
namespace {

struct Open {
  HKEY key = nullptr;
  ~Open() {
    if (key != nullptr) RegCloseKey(key);
  }
};

}  // namespace

RegistrySnapshot::RegistrySnapshot(HKEY root, std::string path)
    : root_(root), path_(std::move(path)) {
  std::vector<std::string> pending = {path_};
  while (!pending.empty()) {
    const std::string path_now = pending.back();
    pending.pop_back();
    Open open;
    if (RegOpenKeyExA(root_, path_now.c_str(), 0, KEY_READ, &open.key) != ERROR_SUCCESS) continue;
    Key key{path_now, {}};
    for (DWORD i = 0;; ++i) {
      std::vector<char> name(16384);
      DWORD name_size = static_cast<DWORD>(name.size()), type = 0, size = 0;
      if (RegEnumValueA(open.key, i, name.data(), &name_size, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS)
        break;
      Value value{std::string(name.data(), name_size), type, std::string(size, '\0')};
      if (RegQueryValueExA(open.key, value.name.c_str(), nullptr, &value.type,
                           reinterpret_cast<BYTE*>(value.data.data()), &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        key.values.push_back(std::move(value));
      }
    }
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(open.key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      pending.push_back(path_now + "\\" + std::string(name, size));
    }
    keys_.push_back(std::move(key));
  }
}

bool RegistrySnapshot::restore() const {
  const LONG deleted = RegDeleteTreeA(root_, path_.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return false;
  bool ok = true;
  for (const Key& key : keys_) {
    Open open;
    if (RegCreateKeyExA(root_, key.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &open.key, nullptr) != ERROR_SUCCESS) {
      ok = false;
      continue;
    }
    for (const Value& v : key.values) {
      ok = RegSetValueExA(open.key, v.name.c_str(), 0, v.type,
                          reinterpret_cast<const BYTE*>(v.data.data()),
                          static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS &&
           ok;
    }
  }
  return ok;
}

}  // namespace sx::machine_tool
