// Installing the Outlook stand-in on the simulated machine (what Outlook's setup would leave), and
// serving "Outlook.Application" in this process.
#pragma once

#include <string>

namespace sx::outlook {

inline constexpr char kServerPath[] = "C:\\Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE";
inline constexpr char kProgId[] = "Outlook.Application";
inline constexpr char kDefaultStorePath[] =
    "C:\\Documents and Settings\\User\\Local Settings\\Application "
    "Data\\Microsoft\\Outlook\\outlook.pst";

struct InstallOptions {
  std::string version = "9.0.0.3821";  // file version of OUTLOOK.EXE, what Application.Version says
  std::string profile = "Outlook";
  std::string store_path = kDefaultStorePath;  // Windows path of the profile's default store
};

// Writes the class registration (ProgID, CLSID, LocalServer32 = kServerPath), a stamped stand-in
// OUTLOOK.EXE, the profile (made the default) with its default store holding "Contacts" and
// "Inbox" (created when missing). Installing again updates the version and keeps stores and items.
// False with a reason on failure. Call on a machine whose registry exists.
bool install(const InstallOptions& options, std::string* why = nullptr);

// The installed version: the FileVersion of the LocalServer32 file of Outlook's class; "" when it
// cannot be read.
std::string installed_version();

// Serves "Outlook.Application" in this process through sx::com::register_local_server (done
// automatically when the library loads; calling again is harmless).
void register_server();

}  // namespace sx::outlook
