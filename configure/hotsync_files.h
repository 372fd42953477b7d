// HotSync's directory and what the conduit keeps in it for a Palm user, found as HotSync and the
// conduit find them, without the conduit: the directory from HotSync's "Core" key, the user's
// folder from HotSync's install aide, the conduit's folder from its registration. Never throws.
#pragma once

#include <string>

namespace sx::configure {

inline constexpr char kHotSyncCoreKey[] = "Software\\U.S. Robotics\\Pilot Desktop\\Core";

// HotSync's directory: "HotSyncPath" of the "Core" key up to (not including) its last backslash,
// else "Path" as it is. False when neither value reads.
bool ReadHotSyncDirectory(std::string* dir);

// The Palm user's desktop state file, "<HotSync directory>\<the user's folder>\<the conduit's
// "Directory">\<user>-Scribbix.VXS", whether or not it exists; empty when HotSync, the user or
// the conduit's registration is not there.
std::string UserStateFile(const std::string& palmUser);

}  // namespace sx::configure
