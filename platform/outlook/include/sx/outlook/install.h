// Installing the Outlook stand-in on the simulated machine (what Outlook's setup would leave), and
// serving "Outlook.Application" in this process.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "win32/types.h"

namespace sx::outlook {

inline constexpr char kServerDirectory[] = "C:\\Program Files\\Microsoft Office\\Office\\";
inline constexpr char kServerPath[] = "C:\\Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE";
inline constexpr char kEditorPreferencesKey[] =
    ".Default\\Software\\Microsoft\\Office\\10.0\\Outlook\\Options\\Mail";
inline constexpr char kProgId[] = "Outlook.Application";
inline constexpr char kDefaultStorePath[] =
    "C:\\Documents and Settings\\User\\Local Settings\\Application "
    "Data\\Microsoft\\Outlook\\outlook.pst";

// Outlook 2000 SR-1, as most machines had it. Its library files carry builds of 3000 and later, so
// the configuration program's check for a partly upgraded installation passes.
inline constexpr char kDefaultVersion[] = "9.0.0.3821";
inline constexpr char kDefaultLibraryVersion[] = "9.0.3821";

struct InstallOptions {
  std::string version = kDefaultVersion;  // file version of OUTLOOK.EXE: Application.Version
  // File versions of "outlrpc.dll" and "1033\outllibr.dll" beside OUTLOOK.EXE; an empty version
  // leaves that file out (a damaged installation). "9.0.2416" makes a partly upgraded SR-1.
  std::string outlrpc_version = kDefaultLibraryVersion;
  std::string outllibr_version = kDefaultLibraryVersion;
  // When set, HKEY_USERS\.Default\Software\Microsoft\Office.0\Outlook\Options\Mail
  // "EditorPreferences" (Outlook 10's mail editor choice) gets this value.
  std::optional<DWORD> editor_preferences;
  std::string profile = "Outlook";
  std::string store_path = kDefaultStorePath;  // Windows path of the profile's default store
};

// Writes the class registration (ProgID, CLSID, LocalServer32 = kServerPath), a stamped stand-in
// OUTLOOK.EXE with its stamped library files, the profile (made the default) with its default store
// holding "Contacts" and "Inbox" (created when missing). Installing again updates the versions and
// keeps stores and items. False with a reason on failure. Call on a machine whose registry exists.
bool install(const InstallOptions& options, std::string* why = nullptr);

// The installed version: the FileVersion of the LocalServer32 file of Outlook's class; "" when it
// cannot be read.
std::string installed_version();

// The machine's "one Outlook process" setting, off by default. On, OUTLOOK.EXE is a program of the
// machine: a starter that runs `program` (a host path: this build's `outlook`) on this machine,
// which COM starts with "/embedding" when a process creates "Outlook.Application" and no Outlook
// runs, so that every process of the machine reaches the one Outlook process. Off, OUTLOOK.EXE is
// a stand-in file that cannot run, and every process runs an Outlook of its own on a thread
// (sx/outlook/outlook_process.h). Its file version stays. Call on a machine where Outlook is
// installed; false with a reason on failure.
bool set_outlook_process(bool on, const std::filesystem::path& program = {},
                         std::string* why = nullptr);
// Whether the setting is on: OUTLOOK.EXE can run.
bool outlook_process_on();

// Serves "Outlook.Application" in this process through sx::com::register_local_server (done
// automatically when the library loads; calling again is harmless).
void register_server();

}  // namespace sx::outlook
