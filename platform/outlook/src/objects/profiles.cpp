#include "sx/outlook/profiles.h"

#include <windows.h>

#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "objects/registry_values.h"
#include "sx/outlook/store_data.h"

namespace sx::outlook::profiles {

using registry::read_text;
using registry::subkeys;

namespace {

std::string key_path(const std::string& profile) {
  return std::string(kProfilesKey) + "\\" + profile;
}

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

}  // namespace

std::vector<std::string> list() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  auto out = subkeys(key);
  RegCloseKey(key);
  return out;
}

std::optional<std::string> default_profile() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  auto name = read_text(key, "DefaultProfile");
  RegCloseKey(key);
  if (!name || name->empty()) return std::nullopt;
  return find(*name);
}

std::optional<std::string> find(const std::string& name) {
  for (const std::string& p : list())
    if (equal_ignoring_case(p, name)) return p;
  return std::nullopt;
}

bool create(const std::string& name, bool make_default, std::string* why) {
  if (name.empty() || name.find('\\') != std::string::npos) return fail(why, "bad profile name");
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key_path(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return fail(why, "cannot create the profile key");
  RegCloseKey(key);
  if (make_default) {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kProfilesKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      return fail(why, "cannot open the profiles key");
    LONG rc = RegSetValueExA(key, "DefaultProfile", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(name.c_str()),
                             static_cast<DWORD>(name.size() + 1));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return fail(why, "cannot write DefaultProfile");
  }
  return true;
}

std::vector<std::string> stores(const std::string& profile) {
  std::vector<std::string> out;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, (key_path(profile) + "\\Stores").c_str(), 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return out;
  for (int i = 1;; ++i) {
    auto path = read_text(key, ("Store" + std::to_string(i)).c_str());
    if (!path) break;
    // A list a writer was stopped in the middle of may name a store twice (set_stores).
    const bool listed = std::any_of(out.begin(), out.end(), [&](const std::string& known) {
      return ::strcasecmp(known.c_str(), path->c_str()) == 0;
    });
    if (!listed) out.push_back(*path);
  }
  RegCloseKey(key);
  return out;
}

bool set_stores(const std::string& profile, const std::vector<std::string>& paths,
                std::string* why) {
  // Written in place, one value after the other, then the values past the new list removed: a
  // process stopped at any point leaves every store of the old list that the new one keeps in the
  // profile (at worst one named twice, which reading skips, or the one taken out still there),
  // never a profile without its stores.
  const std::string path = key_path(profile) + "\\Stores";
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return fail(why, "cannot write the profile's store list");
  bool ok = true;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string name = "Store" + std::to_string(i + 1);
    if (read_text(key, name.c_str()) == paths[i]) continue;
    ok = ok && RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(paths[i].c_str()),
                              static_cast<DWORD>(paths[i].size() + 1)) == ERROR_SUCCESS;
  }
  // From the last one down, so that the list stays whole at every step.
  std::size_t last = paths.size();
  while (read_text(key, ("Store" + std::to_string(last + 1)).c_str())) ++last;
  for (std::size_t i = last; ok && i > paths.size(); --i) {
    ok = RegDeleteValueA(key, ("Store" + std::to_string(i)).c_str()) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok || fail(why, "cannot write the profile's store list");
}

}  // namespace sx::outlook::profiles
