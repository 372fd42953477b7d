#include <functional>

#include "objects/objects.h"

namespace sx::outlook {

namespace {

template <class M>
void add_index_method(M& m, std::u16string_view name, auto method) {
  m.add(name, [method](auto& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
    if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
    MAPIFolder* f = nullptr;
    HRESULT hr = (self.*method)(*a.at(0), &f);
    if (SUCCEEDED(hr)) M::to_variant(f, r);
    return hr;
  });
}

}  // namespace

// ---- MAPIFolder ----

FolderImpl* FolderImpl::from(MAPIFolder* folder) {
  need(folder);
  void* impl = nullptr;
  if (FAILED(folder->QueryInterface(kFolderImplIid, &impl)) || impl == nullptr)
    raise(E_INVALIDARG, "The folder is not an Outlook folder.");
  auto* f = static_cast<FolderImpl*>(impl);
  f->Release();  // the caller's reference keeps it
  return f;
}

const Members<FolderImpl>& FolderImpl::members() {
  static const Members<FolderImpl> m = [] {
    using M = Members<FolderImpl>;
    M m;
    m.prop(u"Name", &FolderImpl::get_Name, &FolderImpl::put_Name);
    m.get(u"Folders", &FolderImpl::get_Folders);
    m.get(u"Items", &FolderImpl::get_Items);
    m.get(u"Parent", &FolderImpl::get_Parent);
    m.get(u"DefaultItemType", &FolderImpl::get_DefaultItemType);
    m.get(u"DefaultMessageClass", &FolderImpl::get_DefaultMessageClass);
    m.get(u"EntryID", &FolderImpl::get_EntryID);
    m.get(u"StoreID", &FolderImpl::get_StoreID);
    m.add(u"CopyTo", [](FolderImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::ComPtr<MAPIFolder> dest;
      HRESULT hr = folder_argument(a, 0, &dest);
      if (FAILED(hr)) return hr;
      MAPIFolder* copy = nullptr;
      hr = self.CopyTo(dest.Get(), &copy);
      if (SUCCEEDED(hr)) M::to_variant(copy, r);
      return hr;
    });
    m.add(u"Delete", [](FolderImpl& self, WORD, const sx::com::DispatchArgs&, VARIANT*) {
      return self.Delete();
    });
    return m;
  }();
  return m;
}

STDMETHODIMP FolderImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text(live_folder(ref_).record.name);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::put_Name(BSTR name) {
  return call("put_Name", [&] {
    FolderRecord r = live_folder(ref_).record;
    r.name = in_text(name);
    if (r.name.empty()) raise(E_INVALIDARG, "A folder name cannot be empty.");
    std::string why;
    if (!ref_.store->put_folder(&r, &why)) raise(E_FAIL, "The folder cannot be renamed: " + why);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_Folders(_Folders** folders) {
  return call("get_Folders", [&] {
    need(folders);
    *folders = nullptr;
    live_folder(ref_);
    hand_out(sx::com::make_object<FoldersImpl>(app_, ref_), folders);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_Items(_Items** items) {
  return call("get_Items", [&] {
    need(items);
    *items = nullptr;
    live_folder(ref_);
    hand_out(sx::com::make_object<ItemsImpl>(app_, ref_), items);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_Parent(IDispatch** parent) {
  return call("get_Parent", [&] {
    need(parent);
    *parent = nullptr;
    const FolderState& f = live_folder(ref_);
    if (f.record.parent == format::kNoFolder) {
      hand_out(sx::com::make_object<NameSpaceImpl>(app_), parent);
    } else {
      hand_out(sx::com::make_object<FolderImpl>(app_, FolderRef{ref_.store, f.record.parent}),
               parent);
    }
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_DefaultItemType(LONG* type) {
  return call("get_DefaultItemType", [&] {
    need(type);
    *type = live_folder(ref_).record.default_item_type;
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_DefaultMessageClass(BSTR* message_class) {
  return call("get_DefaultMessageClass", [&] {
    need(message_class);
    *message_class = out_text(live_folder(ref_).record.default_message_class);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_EntryID(BSTR* id) {
  return call("get_EntryID", [&] {
    need(id);
    live_folder(ref_);
    *id = out_text(entry_id_text(ref_.store->model().store_id(), ref_.id));
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::get_StoreID(BSTR* id) {
  return call("get_StoreID", [&] {
    need(id);
    live_folder(ref_);
    *id = out_text(entry_id_text(ref_.store->model().store_id(), 0).substr(0, 32));
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::CopyTo(MAPIFolder* destination, MAPIFolder** copy) {
  return call("CopyTo", [&] {
    need(copy);
    *copy = nullptr;
    FolderImpl* dest = FolderImpl::from(destination);
    const FolderRef target = dest->ref();
    live_folder(target);
    // Read the whole source tree first (the destination may be inside the same store).
    struct Node {
      FolderRecord record;
      std::vector<ItemData> items;
      std::vector<std::size_t> children;
    };
    std::vector<Node> nodes;
    const StoreModel& src = fresh(*ref_.store);
    std::function<std::size_t(std::uint32_t)> read = [&](std::uint32_t id) -> std::size_t {
      const FolderState* f = src.folder(id);
      if (f == nullptr) raise(MAPI_E_OBJECT_DELETED, "The folder has been deleted.");
      const std::size_t at = nodes.size();
      nodes.push_back({f->record, {}, {}});
      for (const auto& [seq, item] : f->order) nodes[at].items.push_back(*src.item(item)->data);
      for (std::uint32_t c : f->children) {
        const std::size_t child = read(c);
        nodes[at].children.push_back(child);
      }
      return at;
    };
    read(ref_.id);
    for (std::uint32_t up = target.id; target.store == ref_.store && up != format::kNoFolder;) {
      if (up == ref_.id) raise(E_INVALIDARG, "A folder cannot be copied into itself.");
      up = src.folder(up) ? src.folder(up)->record.parent : format::kNoFolder;
    }
    std::uint32_t top = 0;
    std::string why;
    bool ok = target.store->change(
        [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
          if (m.folder(target.id) == nullptr) {
            *w = "the destination folder no longer exists";
            return false;
          }
          std::uint32_t next_folder = m.next_folder_id();
          std::uint64_t next_item = m.next_item_id();
          std::function<void(std::size_t, std::uint32_t)> emit = [&](std::size_t n,
                                                                     std::uint32_t parent) {
            FolderRecord r = nodes[n].record;
            r.id = next_folder++;
            r.parent = parent;
            r.role = FolderRole::kNone;
            if (top == 0) top = r.id;
            out->push_back(r);
            for (const ItemData& d : nodes[n].items)
              out->push_back(ItemPutRecord{next_item++, r.id, d});
            for (std::size_t c : nodes[n].children) emit(c, r.id);
          };
          emit(0, target.id);
          return true;
        },
        &why);
    if (!ok) raise(E_FAIL, "The folder cannot be copied: " + why);
    hand_out(sx::com::make_object<FolderImpl>(app_, FolderRef{target.store, top}), copy);
    return S_OK;
  });
}

STDMETHODIMP FolderImpl::Delete() {
  return call("Delete", [&] {
    live_folder(ref_);
    if (ref_.id == format::kRootFolderId)
      raise(E_INVALIDARG, "The root of a store cannot be deleted.");
    std::string why;
    if (!ref_.store->delete_folder(ref_.id, &why))
      raise(E_FAIL, "The folder cannot be deleted: " + why);
    return S_OK;
  });
}

// ---- Folders ----

const Members<FoldersImpl>& FoldersImpl::members() {
  static const Members<FoldersImpl> m = [] {
    using M = Members<FoldersImpl>;
    M m;
    m.get(u"Count", &FoldersImpl::get_Count);
    add_index_method(m, u"Item", &FoldersImpl::Item);
    m.get(u"GetFirst", &FoldersImpl::GetFirst);
    m.get(u"GetNext", &FoldersImpl::GetNext);
    m.get(u"GetLast", &FoldersImpl::GetLast);
    m.add(u"Add", [](FoldersImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant name;
      HRESULT hr = a.get(0, VT_BSTR, &name);
      if (FAILED(hr)) return hr;
      VARIANT missing;
      missing.vt = VT_ERROR;
      missing.scode = DISP_E_PARAMNOTFOUND;
      MAPIFolder* f = nullptr;
      hr = self.Add(name.get().bstrVal, a.omitted(1) ? missing : *a.at(1), &f);
      if (SUCCEEDED(hr)) M::to_variant(f, r);
      return hr;
    });
    m.add(u"Remove", [](FoldersImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      sx::com::Variant index;
      HRESULT hr = a.get(0, VT_I4, &index);
      return FAILED(hr) ? hr : self.Remove(index.get().lVal);
    });
    return m;
  }();
  return m;
}

std::vector<FolderRef> FoldersImpl::current() {
  std::vector<FolderRef> out;
  if (!parent_) {
    for (const OpenStore& s : app_->session().stores())
      out.push_back({s.store, format::kRootFolderId});
    for (const FolderRef& r : out) fresh(*r.store);
    return out;
  }
  for (std::uint32_t c : live_folder(*parent_).children) out.push_back({parent_->store, c});
  return out;
}

MAPIFolder* FoldersImpl::make(const FolderRef& ref) {
  MAPIFolder* out = nullptr;
  hand_out(sx::com::make_object<FolderImpl>(app_, ref), &out);
  return out;
}

STDMETHODIMP FoldersImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(current().size());
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::Item(VARIANT index, MAPIFolder** folder) {
  return call("Item", [&] {
    need(folder);
    *folder = nullptr;
    IndexArg arg = read_index(index);
    auto list = current();
    if (arg.by_name) {
      for (const FolderRef& r : list) {
        if (equal_ignoring_case(r.store->model().folder(r.id)->record.name, arg.name)) {
          *folder = make(r);
          return S_OK;
        }
      }
      raise(MAPI_E_NOT_FOUND, "The operation failed. An object could not be found.");
    }
    if (arg.number < 1 || static_cast<std::size_t>(arg.number) > list.size())
      raise(DISP_E_BADINDEX, "Array index out of bounds.");
    *folder = make(list[static_cast<std::size_t>(arg.number) - 1]);
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::Add(BSTR name, VARIANT type, MAPIFolder** folder) {
  return call("Add", [&] {
    need(folder);
    *folder = nullptr;
    if (!parent_) raise(E_INVALIDARG, "A store is added with NameSpace.AddStore.");
    const std::string text = in_text(name);
    if (text.empty()) raise(E_INVALIDARG, "A folder name cannot be empty.");
    const FolderState& p = live_folder(*parent_);
    for (std::uint32_t c : p.children)
      if (equal_ignoring_case(parent_->store->model().folder(c)->record.name, text))
        raise(E_FAIL, "Cannot create the folder: a folder of that name exists already.");
    FolderRecord r;
    r.parent = parent_->id;
    r.name = text;
    r.default_item_type = p.record.default_item_type;
    r.default_message_class = p.record.default_message_class;
    sx::com::Variant t(type);
    if (t.vt() == (VT_BYREF | VT_VARIANT)) t = sx::com::Variant(*type.pvarVal);
    if (!t.is_empty() && t.vt() != VT_ERROR) {
      r.default_item_type = t.to_i4();
      r.default_message_class = r.default_item_type == olContactItem ? "IPM.Contact"
                                : r.default_item_type == olPostItem  ? "IPM.Post"
                                                                     : "IPM.Note";
    }
    std::string why;
    if (!parent_->store->put_folder(&r, &why)) raise(E_FAIL, "Cannot create the folder: " + why);
    *folder = make({parent_->store, r.id});
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::GetFirst(MAPIFolder** folder) {
  return call("GetFirst", [&] {
    need(folder);
    auto list = current();
    cursor_ = list.empty() ? 0 : 1;
    *folder = list.empty() ? nullptr : make(list[0]);
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::GetNext(MAPIFolder** folder) {
  return call("GetNext", [&] {
    need(folder);
    *folder = nullptr;
    auto list = current();
    if (cursor_ >= list.size()) {
      cursor_ = list.size() + 1;
      return S_OK;
    }
    *folder = make(list[cursor_++]);
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::GetLast(MAPIFolder** folder) {
  return call("GetLast", [&] {
    need(folder);
    auto list = current();
    cursor_ = list.size();
    *folder = list.empty() ? nullptr : make(list.back());
    return S_OK;
  });
}

STDMETHODIMP FoldersImpl::Remove(LONG index) {
  return call("Remove", [&] {
    auto list = current();
    if (index < 1 || static_cast<std::size_t>(index) > list.size())
      raise(DISP_E_BADINDEX, "Array index out of bounds.");
    const FolderRef& r = list[static_cast<std::size_t>(index) - 1];
    std::string why;
    if (!parent_) {
      app_->session().remove_store(r.store.get());
    } else if (!r.store->delete_folder(r.id, &why)) {
      raise(E_FAIL, "The folder cannot be deleted: " + why);
    }
    return S_OK;
  });
}

}  // namespace sx::outlook
