#include <windows.h>

#include "objects/registry_values.h"
#include "sx/outlook/addins.h"

namespace sx::outlook::addins {

namespace {

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

std::string key_of(const std::string& progid) { return std::string(kAddinsKey) + "\\" + progid; }

}  // namespace

std::vector<Registration> list() {
  std::vector<Registration> out;
  HKEY all;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kAddinsKey, 0, KEY_READ, &all) != ERROR_SUCCESS) return out;
  for (const std::string& progid : registry::subkeys(all)) {
    HKEY key;
    if (RegOpenKeyExA(all, progid.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    Registration r;
    r.progid = progid;
    r.friendly_name = registry::read_text(key, "FriendlyName").value_or("");
    r.description = registry::read_text(key, "Description").value_or("");
    r.load_behavior = registry::read_dword(key, "LoadBehavior");
    RegCloseKey(key);
    out.push_back(std::move(r));
  }
  RegCloseKey(all);
  return out;
}

bool write(const Registration& registration, std::string* why) {
  if (registration.progid.empty() || registration.progid.find('\\') != std::string::npos)
    return fail(why, "bad ProgID \"" + registration.progid + "\"");
  const std::string path = key_of(registration.progid);
  bool ok = registry::write_text(path, "FriendlyName", registration.friendly_name) &&
            registry::write_text(path, "Description", registration.description);
  if (ok && registration.load_behavior)
    ok = registry::write_dword(path, "LoadBehavior", *registration.load_behavior);
  return ok || fail(why, "cannot write the add-in's registration");
}

bool set_load_behavior(const std::string& progid, DWORD value, std::string* why) {
  HKEY key;
  if (progid.empty() || RegOpenKeyExA(HKEY_CURRENT_USER, key_of(progid).c_str(), 0, KEY_ALL_ACCESS,
                                      &key) != ERROR_SUCCESS)
    return fail(why, "the add-in \"" + progid + "\" is not registered");
  const LONG rc = RegSetValueExA(key, "LoadBehavior", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || fail(why, "cannot write LoadBehavior");
}

std::optional<DWORD> load_behavior(const std::string& progid) {
  HKEY key;
  if (progid.empty() ||
      RegOpenKeyExA(HKEY_CURRENT_USER, key_of(progid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  auto value = registry::read_dword(key, "LoadBehavior");
  RegCloseKey(key);
  return value;
}

}  // namespace sx::outlook::addins
