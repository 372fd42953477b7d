// The names of a Palm user's desktop files, which the conduit writes and the configuration program
// must find: the desktop file in the installation directory, and beside HotSync's user folder the
// desktop state file (the notes as they were after the last HotSync). The configuration program
// sets a user's state file aside when it gives the user a fresh notes folder, so that the next
// HotSync takes the handheld's notes in instead of deleting them.
#pragma once

#include <cstring>
#include <string>

namespace sx::common {

// "<user>-Scribbix.sxz": the user's name with control characters and \ / : * ? " < > | made "_",
// so that it never names another folder.
inline std::string DesktopFileName(const std::string& palmUser) {
  std::string name = palmUser;
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) c = '_';
  }
  return name + "-Scribbix.sxz";
}

// The state file's name for a desktop file: its name (after its last '\') cut before its last
// '.', then ".VXS". It lies in the conduit's folder of the user's HotSync folder.
inline std::string StateFileName(const std::string& desktopFile) {
  const auto slash = desktopFile.find_last_of('\\');
  std::string name = slash == std::string::npos ? desktopFile : desktopFile.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  return name + ".VXS";
}

}  // namespace sx::common
