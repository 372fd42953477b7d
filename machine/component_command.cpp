// sxmachine scribbixout|scribbixupdate|scribbixoutlookaddin|scribbixmonitoraddin
// install|uninstall: what the setup program does for the Outlook access component, the folder
// maintenance component and the two Outlook add-ins: copy the server (and, for ScribbixUpdate, the
// update store "SXUpdate.pst" beside it) into the installation directory and register it (its
// DllRegisterServer, as regsvr32 would; an add-in's also registers it with Outlook), or unregister
// and remove them.
//
// An installation either completes or leaves the machine as it was: the new files go in under a
// temporary name, the old ones (if any) are kept aside until the server has registered from its
// final place, and a failed registration puts the old files and the class keys back.
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
#include "scribbixaddin/scribbixaddin.h"
#include "scribbixmonitor/scribbixmonitor.h"
#include "scribbixout/scribbixout.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/paths.h"
#include "sx/stale_temporaries.h"

namespace sx::machine_tool {
namespace {

using sx::cli::Failure;

constexpr const char* kTempMarker = ".tmp-";

// A component as setup installs it: its command, its files (the server first) and its identity.
struct Component {
  const char* command;
  const char* display_name;
  const char* progid;
  CLSID clsid;
  IID iid;
  GUID libid;
  std::vector<std::pair<const char*, std::string>> files;  // installed name, source file
  // Outlook's entry for an add-in (HKEY_CURRENT_USER), which its registration writes too; null for
  // the components.
  const char* outlook_addin = nullptr;
};

std::string hr_text(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX",
                static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return std::string(code) + " " + sx::com::error_message(hr);
}

// The keys the server's registration writes, to put back when it fails.
std::vector<RegistrySnapshot> class_keys(const Component& c) {
  std::vector<RegistrySnapshot> keys;
  keys.emplace_back(HKEY_CLASSES_ROOT, c.progid);
  keys.emplace_back(HKEY_CLASSES_ROOT, "CLSID\\" + sx::com::format_guid(c.clsid));
  keys.emplace_back(HKEY_CLASSES_ROOT, "Interface\\" + sx::com::format_guid(c.iid));
  keys.emplace_back(HKEY_CLASSES_ROOT, "TypeLib\\" + sx::com::format_guid(c.libid));
  if (c.outlook_addin != nullptr)
    keys.emplace_back(
        HKEY_CURRENT_USER,
        std::string("Software\\Microsoft\\Office\\Outlook\\Addins\\") + c.outlook_addin);
  return keys;
}

HRESULT call_registration(const std::string& windows_path, bool unregister) {
  CoInitialize(nullptr);
  const HRESULT hr = sx::com::register_server_module(windows_path, unregister);
  CoUninitialize();
  return hr;
}

// One installed file: its place, the new file's temporary name and the old file's.
struct Placed {
  std::string target;
  std::filesystem::path host_target, host_temp, host_old;
  bool had_old = false;
  bool placed = false;
};

// Puts every file back as it was before the installation.
void put_back(std::vector<Placed>& files) {
  std::error_code ignored;
  for (Placed& f : files) {
    std::filesystem::remove(f.host_temp, ignored);
    if (f.placed) std::filesystem::remove(f.host_target, ignored);
    if (f.had_old && !std::filesystem::exists(f.host_target))
      std::filesystem::rename(f.host_old, f.host_target, ignored);
  }
}

int install(const Component& c, const std::string& utf8_default_path,
            const std::string& server_file) {
  try {
    sx::cli::check_readable_file(server_file, std::string(c.display_name) + "'s library");
  } catch (const Failure& e) {
    throw Failure(std::string(e.what()) + " The machine is as it was.");
  }
  const std::string default_path =
      sx::cli::machine_text(utf8_default_path, "installation directory");
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
  const std::string suffix = kTempMarker + std::to_string(::getpid());
  std::vector<Placed> files;
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    Placed f;
    f.target = dir + "\\" + c.files[i].first;
    f.host_target = sx::paths::to_host(f.target);
    f.host_temp = sx::paths::to_host(f.target + suffix);
    f.host_old = sx::paths::to_host(f.target + suffix + "-old");
    sx::stale::remove_temporaries(f.host_target, kTempMarker);
    const std::string source = i == 0 ? server_file : c.files[i].second;
    std::error_code ec;
    std::filesystem::copy_file(source, f.host_temp,
                               std::filesystem::copy_options::overwrite_existing, ec);
    files.push_back(f);
    if (ec) {
      put_back(files);
      undo_path();
      throw Failure("Cannot copy " + source + ": " + ec.message() + ". The machine is as it was.");
    }
  }
  const std::vector<RegistrySnapshot> keys = class_keys(c);
  for (Placed& f : files) {
    std::error_code ec;
    f.had_old = std::filesystem::exists(f.host_target);
    if (f.had_old) std::filesystem::rename(f.host_target, f.host_old, ec);
    if (!ec) std::filesystem::rename(f.host_temp, f.host_target, ec);
    f.placed = !ec;
    if (ec) {
      put_back(files);
      undo_path();
      throw Failure("Cannot replace " + f.target + ": " + ec.message() +
                    ". The machine is as it was.");
    }
  }
  const std::string& target = files.front().target;
  const HRESULT hr = call_registration(target, false);
  if (FAILED(hr)) {
    put_back(files);
    bool restored = true;
    for (const RegistrySnapshot& key : keys) restored = key.restore() && restored;
    if (!restored) std::fputs("WARNING: The registry keys could not all be put back.\n", stderr);
    undo_path();
    throw Failure("The registration of " + target + " failed (" + hr_text(hr) +
                  "). The machine is as it was.");
  }
  for (const Placed& f : files) {
    std::error_code ignored;
    if (f.had_old) std::filesystem::remove(f.host_old, ignored);
  }
  std::printf("Installed %s and registered \"%s\".\n", target.c_str(), c.progid);
  for (std::size_t i = 1; i < files.size(); ++i)
    std::printf("Installed %s.\n", files[i].target.c_str());
  return 0;
}

int uninstall(const Component& c) {
  const std::string dir = installation_path(kDefaultInstallPath);
  const std::string target = dir + "\\" + c.files.front().first;
  if (!std::filesystem::exists(sx::paths::to_host(target)))
    throw Failure(std::string(c.display_name) + " is not installed (there is no " + target + ").");
  const HRESULT hr = call_registration(target, true);
  if (FAILED(hr))
    throw Failure("The unregistration of " + target + " failed (" + hr_text(hr) + ").");
  for (const auto& [name, source] : c.files) {
    const std::string file = dir + "\\" + name;
    std::error_code ec;
    std::filesystem::remove(sx::paths::to_host(file), ec);
    if (ec)
      throw Failure("Unregistered " + std::string(c.display_name) + ", but cannot remove " + file +
                    ": " + ec.message() + ".");
    std::printf("%s %s.\n", file == target ? "Unregistered and removed" : "Removed", file.c_str());
  }
  return 0;
}

void add_component_command(sx::cli::Program& program, const Component& component,
                           const std::string& description) {
  CLI::App* command = program.app().add_subcommand(component.command, description);
  struct Options {
    std::string path = kDefaultInstallPath;
    std::string file;
  };
  auto options = std::make_shared<Options>();
  options->file = component.files.front().second;
  auto c = std::make_shared<Component>(component);
  std::string what =
      "copy the component into the installation directory (HKLM\\SOFTWARE\\Vorlan "
      "Software\\Scribbix \"Path\", written when missing) as " +
      std::string(component.files.front().first);
  for (std::size_t i = 1; i < component.files.size(); ++i)
    what += std::string(" with ") + component.files[i].first;
  CLI::App* install_command =
      command->add_subcommand("install", what + " and call its DllRegisterServer");
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
  program.action(install_command,
                 [options, c] { return install(*c, options->path, options->file); });

  CLI::App* uninstall_command = command->add_subcommand(
      "uninstall", "call the component's DllUnregisterServer and remove its files");
  program.action(uninstall_command, [c] { return uninstall(*c); });
}

}  // namespace

