// sxmachine conduit ...: what the setup program does for the conduit: copy SXOut into HotSync's
// directory, set the installation "Path", and register it with HotSync (its DllRegisterServer).
#include <cstdio>
#include <filesystem>
#include <string>

#include "commands.h"
#include "sx/hotsync.h"
#include "sx/paths.h"
#include "windows.h"

namespace sx::machine_tool {

const char* const kConduitHelp =
    "Usage: sxmachine conduit install [--path DIR] [--file SXOUT]\n"
    "       sxmachine conduit uninstall\n"
    "\n"
    "install    copies the conduit (SXOUT, default: this build's) into HotSync's directory as\n"
    "           SXOut.dll, writes HKLM\\SOFTWARE\\Vorlan Software\\Scribbix \"Path\" (DIR, "
    "default\n"
    "           \"C:\\Program Files\\Vorlan\\Scribbix\") when it is missing, and calls the\n"
    "           conduit's DllRegisterServer\n"
    "uninstall  calls the conduit's DllUnregisterServer and removes SXOut.dll\n";

namespace {

constexpr const char* kInstallKey = "SOFTWARE\\Vorlan Software\\Scribbix";

// Calls `export_name` of the installed SXOut.dll; false when it cannot be loaded.
bool call_export(const std::string& file, const char* export_name, long* result) {
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr) return false;
  auto fn = reinterpret_cast<long (*)()>(GetProcAddress(module, export_name));
  if (fn != nullptr) *result = fn();
  FreeLibrary(module);
  return fn != nullptr;
}

void ensure_install_path(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  DWORD size = 0;
  if (RegQueryValueExA(key, "Path", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    std::error_code ec;
    std::filesystem::create_directories(sx::paths::to_host(path), ec);
  }
  RegCloseKey(key);
}

}  // namespace

int run_conduit_command(const Args& args) {
  if (args.empty() || is_help(args[0])) {
    std::fputs(kConduitHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  const std::string dir = sx::hotsync::hotsync_dir();
  if (dir.empty()) {
    std::fputs("sxmachine conduit: HotSync is not installed (sxmachine hotsync install)\n", stderr);
    return 1;
  }
  const std::string target = dir + "\\SXOut.dll";
  if (args[0] == "install") {
    std::string path = "C:\\Program Files\\Vorlan\\Scribbix";
    std::string file = SX_CONDUIT_LIBRARY;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
      if (args[i] == "--path")
        path = args[i + 1];
      else if (args[i] == "--file")
        file = args[i + 1];
    }
    std::error_code ec;
    std::filesystem::copy_file(file, sx::paths::to_host(target),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      std::fprintf(stderr, "sxmachine conduit: cannot copy %s: %s\n", file.c_str(),
                   ec.message().c_str());
      return 1;
    }
    ensure_install_path(path);
    long result = -1;
    if (!call_export(target, "DllRegisterServer", &result) || result != 0) {
      std::fprintf(stderr,
                   "sxmachine conduit: registration failed (0x%08lX); is there a HotSync "
                   "user?\n",
                   static_cast<unsigned long>(result) & 0xFFFFFFFFul);
      return 1;
    }
    std::printf("installed %s and registered it with HotSync\n", target.c_str());
    return 0;
  }
  if (args[0] == "uninstall") {
    long result = -1;
    if (!call_export(target, "DllUnregisterServer", &result)) {
      std::fprintf(stderr, "sxmachine conduit: %s is not installed\n", target.c_str());
      return 1;
    }
    std::error_code ec;
    std::filesystem::remove(sx::paths::to_host(target), ec);
    std::printf("unregistered and removed %s\n", target.c_str());
    return 0;
  }
  std::fprintf(stderr, "sxmachine conduit: unknown subcommand \"%s\"\n\n%s", args[0].c_str(),
               kConduitHelp);
  return 1;
}

}  // namespace sx::machine_tool
