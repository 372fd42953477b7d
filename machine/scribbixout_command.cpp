// sxmachine scribbixout install|uninstall: what the setup program does for the Outlook access
// component: copy ScribbixOut.dll into the installation directory and register it (its
// DllRegisterServer, as regsvr32 would), or unregister and remove it.
//
// An installation either completes or leaves the machine as it was: the new file goes in under a
// temporary name, the old one (if any) is kept aside until the new one has registered from its
// final place, and a failed registration puts the old file and the class keys back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "comdef.h"
#include "commands.h"
#include "install_path.h"
#include "registry_snapshot.h"
#include "scribbixout/scribbixout.h"
#include "sx/cli/values.h"
#include "sx/paths.h"
#include "sx/stale_temporaries.h"

namespace sx::machine_tool {
namespace {

using sx::cli::Failure;

constexpr const char* kServerFile = "ScribbixOut.dll";
constexpr const char* kTempMarker = ".tmp-";

std::string hr_text(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return std::string(code) + " " + sx::com::error_message(hr);
}

// The keys the server's registration writes, to put back when it fails.
std::vector<RegistrySnapshot> class_keys() {
  std::vector<RegistrySnapshot> keys;
  keys.emplace_back(HKEY_CLASSES_ROOT, scribbixout::kClass1ProgId);
  keys.emplace_back(HKEY_CLASSES_ROOT, "CLSID\\" + sx::com::format_guid(scribbixout::kClass1Clsid));
  keys.emplace_back(HKEY_CLASSES_ROOT, "Interface\\" + sx::com::format_guid(_Class1::kIid));
  keys.emplace_back(HKEY_CLASSES_ROOT, "TypeLib\\" + sx::com::format_guid(scribbixout::kLibid));
  return keys;
}

HRESULT call_registration(const std::string& windows_path, bool unregister) {
  CoInitialize(nullptr);
  const HRESULT hr = sx::com::register_server_module(windows_path, unregister);
  CoUninitialize();
  return hr;
}

int install(const std::string& default_path, const std::string& file) {
  const RegistrySnapshot install_key(HKEY_LOCAL_MACHINE, kInstallKey);
  const bool dir_existed = std::filesystem::exists(sx::paths::to_host(default_path));
  const std::string dir = installation_path(default_path);
  // Puts "Path" and a directory this installation made back as they were.
  auto undo_path = [&] {
    std::error_code ignored;
    if (!dir_existed && dir == default_path)
      std::filesystem::remove(sx::paths::to_host(dir), ignored);
    if (!install_key.restore())
      std::fputs("WARNING: The installation key could not be put back.\n", stderr);
  };
  const std::string target = dir + "\\" + kServerFile;
  const std::filesystem::path host_target = sx::paths::to_host(target);
  sx::stale::remove_temporaries(host_target, kTempMarker);
  const std::string suffix = kTempMarker + std::to_string(::getpid());
  const std::filesystem::path host_temp = sx::paths::to_host(target + suffix);
  const std::filesystem::path host_old = sx::paths::to_host(target + suffix + "-old");
  std::error_code ec;
  std::filesystem::copy_file(file, host_temp, std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) {
    undo_path();
    throw Failure("Cannot copy " + file + ": " + ec.message() + ". The machine is as it was.");
  }
  const std::vector<RegistrySnapshot> keys = class_keys();
  const bool had_old = std::filesystem::exists(host_target);
  if (had_old) std::filesystem::rename(host_target, host_old, ec);
  if (!ec) std::filesystem::rename(host_temp, host_target, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(host_temp, ignored);
    if (had_old && !std::filesystem::exists(host_target))
      std::filesystem::rename(host_old, host_target, ignored);
    undo_path();
    throw Failure("Cannot replace " + target + ": " + ec.message() + ". The machine is as it was.");
  }
  const HRESULT hr = call_registration(target, false);
  if (FAILED(hr)) {
    std::error_code ignored;
    std::filesystem::remove(host_target, ignored);
    if (had_old) std::filesystem::rename(host_old, host_target, ignored);
    bool restored = true;
    for (const RegistrySnapshot& key : keys) restored = key.restore() && restored;
    if (!restored) std::fputs("WARNING: The registry keys could not all be put back.\n", stderr);
    undo_path();
    throw Failure("The registration of " + target + " failed (" + hr_text(hr) +
                  "). The machine is as it was.");
  }
  if (had_old) std::filesystem::remove(host_old, ec);
  std::printf("Installed %s and registered \"%s\".\n", target.c_str(), scribbixout::kClass1ProgId);
  return 0;
}

int uninstall() {
  const std::string target = installation_path(kDefaultInstallPath) + "\\" + kServerFile;
  if (!std::filesystem::exists(sx::paths::to_host(target)))
    throw Failure("ScribbixOut is not installed (there is no " + target + ").");
  const HRESULT hr = call_registration(target, true);
  if (FAILED(hr))
    throw Failure("The unregistration of " + target + " failed (" + hr_text(hr) + ").");
  std::error_code ec;
  std::filesystem::remove(sx::paths::to_host(target), ec);
  if (ec)
    throw Failure("Unregistered ScribbixOut, but cannot remove " + target + ": " + ec.message() +
                  ".");
  std::printf("Unregistered and removed %s.\n", target.c_str());
  return 0;
}

}  // namespace

void add_scribbixout_command(sx::cli::Program& program) {
  CLI::App* command = program.app().add_subcommand(
      "scribbixout",
      "install the Outlook access component ScribbixOut (\"ScribbixOut.Class1\") and register it, "
      "or uninstall it");
  struct Options {
    std::string path = kDefaultInstallPath;
    std::string file = SX_SCRIBBIXOUT_LIBRARY;
  };
  auto options = std::make_shared<Options>();
  CLI::App* install_command = command->add_subcommand(
      "install",
      "copy the component into the installation directory (HKLM\\SOFTWARE\\Vorlan "
      "Software\\Scribbix \"Path\", written when missing) as ScribbixOut.dll and call its "
      "DllRegisterServer");
  install_command
      ->add_option("--path", options->path,
                   "the installation directory when \"Path\" is not set yet, a Windows path "
                   "(default \"" +
                       options->path + "\")")
      ->type_name("DIR");
  install_command
      ->add_option("--file", options->file, "the component to install (default: this build's)")
      ->type_name("FILE");
  install_command->footer("A failed installation leaves the machine as it was.");
  program.action(install_command, [options] { return install(options->path, options->file); });

  CLI::App* uninstall_command = command->add_subcommand(
      "uninstall", "call the component's DllUnregisterServer and remove ScribbixOut.dll");
  program.action(uninstall_command, [] { return uninstall(); });
}

}  // namespace sx::machine_tool
