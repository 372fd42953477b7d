#include "install_path.h"

#include <filesystem>

#include "sx/cli/program.h"
#include "sx/paths.h"
#include "windows.h"

namespace sx::machine_tool {

std::string installation_path(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    throw sx::cli::Failure("Cannot write HKLM\\" + std::string(kInstallKey) + ".");
  }
  std::string chosen = path;
  char value[1024] = {};
  DWORD size = sizeof value - 1, type = 0;
  if (RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && value[0] != '\0') {
    chosen = value;
  } else {
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
  }
  RegCloseKey(key);
  std::error_code ec;
  std::filesystem::create_directories(sx::paths::to_host(chosen), ec);
  return chosen;
}

}  // namespace sx::machine_tool
