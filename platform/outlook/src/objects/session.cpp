#include "objects/session.h"

#include <algorithm>

#include "objects/errors.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/profiles.h"
#include "sx/paths.h"
#include "windows.h"

namespace sx::outlook {

void refuse_if_damaged(const Store& store) {
  if (store.problems().empty()) return;
  // What cannot be read would look deleted: nobody works with the store until it is repaired.
  // Named as Outlook names it: its Windows path.
  const std::string windows_path = sx::paths::to_windows(store.path());
  const std::string shown = windows_path.empty() ? store.path().string() : windows_path;
  raise(MAPI_E_CORRUPT_DATA, "Errors have been detected in the file " + shown +
                                 ". Quit all mail-enabled applications, and then use the Inbox "
                                 "Repair Tool. (" +
                                 describe_problems(store.problems()) + ".)");
}

const StoreModel& fresh(Store& store) {
  std::string why;
  if (!store.refresh(&why)) raise(E_FAIL, "The store file cannot be read: " + why);
  refuse_if_damaged(store);
  return store.model();
}

const FolderState& live_folder(const FolderRef& folder, bool refresh) {
  if (!folder.store) raise(MAPI_E_NOT_FOUND, "The item is in no folder yet.");
  const StoreModel& m = refresh ? fresh(*folder.store) : folder.store->model();
  const FolderState* f = m.folder(folder.id);
  if (f == nullptr) raise(MAPI_E_OBJECT_DELETED, "The folder has been deleted.");
  return *f;
}

DATE now_date() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  DATE d = 0;
  SystemTimeToVariantTime(&t, &d);
  return d + t.wMilliseconds / 86400000.0;
}

std::shared_ptr<Store> Session::open_store(const std::filesystem::path& host, bool create,
                                           const std::vector<OpenStore>& open,
                                           const std::string& windows_path) {
  std::string why;
  Store::Options options;
  options.create_if_missing = create;
  auto store = host.empty() ? nullptr : Store::open(host, options, &why);
  if (!store) {
    raise(create ? E_FAIL : MAPI_E_LOGON_FAILED,
          "The personal folders file " + windows_path + " cannot be opened. " + why);
  }
  for (const OpenStore& other : open) {
    if (other.store->model().store_id() != store->model().store_id()) continue;
    if (!store->take_new_identity(&why))
      raise(E_FAIL, "The personal folders file " + windows_path + " cannot be told apart from " +
                        other.windows_path + ". " + why);
    break;
  }
  return store;
}

void Session::logon(const std::string& requested) {
  if (logged_on_) return;
  std::optional<std::string> name;
  if (!requested.empty()) {
    name = profiles::find(requested);
    if (!name) raise(MAPI_E_LOGON_FAILED, "The profile \"" + requested + "\" does not exist.");
  } else if (prompts_for_profile()) {
    raise(MAPI_E_LOGON_FAILED, "No profile was chosen; name a profile to log on.");
  } else {
    name = profiles::default_profile();
    if (!name)
      raise(MAPI_E_LOGON_FAILED, "No profile is set up as the default; name a profile to log on.");
  }
  std::vector<OpenStore> opened;
  for (const std::string& path : profiles::stores(*name)) {
    auto store = open_store(sx::paths::to_host(path), false, opened, path);
    // As Outlook does as it starts: a damaged file of the profile stops the logon.
    refuse_if_damaged(*store);
    opened.push_back({path, std::move(store)});
  }
  stores_ = std::move(opened);
  profile_ = *name;
  logged_on_ = true;
  if (on_logon) on_logon();
}

void Session::logoff() {
  logged_on_ = false;
  profile_.clear();
  stores_.clear();
}

const std::vector<OpenStore>& Session::stores() {
  ensure_logon();
  return stores_;
}

std::shared_ptr<Store> Session::add_store(const std::string& windows_path, bool persist) {
  ensure_logon();
  sx::paths::Mapped mapped = sx::paths::map(windows_path);
  if (mapped.error != 0 || mapped.host.empty())
    raise(E_INVALIDARG, "The path " + windows_path + " is not valid.");
  for (const OpenStore& s : stores_) {
    std::error_code ec;
    if (std::filesystem::equivalent(s.store->path(), mapped.host, ec)) return s.store;
  }
  std::string why;
  auto store = open_store(mapped.host, true, stores_, windows_path);
  stores_.push_back({windows_path, store});
  if (persist) {
    std::vector<std::string> paths;
    for (const OpenStore& s : stores_) paths.push_back(s.windows_path);
    if (!profiles::set_stores(profile_, paths, &why))
      raise(E_FAIL, "The profile cannot be changed: " + why);
  }
  return store;
}

void Session::remove_store(const Store* store) {
  auto it = std::find_if(stores_.begin(), stores_.end(),
                         [&](const OpenStore& s) { return s.store.get() == store; });
  if (it == stores_.end())
    raise(E_INVALIDARG, "The folder is not the root of a store in this profile.");
  stores_.erase(it);
  std::vector<std::string> paths;
  for (const OpenStore& s : stores_) paths.push_back(s.windows_path);
  std::string why;
  if (!profiles::set_stores(profile_, paths, &why))
    raise(E_FAIL, "The profile cannot be changed: " + why);
}

std::shared_ptr<Store> Session::default_store() {
  ensure_logon();
  if (stores_.empty()) raise(MAPI_E_NOT_FOUND, "The profile has no store.");
  return stores_.front().store;
}

std::shared_ptr<Store> Session::store_by_id(const StoreId& id) {
  for (const OpenStore& s : stores_)
    if (s.store->model().store_id() == id) return s.store;
  return nullptr;
}

void Session::drop_sinks() {
  auto gone = std::move(sinks_);
  sinks_.clear();
}

// Sinks are called on a copy of the list, so that they may advise and unadvise while called.
void Session::raise_add(const FolderRef& folder, IDispatch* item) {
  if (auto it = sinks_.find(folder); it != sinks_.end())
    it->second.raise([&](ItemsEvents* sink) { return sink->ItemAdd(item); });
}
void Session::raise_change(const FolderRef& folder, IDispatch* item) {
  if (auto it = sinks_.find(folder); it != sinks_.end())
    it->second.raise([&](ItemsEvents* sink) { return sink->ItemChange(item); });
}
void Session::raise_remove(const FolderRef& folder) {
  if (auto it = sinks_.find(folder); it != sinks_.end())
    it->second.raise([](ItemsEvents* sink) { return sink->ItemRemove(); });
}

}  // namespace sx::outlook
