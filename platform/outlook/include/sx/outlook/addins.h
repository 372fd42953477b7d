// COM add-ins registered with Outlook, in the registry of the simulated machine:
//   HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins\<ProgID>
//     "FriendlyName", "Description" (text), "LoadBehavior" (32-bit)
// What the add-ins' own registration writes and what Outlook reads when it starts (docs/outlook.md
// has the meaning of "LoadBehavior" here). Every function reads the registry afresh; thread-safe
// as the registry is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win32/types.h"

namespace sx::outlook::addins {

inline constexpr char kAddinsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";

// "LoadBehavior" bits: loaded (connected), load when Outlook starts, load on demand.
inline constexpr DWORD kLoaded = 0x1;
inline constexpr DWORD kLoadAtStartup = 0x2;
inline constexpr DWORD kLoadOnDemand = 0x8;

struct Registration {
  std::string progid;
  std::string friendly_name;
  std::string description;
  std::optional<DWORD> load_behavior;  // absent: never loaded
};

// Every registered add-in, in ascending order of ProgID (the registry's order).
std::vector<Registration> list();
// Whether Outlook loads an add-in of this "LoadBehavior" when it starts: both the start-up and the
// loaded bit are set (3). 8 (held back), 2 (switched off) and 0 load nothing.
inline bool loads_at_startup(std::optional<DWORD> load_behavior) {
  return load_behavior &&
         (*load_behavior & (kLoaded | kLoadAtStartup)) == (kLoaded | kLoadAtStartup);
}
// Registers an add-in (creates or overwrites its key's values; an absent LoadBehavior is left out).
bool write(const Registration& registration, std::string* why = nullptr);
// Sets "LoadBehavior" of a registered add-in; false (nothing written) when its key is missing.
bool set_load_behavior(const std::string& progid, DWORD value, std::string* why = nullptr);
// The current "LoadBehavior" of one add-in.
std::optional<DWORD> load_behavior(const std::string& progid);

}  // namespace sx::outlook::addins
