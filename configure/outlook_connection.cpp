// The checker's connection to Outlook: starting it with the add-ins held back, the logon, the
// release, and counting and probing the notes folder.
#include <optional>

#include "component_checker.h"
#include "messages.h"
#include "registry_key.h"
#include "scribbix/damaged_store.h"
#include "scribbix/notes_folder.h"
#include "windows.h"

namespace sx::configure {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

// "LoadBehavior" while Outlook starts: load on demand only, so neither add-in loads.
constexpr DWORD kHeldBack = 8;
constexpr DWORD kLoadAtStartup = 2;
constexpr DWORD kLoadOnDemand = 8;
// The folder an update builds beside the notes folder before it takes the notes folder's place.
constexpr char kUpdateFolderName[] = "SXUpdate";

// The first folder of `folders` named exactly `name` (walked with GetFirst/GetNext), or null.
ComPtr<MAPIFolder> FindFolderByName(_Folders* folders, const char* name) {
  ComPtr<MAPIFolder> folder;
  throw_if_failed(folders->GetFirst(folder.ReleaseAndGetAddressOf()));
  while (folder) {
    Bstr folder_name;
    throw_if_failed(folder->get_Name(folder_name.put()));
    if (folder_name.ansi() == name) return folder;
    throw_if_failed(folders->GetNext(folder.ReleaseAndGetAddressOf()));
  }
  return nullptr;
}

// Reads the item's "CreationTime" by name through its dispatch interface.
HRESULT ReadCreationTime(IDispatch* item) {
  std::u16string name = u"CreationTime";
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = item->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS none{};
  Variant value;
  return item->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      &none, value.put(), nullptr, nullptr);
}

}  // namespace

Variant Omitted() { return Variant::from_error(DISP_E_PARAMNOTFOUND); }

void CComponentChecker::StartWatcher() {
  if (!watcher_) watcher_ = std::make_unique<CProfilePromptWatcher>();
  watcher_->start();
}

long CComponentChecker::StartOutlook() {
  notesAddInAtStartup_ = false;
  monitorAddInAtStartup_ = false;
  if (outlookApp_) return 0;
  struct HeldAddIn {
    const char* progId;
    bool* atStartup;
    std::optional<DWORD> restore;
  } held[] = {{kMonitorAddInProgId, &monitorAddInAtStartup_, std::nullopt},
              {kNotesAddInProgId, &notesAddInAtStartup_, std::nullopt}};
  for (HeldAddIn& addIn : held) {
    CRegistryKey key;
    DWORD old = 0;
    if (!key.Open(HKEY_CURRENT_USER, std::string(kAddinsKey) + addIn.progId, 0) ||
        !key.ReadDword("LoadBehavior", &old))
      continue;
    key.WriteDword("LoadBehavior", kHeldBack);
    if ((old & kLoadAtStartup) != 0) {
      *addIn.atStartup = true;
      addIn.restore = old;
    } else if ((old & kLoadOnDemand) != 0) {
      // An add-in that loads only on demand loads at every start from now on.
      addIn.restore = (old & ~kLoadOnDemand) | kLoadAtStartup;
    } else {
      addIn.restore = old;
    }
  }
  // An Outlook that asks for a profile shows its chooser as it starts, and answers no call until
  // the chooser is closed. The watcher cancels it, so that the program logs on to the profile it
  // means whoever started Outlook; it already looks while Outlook starts, and gets its three
  // seconds anew once Outlook runs.
  StartWatcher();
  try {
    CLSID clsid{};
    throw_if_failed(CLSIDFromProgID(u"Outlook.Application", &clsid));
    ComPtr<_Application> app;
    throw_if_failed(
        CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Application::kIid, app.PutVoid()));
    outlookApp_ = app;
    if (!outlookApp_) ShowMessage("Outlook Failure");
  } catch (const ComError& e) {
    ShowComError(e);
    ShowOutlookProblem();
  }
  for (const HeldAddIn& addIn : held) {
    if (!addIn.restore) continue;
    CRegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, std::string(kAddinsKey) + addIn.progId, 0))
      key.WriteDword("LoadBehavior", *addIn.restore);
  }
  if (!outlookApp_) {
    watcher_->stop();
    return -1;
  }
  StartWatcher();
  return 0;
}

void CComponentChecker::NoteDamagedFile(const ComError& error) {
  const std::string file =
      sx::common::damaged_outlook_file(error.Description() != nullptr ? error.Description() : "");
  if (!file.empty()) damagedFile_ = file;
}

long CComponentChecker::LogonProfile(const std::string& profile) {
  StartOutlook();
  if (!outlookApp_) return 3;
  if (nameSpace_) return 0;
  try {
    throw_if_failed(
        outlookApp_->GetNamespace(Bstr(u"MAPI").get(), nameSpace_.ReleaseAndGetAddressOf()));
  } catch (const ComError& e) {
    ShowComError(e);
    nameSpace_ = nullptr;
  }
  if (!nameSpace_) return 2;
  Variant name = Variant::from_ansi(profile);
  Variant newSession = Variant::from_ui1(1);
  HRESULT hr = S_OK;
  damagedFile_.clear();
  try {
    hr = throw_if_failed(
        nameSpace_->Logon(name.get(), Omitted().get(), Omitted().get(), newSession.get()));
  } catch (const ComError& e) {
    // A refused logon is reported and the profile counts as not logged on.
    ShowComError(e);
    NoteDamagedFile(e);
    hr = S_FALSE;
  }
  if (hr != S_OK) {
    nameSpace_ = nullptr;
    return 1;
  }
  return 0;
}

