// Outlook's profiles in the registry of the simulated machine:
//   HKEY_CURRENT_USER\Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging
//   Subsystem\Profiles
//     "DefaultProfile" = name of the default profile
//     <profile>\                       one key per profile
//       Stores\ "Store1", "Store2", ... Windows paths of its store files, in the order they were
//       added
//
// Thread-safe as the registry calls are; every function reads the registry afresh. Failures give
// false / nothing and a reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sx::outlook::profiles {

inline constexpr char kProfilesKey[] =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

std::vector<std::string> list();
std::optional<std::string> default_profile();
// The profile's own name as stored, found without regard to case.
std::optional<std::string> find(const std::string& name);
bool create(const std::string& name, bool make_default, std::string* why = nullptr);
std::vector<std::string> stores(const std::string& profile);
bool set_stores(const std::string& profile, const std::vector<std::string>& windows_paths,
                std::string* why = nullptr);

}  // namespace sx::outlook::profiles
