#include "notes_setup.h"

#include <algorithm>
#include <filesystem>

#include "scribbix/notes_folder.h"
#include "sx/cli/terminal_text.h"
#include "sx/outlook/install.h"
#include "sx/outlook/profiles.h"
#include "sx/outlook/store.h"
#include "sx/paths.h"
#include "windows.h"

namespace sx::machine_tool {

std::string notes_store_path(const std::string& user) {
  // Where the configuration program installs it: the installation directory, when setup left one.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sx::common::kInstallationKey, 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    char dir[MAX_PATH] = {};
    DWORD size = sizeof dir - 1, type = 0;
    const LONG read =
        RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(dir), &size);
    RegCloseKey(key);
    if (read == ERROR_SUCCESS && type == REG_SZ && dir[0] != '\0') {
      return std::string(dir) + "\\" + sx::common::NotesFileName(user);
    }
  }
  const std::string store = sx::outlook::kDefaultStorePath;
  return store.substr(0, store.rfind('\\') + 1) + sx::common::NotesFileName(user);
}

bool valid_notes_store_user(const std::string& user, std::string* why) {
  const std::string name = sx::common::NotesFileName(user);
  for (char c : name) {
    if (c == '\\' || c == '/' || sx::paths::is_illegal_name_char(c)) {
      if (why != nullptr) {
        *why = "The user name \"" + sx::cli::ansi_to_terminal(user) +
               "\" cannot name the user's notes store \"" + sx::cli::ansi_to_terminal(name) +
               "\": a Windows file name cannot hold \\ / : * ? \" < > | or control characters. "
               "Choose a name without them";
      }
      return false;
    }
  }
  return true;
}

bool install_notes_store(const std::string& profile, const std::string& user, std::string* why) {
  const auto profiles = sx::outlook::profiles::list();
  if (std::find(profiles.begin(), profiles.end(), profile) == profiles.end()) {
    if (why != nullptr) *why = "Outlook has no profile \"" + profile + "\"";
    return false;
  }
  const std::string path = notes_store_path(user);
  const std::filesystem::path host = sx::paths::to_host(path);
  std::error_code ec;
  std::filesystem::create_directories(host.parent_path(), ec);
  sx::outlook::Store::Options options;
  options.create_if_missing = true;
  options.root_name = "Vorlan";
  {
    auto store = sx::outlook::Store::open(host, options, why);
    if (!store) return false;
    bool has_folder = false;
    for (std::uint32_t child : store->model().root()->children) {
      const auto* folder = store->model().folder(child);
      has_folder |= folder != nullptr && folder->record.name == "Scribbix";
    }
    if (!has_folder) {
      sx::outlook::FolderRecord folder;
      folder.parent = sx::outlook::format::kRootFolderId;
      folder.name = "Scribbix";
      folder.default_item_type = sx::outlook::kPostItemType;
      folder.default_message_class = "IPM.Post.ScribbixPost2";
      if (!store->put_folder(&folder, why)) return false;
    }
  }
  auto stores = sx::outlook::profiles::stores(profile);
  if (std::find(stores.begin(), stores.end(), path) != stores.end()) return true;
  stores.push_back(path);
  return sx::outlook::profiles::set_stores(profile, stores, why);
}

bool pair_profile(const std::string& user, const std::string& profile, std::string* why) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles", 0,
                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (r == ERROR_SUCCESS) {
    r = RegSetValueExA(key, user.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(profile.c_str()),
                       static_cast<DWORD>(profile.size() + 1));
    RegCloseKey(key);
  }
  if (r != ERROR_SUCCESS && why != nullptr) {
    *why = "the profile pairing cannot be written (error " + std::to_string(r) + ")";
  }
  return r == ERROR_SUCCESS;
}

}  // namespace sx::machine_tool