void CComponentChecker::ReleaseOutlook() {
  nameSpace_ = nullptr;
  outlookApp_ = nullptr;
  Sleep(1000);
}

long CComponentChecker::CountFolderEntries() {
  if (!nameSpace_) return -1;
  try {
    ComPtr<_Folders> roots;
    throw_if_failed(nameSpace_->get_Folders(roots.ReleaseAndGetAddressOf()));
    LONG count = 0;
    throw_if_failed(roots->get_Count(&count));
    if (count <= 0) return -1;
    ComPtr<MAPIFolder> root = FindFolderByName(roots.Get(), sx::common::kStoreRootName);
    if (!root) return -1;
    ComPtr<_Folders> subfolders;
    throw_if_failed(root->get_Folders(subfolders.ReleaseAndGetAddressOf()));
    ComPtr<MAPIFolder> folder = FindFolderByName(subfolders.Get(), sx::common::kNotesFolderName);
    if (!folder) return -1;
    ComPtr<_Items> items;
    throw_if_failed(folder->get_Items(items.ReleaseAndGetAddressOf()));
    LONG n = 0;
    throw_if_failed(items->get_Count(&n));
    if (n > 0) {
      ComPtr<IDispatch> first;
      const HRESULT hr = items->GetFirst(first.ReleaseAndGetAddressOf());
      if (FAILED(hr)) return hr;
      if (!first) return -1;
      if (FAILED(ReadCreationTime(first.Get()))) return PROBE_FAILED;
      return n;
    }
    const long r = ProbeEmptyFolder(folder.Get());
    return r != 0 ? r : 0;
  } catch (const ComError& e) {
    ShowComError(e);
    NoteDamagedFile(e);
    return -1;
  }
}

bool CComponentChecker::RemoveUnfinishedUpdateFolder() {
  if (!nameSpace_) return false;
  try {
    ComPtr<_Folders> roots;
    throw_if_failed(nameSpace_->get_Folders(roots.ReleaseAndGetAddressOf()));
    ComPtr<MAPIFolder> root = FindFolderByName(roots.Get(), sx::common::kStoreRootName);
    if (!root) return false;
    ComPtr<_Folders> subfolders;
    throw_if_failed(root->get_Folders(subfolders.ReleaseAndGetAddressOf()));
    ComPtr<MAPIFolder> unfinished = FindFolderByName(subfolders.Get(), kUpdateFolderName);
    if (!unfinished) return false;
    throw_if_failed(unfinished->Delete());
    return true;
  } catch (const ComError& e) {
    ShowComError(e);
    return false;
  }
}

long CComponentChecker::ProbeEmptyFolder(MAPIFolder* folder) {
  if (!nameSpace_) return -1;
  ComPtr<_PostItem> post;
  long result = -1;
  try {
    ComPtr<_Items> items;
    throw_if_failed(folder->get_Items(items.ReleaseAndGetAddressOf()));
    ComPtr<IDispatch> added;
    throw_if_failed(items->Add(Omitted().get(), added.ReleaseAndGetAddressOf()));
    if (added && SUCCEEDED(added->QueryInterface(_PostItem::kIid, post.PutVoid())) && post) {
      throw_if_failed(post->put_MessageClass(Bstr(u"IPM.Post").get()));
      throw_if_failed(post->put_Subject(Bstr(u"Scribbix Test Message").get()));
      throw_if_failed(post->put_Body(Bstr(u"Scribbix Test Message").get()));
      throw_if_failed(post->put_Sensitivity(0));
      throw_if_failed(post->put_Categories(Bstr(u"").get()));
      throw_if_failed(post->put_BillingInformation(Bstr(u"").get()));
      throw_if_failed(post->put_Companies(Bstr(u"").get()));
      throw_if_failed(post->put_Importance(1));
      throw_if_failed(post->Close(0));
    }
    throw_if_failed(folder->get_Items(items.ReleaseAndGetAddressOf()));
    LONG n = 0;
    throw_if_failed(items->get_Count(&n));
    if (n == 0) {
      result = -1;
    } else {
      ComPtr<IDispatch> first;
      const HRESULT hr = items->GetFirst(first.ReleaseAndGetAddressOf());
      if (FAILED(hr)) {
        result = hr;
      } else {
        result = first && SUCCEEDED(ReadCreationTime(first.Get())) ? 0 : PROBE_FAILED;
      }
    }
  } catch (const ComError& e) {
    ShowComError(e);
    result = -1;
  }
  // The test post goes again whatever else the folder holds by now (a HotSync may have saved notes
  // meanwhile): only the post this probe saved is deleted, never the first item of the folder.
  if (post) {
    try {
      throw_if_failed(post->Delete());
    } catch (const ComError& e) {
      ShowComError(e);
    }
  }
  return result;
}

}  // namespace sx::configure