void add_scribbixout_command(sx::cli::Program& program) {
  add_component_command(
      program,
      {"scribbixout",
       "ScribbixOut",
       scribbixout::kClass1ProgId,
       scribbixout::kClass1Clsid,
       _Class1::kIid,
       scribbixout::kLibid,
       {{"ScribbixOut.dll", SX_COMPANION_FILE(SX_SCRIBBIXOUT_LIBRARY)}}},
      "install the Outlook access component ScribbixOut (\"ScribbixOut.Class1\") and register it, "
      "or uninstall it");
}

void add_scribbixupdate_command(sx::cli::Program& program) {
  add_component_command(
      program,
      {"scribbixupdate",
       "ScribbixUpdate",
       scribbixupdate::kUpdate1ProgId,
       scribbixupdate::kUpdate1Clsid,
       _Update1::kIid,
       scribbixupdate::kLibid,
       {{"ScribbixUpdate.dll", SX_COMPANION_FILE(SX_SCRIBBIXUPDATE_LIBRARY)},
        {"SXUpdate.pst", SX_COMPANION_FILE(SX_UPDATE_STORE_TEMPLATE)}}},
      "install the folder maintenance component ScribbixUpdate (\"ScribbixUpdate.Update1\") with "
      "the update store SXUpdate.pst and register it, or uninstall them");
}

void add_addin_commands(sx::cli::Program& program) {
  add_component_command(
      program,
      {"scribbixoutlookaddin",
       "ScribbixOutlookAddIn",
       scribbixaddin::kConnectProgId,
       scribbixaddin::kConnectClsid,
       _ScribbixAddIn::kIid,
       scribbixaddin::kLibid,
       {{"ScribbixOutlookAddIn.dll", SX_COMPANION_FILE(SX_NOTES_ADDIN_LIBRARY)}},
       scribbixaddin::kConnectProgId},
      "install the notes add-in ScribbixOutlookAddIn (\"VorScribOutlookAddIn.Connect\") and "
      "register it with COM and Outlook (loaded when Outlook starts), or uninstall it");
  add_component_command(
      program,
      {"scribbixmonitoraddin",
       "ScribbixMonitorAddIn",
       scribbixmonitor::kConnectProgId,
       scribbixmonitor::kConnectClsid,
       _ScribbixMonitor1::kIid,
       scribbixmonitor::kLibid,
       {{"ScribbixMonitorAddIn.dll", SX_COMPANION_FILE(SX_MONITOR_ADDIN_LIBRARY)}},
       scribbixmonitor::kConnectProgId},
      "install the monitor add-in ScribbixMonitorAddIn (\"ScribbixMonitorAddIn.Connect\") and "
      "register it with COM and Outlook (loaded when Outlook starts), or uninstall it");
}

}  // namespace sx::machine_tool
