#include "update1.h"

#include "method_runner.h"
#include "module_state.h"
#include "scribbix/notes_folder.h"

namespace sx::update {
namespace {

using sx::com::throw_if_failed;
using sx::com::Variant;

constexpr char kUpdateRootName[] = "VorlanSXUpdate";
constexpr char kUpdateFolderName[] = "SXUpdate";
constexpr ULONG stage_of(ULONG n) { return n << 16; }

VARIANT* target_of(VARIANT* arg) {
  if (arg != nullptr && arg->vt == (VT_BYREF | VT_VARIANT)) return arg->pvarVal;
  return arg;
}

}  // namespace

std::u16string text_of(VARIANT* arg) {
  VARIANT* v = target_of(arg);
  if (v == nullptr) return {};
  const Variant text = Variant(*v).changed_to(VT_BSTR);
  return sx::com::bstr_to_u16(text.get().bstrVal);
}

bool bool_of(VARIANT* arg) {
  VARIANT* v = target_of(arg);
  if (v == nullptr) return false;
  return Variant(*v).changed_to(VT_BOOL).get().boolVal != VARIANT_FALSE;
}

Update1::Update1() {
  build_dispatch_table();
  object_created();
}

Update1::~Update1() {
  // Outlook's objects go before the shared Application, so Outlook may end when it goes.
  current_item_ = nullptr;
  source_items_ = nullptr;
  destination_folder_ = nullptr;
  notes_root_ = nullptr;
  update_root_ = nullptr;
  namespace_ = nullptr;
  object_destroyed();
}

STDMETHODIMP Update1::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == _Update1::kIid ? S_OK : S_FALSE;
}

void Update1::name_update_store(ULONG& stage, VARIANT* newPst, bool add_store) {
  stage = stage_of(1);
  if (!namespace_) return;
  if (add_store) {
    const Variant path = Variant::from_bstr(text_of(newPst));
    throw_if_failed(namespace_->AddStore(path.get()));
  }
  stage = stage_of(2);
  ComPtr<_Folders> roots = folders_of(namespace_.Get());
  stage = stage_of(3);
  LONG n = count_of(roots.Get());
  if (n == 0) return;
  stage = stage_of(4);
  ComPtr<MAPIFolder> root = first_of(roots.Get());
  stage = stage_of(5);
  while (n > 0) {
    stage = stage_of(6);
    if (named(root.Get(), kUpdateRootName)) break;
    stage = stage_of(7);
    root = next_of(roots.Get());
    stage = stage_of(8);
    --n;
  }
  if (n == 0) return;
  stage = stage_of(9);
  ComPtr<_Folders> folders = folders_of(root.Get());
  stage = stage_of(10);
  LONG m = count_of(folders.Get());
  if (m > 0) {
    stage = stage_of(11);
    ComPtr<MAPIFolder> folder = first_of(folders.Get());
    stage = stage_of(12);
    while (m > 0) {
      if (named(folder.Get(), kUpdateFolderName)) {
        stage = stage_of(15);
        rename(folder.Get(), sx::common::kNotesFolderName);
        stage = 0;
        break;
      }
      stage = stage_of(13);
      folder = next_of(folders.Get());
      stage = stage_of(14);
      --m;
    }
  }
  rename(root.Get(), sx::common::kStoreRootName);
}

STDMETHODIMP Update1::AddPst(VARIANT* newPst, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(result,
                    "AddPst: ", [&](ULONG& stage) { name_update_store(stage, newPst, true); });
}

STDMETHODIMP Update1::RenameUpdate(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(
      result, "RenameUpdate: ", [&](ULONG& stage) { name_update_store(stage, nullptr, false); });
}

STDMETHODIMP Update1::FindFolder(VARIANT* folderName, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(result, "FindFolder: ", [&](ULONG& stage) {
    stage = stage_of(1);
    if (!namespace_) return;
    const std::u16string wanted = text_of(folderName);
    stage = stage_of(2);
    ComPtr<_Folders> roots = folders_of(namespace_.Get());
    stage = stage_of(3);
    LONG n = count_of(roots.Get());
    if (n == 0) return;
    ComPtr<MAPIFolder> root = first_of(roots.Get());
    stage = stage_of(4);
    while (n > 0) {
      stage = stage_of(5);
      if (!root) {
        stage = stage_of(10);
        return;
      }
      stage = stage_of(6);
      if (name_of(root.Get()) == wanted) {
        stage = 0;
        return;
      }
      stage = stage_of(7);
      root = next_of(roots.Get());
      stage = stage_of(8);
      --n;
    }
  });
}

