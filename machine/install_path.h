// The installation directory of Scribbix, as setup leaves it: HKLM\SOFTWARE\Vorlan
// Software\Scribbix "Path". Main thread of the machine tool.
#pragma once

#include <string>

namespace sx::machine_tool {

inline constexpr const char* kInstallKey = "SOFTWARE\\Vorlan Software\\Scribbix";
inline constexpr const char* kDefaultInstallPath = "C:\\Program Files\\Vorlan\\Scribbix";

// The installation directory (a Windows path): "Path" when it is set; otherwise `path`, which is
// written as "Path". The directory is made when missing. Throws sx::cli::Failure when the key
// cannot be written.
std::string installation_path(const std::string& path);

}  // namespace sx::machine_tool
