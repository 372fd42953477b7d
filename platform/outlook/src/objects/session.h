// The session of the one emulated Outlook of this process: the logged-on profile, its open stores,
// and the event sinks of folders. Used only on Outlook's thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "objects/events.h"
#include "outlook/outlook.h"
#include "sx/outlook/store.h"

namespace sx::outlook {

struct OpenStore {
  std::string windows_path;
  std::shared_ptr<Store> store;
};

// A folder as the object model names it: a store and a folder id in it.
struct FolderRef {
  std::shared_ptr<Store> store;
  std::uint32_t id = 0;
  bool operator<(const FolderRef& o) const {
    return std::make_pair(store.get(), id) < std::make_pair(o.store.get(), o.id);
  }
};

class Session {
 public:
  std::string version;

  // Called after every successful logon.
  std::function<void()> on_logon;

  bool logged_on() const { return logged_on_; }
  const std::string& profile() const { return profile_; }
  // Throws OutlookError (MAPI_E_LOGON_FAILED) for an unknown profile, a store of the profile that
  // cannot be opened, or when no profile is named and there is no default (a machine that asks for
  // a profile has none). Already logged on: nothing happens.
  void logon(const std::string& profile);
  void logoff();
  void ensure_logon() {
    if (!logged_on_) logon("");
  }

  // The profile's stores in order, each refreshed from its file.
  const std::vector<OpenStore>& stores();
  // Opens (creating when missing) and adds the store at a Windows path; persisted in the profile
  // when `persist`. Returns the open store. Throws OutlookError.
  std::shared_ptr<Store> add_store(const std::string& windows_path, bool persist);
  void remove_store(const Store* store);
  std::shared_ptr<Store> default_store();
  // The open store whose id is `id`, or null.
  std::shared_ptr<Store> store_by_id(const StoreId& id);

  // Event sinks per folder.
  Sinks<ItemsEvents>& folder_sinks(const FolderRef& folder) { return sinks_[folder]; }
  // Lets go of every sink (Outlook ends): a client's sink is released in its apartment.
  void drop_sinks();
  void raise_add(const FolderRef& folder, IDispatch* item);
  void raise_change(const FolderRef& folder, IDispatch* item);
  void raise_remove(const FolderRef& folder);

 private:
  // Opens a store file of the profile; a byte copy of a store in `open` gets an identity of its
  // own, so that entry ids never lead into the wrong file. Throws OutlookError.
  static std::shared_ptr<Store> open_store(const std::filesystem::path& host, bool create,
                                           const std::vector<OpenStore>& open,
                                           const std::string& windows_path);
  bool logged_on_ = false;
  std::string profile_;
  std::vector<OpenStore> stores_;
  std::map<FolderRef, Sinks<ItemsEvents>> sinks_;
};

// Throws MAPI_E_CORRUPT_DATA in Outlook's words, with what is damaged where, when the store has
// problems (Store::problems).
void refuse_if_damaged(const Store& store);
// Refreshes the store and returns its model; throws OutlookError when the file cannot be read, and
// MAPI_E_CORRUPT_DATA, with what is damaged where, when the store has problems (Store::problems).
const StoreModel& fresh(Store& store);
// The folder's state now; throws MAPI_E_OBJECT_DELETED when it is gone.
const FolderState& live_folder(const FolderRef& folder, bool refresh = true);
// The current local time as an automation date.
DATE now_date();

}  // namespace sx::outlook
