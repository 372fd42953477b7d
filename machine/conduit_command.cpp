// sxmachine conduit ...: what the setup program does for the conduit: copy SXOut into HotSync's
// directory, set the installation "Path", and register it with HotSync (its DllRegisterServer).
//
// An installation either completes or leaves the machine as it was: the new file goes in under a
// temporary name, registers from there, and only then replaces SXOut.dll; a failed registration
// puts HotSync's keys back as they were.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "commands.h"
#include "install_path.h"
#include "registry_snapshot.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "sx/paths.h"
#include "sx/stale_temporaries.h"
#include "windows.h"

namespace sx::machine_tool {
namespace {

using sx::cli::Failure;

constexpr const char* kConduitFile = "SXOut.dll";
constexpr const char* kTempMarker = ".tmp-";

std::string hex_code(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  return text;
}

// Calls `export_name` of the conduit file (a Windows path). Throws Failure when the file cannot be
// loaded as a conduit.
long call_export(const std::string& file, const std::string& shown, const char* export_name) {
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr) {
    throw Failure(shown + " cannot be loaded as a conduit: " + sx::modules::last_load_error() +
                  ".");
  }
  auto fn = reinterpret_cast<long (*)()>(GetProcAddress(module, export_name));
  const long result = fn != nullptr ? fn() : -1;
  FreeLibrary(module);
  if (fn == nullptr) throw Failure(shown + " is not a conduit: it has no " + export_name + ".");
  return result;
}

std::string installed_hotsync_dir() {
  const std::string dir = sx::hotsync::hotsync_dir();
  if (dir.empty())
    throw Failure("HotSync Manager is not installed. Install it with: sxmachine hotsync install");
  return dir;
}

int install(const std::string& utf8_path, const std::string& file) {
  try {
    sx::cli::check_readable_file(file, "the conduit's library (SXOut)");
  } catch (const Failure& e) {
    throw Failure(std::string(e.what()) + " The machine is as it was.");
  }
  const std::string path = sx::cli::machine_text(utf8_path, "installation directory");
  const std::string dir = installed_hotsync_dir();
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) throw Failure(sx::cli::sentence(why));
  if (users.empty()) {
    throw Failure(
        "HotSync has no user yet, and the conduit registers itself for the first one. Add one "
        "with: sxmachine hotsync add-user NAME");
  }
  const std::string target = dir + "\\" + kConduitFile;
  const std::filesystem::path host_target = sx::paths::to_host(target);
  sx::stale::remove_temporaries(host_target, kTempMarker);
  const std::string temp = target + kTempMarker + std::to_string(::getpid());
  const std::filesystem::path host_temp = sx::paths::to_host(temp);
  std::error_code ec;
  std::filesystem::copy_file(file, host_temp, std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) throw Failure("Cannot copy " + file + ": " + ec.message() + ".");
  const RegistrySnapshot hotsync_keys(HKEY_CURRENT_USER, sx::hotsync::kPilotDesktopKey);
  const RegistrySnapshot install_key(HKEY_LOCAL_MACHINE, kInstallKey);
  auto undo = [&] {
    std::error_code ignored;
    std::filesystem::remove(host_temp, ignored);
    if (!hotsync_keys.restore() || !install_key.restore())
      std::fputs("WARNING: The registry keys could not all be put back.\n", stderr);
  };
  try {
    const long result = call_export(temp, file, "DllRegisterServer");
    if (result != 0) {
      throw Failure("The conduit's registration failed (" + hex_code(result) + ": " +
                    sx::cli::windows_error_text(static_cast<DWORD>(result)) + ").");
    }
    (void)installation_path(path);
    std::filesystem::rename(host_temp, host_target, ec);  // the last step: nothing can fail after
    if (ec) throw Failure("Cannot replace " + target + ": " + ec.message() + ".");
  } catch (const Failure& e) {
    undo();
    throw Failure(std::string(e.what()) + " The machine is as it was.");
  }
  std::printf("Installed %s and registered it with HotSync.\n", target.c_str());
  return 0;
}

int uninstall() {
  const std::string target = installed_hotsync_dir() + "\\" + kConduitFile;
  if (!std::filesystem::exists(sx::paths::to_host(target)))
    throw Failure("The conduit is not installed (there is no " + target + ").");
  const long result = call_export(target, target, "DllUnregisterServer");
  if (result != 0) {
    throw Failure("The conduit's unregistration failed (" + hex_code(result) + ": " +
                  sx::cli::windows_error_text(static_cast<DWORD>(result)) + ").");
  }
  std::error_code ec;
  std::filesystem::remove(sx::paths::to_host(target), ec);
  if (ec)
    throw Failure("Unregistered the conduit, but cannot remove " + target + ": " + ec.message() +
                  ".");
  std::printf("Unregistered and removed %s.\n", target.c_str());
  return 0;
}

}  // namespace

void add_conduit_command(sx::cli::Program& program) {
  CLI::App* conduit = program.app().add_subcommand(
      "conduit", "install the Scribbix conduit into HotSync and register it, or uninstall it");
  struct Options {
    std::string path = kDefaultInstallPath;
    std::string file = SX_COMPANION_FILE(SX_CONDUIT_LIBRARY);
  };
  auto options = std::make_shared<Options>();
  CLI::App* install_command = conduit->add_subcommand(
      "install",
      "copy the conduit into HotSync's directory as SXOut.dll, write HKLM\\SOFTWARE\\Vorlan "
      "Software\\Scribbix \"Path\" when it is missing, and call the conduit's DllRegisterServer");
  install_command
      ->add_option("--path", options->path,
                   "the installation directory, a Windows path (default \"" + options->path + "\")")
      ->type_name("DIR");
  install_command
      ->add_option("--file", options->file, "the conduit to install (default: this build's)")
      ->type_name("SXOUT");
  install_command->footer("A failed installation leaves the machine as it was.");
  program.action(install_command, [options] { return install(options->path, options->file); });

  CLI::App* uninstall_command = conduit->add_subcommand(
      "uninstall", "call the conduit's DllUnregisterServer and remove SXOut.dll");
  program.action(uninstall_command, [] { return uninstall(); });
}

}  // namespace sx::machine_tool
