#include "hotsync_files.h"

#include <cstring>

#include "option_dialogs.h"
#include "registry_key.h"
#include "scribbix/desktop_files.h"
#include "windows.h"

namespace sx::configure {
namespace {

// Room for a folder name from the install aide, as for its user names.
constexpr short kFolderNameSize = 260;

// The user's folder in HotSync's directory, from the install aide there; empty when unknown.
std::string UserFolder(const std::string& hotSyncDir, const std::string& palmUser) {
  const std::string aide = hotSyncDir + "\\instaide.dll";
  HMODULE library = LoadLibraryExA(aide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return {};
  using FolderFn = int (*)(const char*, char*, short*);
  auto folder_fn = reinterpret_cast<FolderFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "PltGetUserDirectory")));
  std::string folder;
  char buffer[kFolderNameSize] = {};
  short size = kFolderNameSize;
  if (folder_fn != nullptr && folder_fn(palmUser.c_str(), buffer, &size) != 0)
    folder.assign(buffer, strnlen(buffer, sizeof buffer));
  FreeLibrary(library);
  return folder;
}

}  // namespace

bool ReadHotSyncDirectory(std::string* dir) {
  CRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, kHotSyncCoreKey, KEY_READ)) return false;
  if (key.ReadText("HotSyncPath", dir)) {
    const std::size_t slash = dir->rfind('\\');
    *dir = slash == std::string::npos ? "" : dir->substr(0, slash);
    return true;
  }
  return key.ReadText("Path", dir);
}

std::string UserStateFile(const std::string& palmUser) {
  std::string hotSyncDir, conduitFolder;
  if (palmUser.empty() || !ReadHotSyncDirectory(&hotSyncDir)) return {};
  CRegistryKey conduit;
  if (!conduit.Open(HKEY_CURRENT_USER, kConduitKey, KEY_READ) ||
      !conduit.ReadText("Directory", &conduitFolder) || conduitFolder.empty())
    return {};
  const std::string userFolder = UserFolder(hotSyncDir, palmUser);
  if (userFolder.empty()) return {};
  return hotSyncDir + "\\" + userFolder + "\\" + conduitFolder + "\\" +
         sx::common::StateFileName(sx::common::DesktopFileName(palmUser));
}

}  // namespace sx::configure
