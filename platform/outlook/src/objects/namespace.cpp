#include "objects/objects.h"
#include "server/outlook_process.h"
#include "win32/codepage.h"

namespace sx::outlook {

namespace {

sx::com::Variant given(const VARIANT& v) {
  sx::com::Variant value(v);
  if (value.vt() == (VT_BYREF | VT_VARIANT)) value = sx::com::Variant(*v.pvarVal);
  if (value.is_null() || value.vt() == VT_ERROR) return sx::com::Variant();
  return value;
}

// An optional text in the machine's ANSI code page: profile names and store paths are kept there
// (the registry, the drive's file names), as MAPI keeps them on Windows.
std::string optional_ansi_text(const VARIANT& v) {
  sx::com::Variant value = given(v);
  if (value.is_empty()) return "";
  const sx::com::Variant text = value.changed_to(VT_BSTR);
  const BSTR b = text.get().bstrVal;
  return sx::codepage::wide_to_ansi(std::u16string_view(b, b != nullptr ? SysStringLen(b) : 0));
}

// An optional yes/no argument; omitted is no.
bool optional_flag(const VARIANT& v) {
  sx::com::Variant value = given(v);
  return !value.is_empty() && value.to_bool();
}

}  // namespace

const Members<NameSpaceImpl>& NameSpaceImpl::members() {
  static const Members<NameSpaceImpl> m = [] {
    using M = Members<NameSpaceImpl>;
    M m;
    m.get(u"Type", &NameSpaceImpl::get_Type);
    m.get(u"CurrentProfileName", &NameSpaceImpl::get_CurrentProfileName);
    m.get(u"Folders", &NameSpaceImpl::get_Folders);
    m.add(u"Logon", [](NameSpaceImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      VARIANT missing;
      missing.vt = VT_ERROR;
      missing.scode = DISP_E_PARAMNOTFOUND;
      auto arg = [&](UINT i) { return a.omitted(i) ? missing : *a.at(i); };
      return self.Logon(arg(0), arg(1), arg(2), arg(3));
    });
    m.add(u"Logoff", [](NameSpaceImpl& self, WORD, const sx::com::DispatchArgs&, VARIANT*) {
      return self.Logoff();
    });
    m.add(u"GetDefaultFolder",
          [](NameSpaceImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
            sx::com::Variant type;
            HRESULT hr = a.get(0, VT_I4, &type);
            if (FAILED(hr)) return hr;
            MAPIFolder* f = nullptr;
            hr = self.GetDefaultFolder(type.get().lVal, &f);
            if (SUCCEEDED(hr)) M::to_variant(f, r);
            return hr;
          });
    m.add(u"AddStore", [](NameSpaceImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      return self.AddStore(*a.at(0));
    });
    m.add(u"RemoveStore", [](NameSpaceImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      sx::com::Variant f;
      HRESULT hr = a.get(0, VT_DISPATCH, &f);
      if (FAILED(hr)) return hr;
      sx::com::ComPtr<MAPIFolder> folder;
      if (f.get().pdispVal == nullptr ||
          FAILED(f.get().pdispVal->QueryInterface(IID_PPV_ARGS(folder.ReleaseAndGetAddressOf()))))
        return DISP_E_TYPEMISMATCH;
      return self.RemoveStore(folder.Get());
    });
    return m;
  }();
  return m;
}

STDMETHODIMP NameSpaceImpl::get_Type(BSTR* type) {
  return call("get_Type", [&] {
    need(type);
    *type = out_text("MAPI");
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::get_CurrentProfileName(BSTR* name) {
  return call("get_CurrentProfileName", [&] {
    need(name);
    *name = out_text(sx::codepage::ansi_to_utf8(app_->session().profile()));
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::get_Folders(_Folders** folders) {
  return call("get_Folders", [&] {
    need(folders);
    *folders = nullptr;
    app_->session().ensure_logon();
    hand_out(sx::com::make_object<FoldersImpl>(app_, std::nullopt), folders);
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::Logon(VARIANT profile, VARIANT, VARIANT show_dialog, VARIANT) {
  return call("Logon", [&] {
    Session& session = app_->session();
    if (session.logged_on()) return S_OK;
    const std::string name = optional_ansi_text(profile);
    if (name.empty() && optional_flag(show_dialog)) {
      if (!app_->process().choose_profile())
        raise(MAPI_E_USER_CANCEL, "The logon was cancelled: no profile was chosen.");
      return S_OK;
    }
    session.logon(name);
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::Logoff() {
  return call("Logoff", [&] {
    app_->session().logoff();
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::GetDefaultFolder(LONG folder_type, MAPIFolder** folder) {
  return call("GetDefaultFolder", [&] {
    need(folder);
    *folder = nullptr;
    FolderRole role;
    if (folder_type == olFolderContacts)
      role = FolderRole::kContacts;
    else if (folder_type == olFolderInbox)
      role = FolderRole::kInbox;
    else
      raise(E_INVALIDARG, "This kind of default folder is not available.");
    auto store = app_->session().default_store();
    const StoreModel& m = fresh(*store);
    std::vector<std::uint32_t> queue = {format::kRootFolderId};
    for (std::size_t i = 0; i < queue.size(); ++i) {
      const FolderState* f = m.folder(queue[i]);
      if (f == nullptr) continue;
      if (f->record.role == role) {
        hand_out(sx::com::make_object<FolderImpl>(app_, FolderRef{store, f->record.id}), folder);
        return S_OK;
      }
      queue.insert(queue.end(), f->children.begin(), f->children.end());
    }
    raise(MAPI_E_NOT_FOUND, "The default store has no such folder.");
  });
}

STDMETHODIMP NameSpaceImpl::AddStore(VARIANT path) {
  return call("AddStore", [&] {
    const std::string text = optional_ansi_text(path);
    if (text.empty()) raise(E_INVALIDARG, "The path of the personal folders file is missing.");
    app_->session().add_store(text, true);
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::RemoveStore(MAPIFolder* root) {
  return call("RemoveStore", [&] {
    FolderImpl* f = FolderImpl::from(root);
    if (f->ref().id != format::kRootFolderId)
      raise(E_INVALIDARG, "The folder is not the root of a store.");
    app_->session().ensure_logon();
    app_->session().remove_store(f->ref().store.get());
    return S_OK;
  });
}

STDMETHODIMP NameSpaceImpl::GetItemFromID(BSTR entry_id, VARIANT, IDispatch** item) {
  return call("GetItemFromID", [&] {
    need(item);
    *item = nullptr;
    auto parsed = parse_entry_id(in_text(entry_id));
    Session& s = app_->session();
    s.ensure_logon();
    auto store = parsed ? s.store_by_id(parsed->first) : nullptr;
    const StoredItem* it = store ? fresh(*store).item(parsed->second) : nullptr;
    if (it == nullptr) raise(MAPI_E_NOT_FOUND, "The item could not be found.");
    hand_out(make_item(app_, FolderRef{store, it->folder}, it->id, it->data), item);
    return S_OK;
  });
}

}  // namespace sx::outlook