void Update1::remove_store(ULONG& stage, const char* root_name, bool stage_before_first,
                           bool stage_before_remove) {
  stage = stage_of(1);
  if (!namespace_) return;
  stage = stage_of(2);
  ComPtr<_Folders> roots = folders_of(namespace_.Get());
  stage = stage_of(3);
  LONG n = count_of(roots.Get());
  if (n == 0) return;
  if (stage_before_first) stage = stage_of(4);
  ComPtr<MAPIFolder> root = first_of(roots.Get());
  stage = stage_of(4);
  while (n > 0) {
    stage = stage_of(5);
    if (named(root.Get(), root_name)) {
      if (stage_before_remove) stage = stage_of(8);
      throw_if_failed(namespace_->RemoveStore(root.Get()));
      stage = 0;
      return;
    }
    stage = stage_of(6);
    root = next_of(roots.Get());
    stage = stage_of(7);
    --n;
  }
}

STDMETHODIMP Update1::RemoveUpdateFolder(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(result, "RemoveUpdateFolder: ", [&](ULONG& stage) {
    remove_store(stage, kUpdateRootName, false, false);
  });
}

STDMETHODIMP Update1::RemoveScribbixFolder(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(result, nullptr, [&](ULONG& stage) {
    remove_store(stage, sx::common::kStoreRootName, true, true);
  });
}

STDMETHODIMP Update1::RenameX(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_staged(result, "RenameX: ", [&](ULONG& stage) {
    stage = stage_of(1);
    if (!namespace_) return;
    stage = stage_of(2);
    ComPtr<_Folders> roots = folders_of(namespace_.Get());
    stage = stage_of(3);
    LONG n = count_of(roots.Get());
    if (n == 0) return;
    stage = stage_of(4);
    ComPtr<MAPIFolder> root = first_of(roots.Get());
    stage = stage_of(5);
    while (n > 0) {
      stage = stage_of(6);
      if (named(root.Get(), sx::common::kStoreRootName)) {
        stage = stage_of(9);
        rename(root.Get(), kUpdateRootName);
        return;
      }
      stage = stage_of(7);
      root = next_of(roots.Get());
      stage = stage_of(8);
      --n;
    }
  });
}

STDMETHODIMP Update1::SetNameSpace(_NameSpace** newNameSpace, LONG* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr || newNameSpace == nullptr) return E_POINTER;
  if (namespace_) {
    *result = 0;
    return S_OK;
  }
  namespace_ = *newNameSpace;
  *result = 1;
  return S_OK;
}

ComPtr<MAPIFolder> Update1::find_notes_folder(LONG* code) {
  ComPtr<_Folders> roots = folders_of(namespace_.Get());
  LONG n = count_of(roots.Get());
  *code = scribbixupdate::kNotesFolderMissing;
  if (n == 0) return nullptr;
  ComPtr<MAPIFolder> root = first_of(roots.Get());
  for (; n > 0; --n) {
    if (named(root.Get(), sx::common::kStoreRootName)) {
      ComPtr<_Folders> folders = folders_of(root.Get());
      LONG m = count_of(folders.Get());
      if (m == 0) return nullptr;
      ComPtr<MAPIFolder> folder = first_of(folders.Get());
      for (; m > 0; --m) {
        if (named(folder.Get(), sx::common::kNotesFolderName)) return folder;
        folder = next_of(folders.Get());
      }
      return nullptr;  // only the first "Vorlan" is searched
    }
    root = next_of(roots.Get());
  }
  return nullptr;
}

STDMETHODIMP Update1::CountScribbix(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_trapped(
      result, "CountScribbix:",
      [&](LONG& code) {
        code = scribbixupdate::kNoNameSpace;
        if (!namespace_) return;
        ComPtr<MAPIFolder> folder = find_notes_folder(&code);
        if (!folder) return;
        ComPtr<_Items> items;
        throw_if_failed(folder->get_Items(items.ReleaseAndGetAddressOf()));
        if (items) throw_if_failed(items->get_Count(&code));
      },
      [](const sx::com::ComError&) {});
}

}  // namespace sx::update
