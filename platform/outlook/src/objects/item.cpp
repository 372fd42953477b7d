#include "objects/objects.h"
#include "ui/ui.h"

namespace sx::outlook {

std::int32_t class_of_message_class(std::string_view message_class) {
  auto starts = [&](std::string_view prefix) {
    return message_class.size() >= prefix.size() &&
           equal_ignoring_case(message_class.substr(0, prefix.size()), prefix);
  };
  if (starts("IPM.Contact")) return olContact;
  if (starts("IPM.Post")) return olPost;
  return olMail;
}

const char* ItemImpl::kind_of(std::int32_t object_class) {
  return object_class == olContact ? "ContactItem"
         : object_class == olPost  ? "PostItem"
                                   : "MailItem";
}

ItemImpl::ItemImpl(AppPtr app, FolderRef folder, std::uint64_t id,
                   std::shared_ptr<const ItemData> data)
    : OutlookObject(kind_of(data->object_class)),
      app_(std::move(app)),
      folder_(std::move(folder)),
      id_(id),
      base_(std::move(data)) {}

ItemPtr make_item(const AppPtr& app, const FolderRef& folder, std::uint64_t id,
                  std::shared_ptr<const ItemData> data) {
  return sx::com::make_object<ItemImpl>(app, folder, id, std::move(data));
}

ItemPtr make_new_item(const AppPtr& app, const FolderRef& folder,
                      const std::string& message_class) {
  auto data = std::make_shared<ItemData>();
  data->object_class = class_of_message_class(message_class);
  data->set("MessageClass", Value::text_of(message_class));
  return sx::com::make_object<ItemImpl>(app, folder, 0, std::move(data));
}

ItemImpl* ItemImpl::from(IDispatch* item) {
  if (item == nullptr) return nullptr;
  void* impl = nullptr;
  if (FAILED(item->QueryInterface(kItemImplIid, &impl)) || impl == nullptr) return nullptr;
  auto* it = static_cast<ItemImpl*>(impl);
  it->Release();
  return it;
}

STDMETHODIMP ItemImpl::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const std::int32_t c = base_->object_class;
  _OutlookItem* common = c == olContact
                             ? static_cast<_OutlookItem*>(static_cast<_ContactItem*>(this))
                         : c == olPost ? static_cast<_OutlookItem*>(static_cast<_PostItem*>(this))
                                       : static_cast<_OutlookItem*>(static_cast<_MailItem*>(this));
  if (iid == IID_IUnknown)
    *object = identity();
  else if (iid == IID_IDispatch || iid == _OutlookItem::kIid)
    *object = common;
  else if (iid == _ContactItem::kIid && c == olContact)
    *object = static_cast<_ContactItem*>(this);
  else if (iid == _PostItem::kIid && c == olPost)
    *object = static_cast<_PostItem*>(this);
  else if (iid == _MailItem::kIid && c == olMail)
    *object = static_cast<_MailItem*>(this);
  else if (iid == kItemImplIid)
    *object = this;
  else if (iid == IConnectionPointContainer::kIid)
    *object = static_cast<IConnectionPointContainer*>(this);
  if (*object == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ItemData& ItemImpl::edit() {
  check_usable();
  if (!work_) work_ = *base_;
  return *work_;
}

void ItemImpl::check_usable() const {
  if (gone_) raise(MAPI_E_OBJECT_DELETED, "The item has been moved or deleted.");
}

const Members<ItemImpl>& ItemImpl::members() {
  static const Members<ItemImpl> m = [] {
    using M = Members<ItemImpl>;
    using I = ItemImpl;
    M m;
    m.get(u"Class", &I::get_Class);
    m.get(u"EntryID", &I::get_EntryID);
    m.get(u"Parent", &I::get_Parent);
    m.prop(u"MessageClass", &I::get_MessageClass, &I::put_MessageClass);
    m.prop(u"Subject", &I::get_Subject, &I::put_Subject);
    m.prop(u"Body", &I::get_Body, &I::put_Body);
    m.prop(u"HTMLBody", &I::get_HTMLBody, &I::put_HTMLBody);
    m.prop(u"BodyFormat", &I::get_BodyFormat, &I::put_BodyFormat);
    m.prop(u"Categories", &I::get_Categories, &I::put_Categories);
    m.prop(u"Sensitivity", &I::get_Sensitivity, &I::put_Sensitivity);
    m.prop(u"Importance", &I::get_Importance, &I::put_Importance);
    m.prop(u"BillingInformation", &I::get_BillingInformation, &I::put_BillingInformation);
    m.prop(u"Companies", &I::get_Companies, &I::put_Companies);
    m.get(u"CreationTime", &I::get_CreationTime);
    m.get(u"LastModificationTime", &I::get_LastModificationTime);
    m.get(u"ReceivedTime", &I::get_ReceivedTime);
    m.get(u"Saved", &I::get_Saved);
    m.get(u"UserProperties", &I::get_UserProperties);
    m.get(u"Links", &I::get_Links);
    m.prop(u"LastName", &I::get_LastName, &I::put_LastName);
    m.prop(u"FirstName", &I::get_FirstName, &I::put_FirstName);
    m.prop(u"CompanyName", &I::get_CompanyName, &I::put_CompanyName);
    m.get(u"FullName", &I::get_FullName);
    m.method(u"Display", &I::Display);
    m.function(u"GetInspector", &I::GetInspector);
    m.add(u"Save",
          [](I& self, WORD, const sx::com::DispatchArgs&, VARIANT*) { return self.Save(); });
    m.add(u"Delete",
          [](I& self, WORD, const sx::com::DispatchArgs&, VARIANT*) { return self.Delete(); });
    m.add(u"Close", [](I& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      sx::com::Variant mode;
      HRESULT hr = a.get(0, VT_I4, &mode);
      return FAILED(hr) ? hr : self.Close(mode.get().lVal);
    });
    m.add(u"Copy", [](I& self, WORD, const sx::com::DispatchArgs&, VARIANT* r) {
      IDispatch* copy = nullptr;
      HRESULT hr = self.Copy(&copy);
      if (SUCCEEDED(hr)) M::to_variant(copy, r);
      return hr;
    });
    m.add(u"Move", [](I& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::ComPtr<MAPIFolder> dest;
      HRESULT hr = folder_argument(a, 0, &dest);
      if (FAILED(hr)) return hr;
      IDispatch* moved = nullptr;
      hr = self.Move(dest.Get(), &moved);
      if (SUCCEEDED(hr)) M::to_variant(moved, r);
      return hr;
    });
    return m;
  }();
  return m;
}

HRESULT ItemImpl::get_text(const char* op, const char* name, BSTR* value) {
  return call(op, [&] {
    need(value);
    *value = out_text(data().text(name));
    return S_OK;
  });
}

HRESULT ItemImpl::put_text(const char* op, const char* name, BSTR value) {
  return call(op, [&] {
    edit().set(name, Value::text_of(in_text(value)));
    return S_OK;
  });
}

HRESULT ItemImpl::put_choice(const char* op, const char* name, LONG value, LONG low, LONG high,
                             const char* invalid) {
  return call(op, [&] {
    if (value < low || value > high) raise(E_INVALIDARG, invalid);
    edit().set(name, Value::int_of(value));
    return S_OK;
  });
}

HRESULT ItemImpl::get_long(const char* op, const char* name, LONG fallback, LONG* value) {
  return call(op, [&] {
    need(value);
    const Value* v = data().find(name);
    *value = (v != nullptr && !v->empty() && v->tag != Value::Tag::kText)
                 ? static_cast<LONG>(v->number)
                 : fallback;
    return S_OK;
  });
}

HRESULT ItemImpl::put_long(const char* op, const char* name, LONG value) {
  return call(op, [&] {
    edit().set(name, Value::int_of(value));
    return S_OK;
  });
}

HRESULT ItemImpl::get_date(const char* op, const char* name, DATE* value) {
  return call(op, [&] {
    need(value);
    const Value* v = data().find(name);
    *value = (v != nullptr && v->tag == Value::Tag::kDate) ? v->number : kOutlookNoDate;
    return S_OK;
  });
}

HRESULT ItemImpl::contact_only(const char* op) const {
  SX_COM_CHECK_THREAD();
  if (base_->object_class == olContact) return S_OK;
  return sx::com::report_error(DISP_E_MEMBERNOTFOUND, kOutlookSource,
                               std::string(op) + " is not a member of this item.");
}

STDMETHODIMP ItemImpl::get_Class(LONG* value) {
  return call("get_Class", [&] {
    need(value);
    *value = data().object_class;
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_EntryID(BSTR* id) {
  return call("get_EntryID", [&] {
    need(id);
    *id = out_text(
        id_ == 0 || !folder_.store ? "" : entry_id_text(folder_.store->model().store_id(), id_));
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_Parent(IDispatch** folder) {
  return call("get_Parent", [&] {
    need(folder);
    *folder = nullptr;
    if (!folder_.store) raise(MAPI_E_NOT_FOUND, "The item is in no folder yet.");
    hand_out(sx::com::make_object<FolderImpl>(app_, folder_), folder);
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_MessageClass(BSTR* v) {
  return get_text("get_MessageClass", "MessageClass", v);
}
STDMETHODIMP ItemImpl::put_MessageClass(BSTR v) {
  return put_text("put_MessageClass", "MessageClass", v);
}
STDMETHODIMP ItemImpl::get_Subject(BSTR* v) { return get_text("get_Subject", "Subject", v); }
STDMETHODIMP ItemImpl::put_Subject(BSTR v) { return put_text("put_Subject", "Subject", v); }
STDMETHODIMP ItemImpl::get_Body(BSTR* v) { return get_text("get_Body", "Body", v); }
STDMETHODIMP ItemImpl::put_Body(BSTR v) { return put_text("put_Body", "Body", v); }
STDMETHODIMP ItemImpl::get_HTMLBody(BSTR* v) { return get_text("get_HTMLBody", "HTMLBody", v); }
STDMETHODIMP ItemImpl::put_HTMLBody(BSTR v) {
  return call("put_HTMLBody", [&] {
    edit().set("HTMLBody", Value::text_of(in_text(v)));
    edit().set("BodyFormat", Value::int_of(olFormatHTML));
    return S_OK;
  });
}
STDMETHODIMP ItemImpl::get_BodyFormat(LONG* v) {
  return get_long("get_BodyFormat", "BodyFormat", olFormatPlain, v);
}
STDMETHODIMP ItemImpl::put_BodyFormat(LONG v) {
  return put_choice("put_BodyFormat", "BodyFormat", v, olFormatPlain, olFormatRichText,
                    "The body format is not valid.");
}
STDMETHODIMP ItemImpl::get_Categories(BSTR* v) {
  return get_text("get_Categories", "Categories", v);
}
STDMETHODIMP ItemImpl::put_Categories(BSTR v) {
  return put_text("put_Categories", "Categories", v);
}
STDMETHODIMP ItemImpl::get_Sensitivity(LONG* v) {
  return get_long("get_Sensitivity", "Sensitivity", olNormal, v);
}
STDMETHODIMP ItemImpl::put_Sensitivity(LONG v) {
  return put_choice("put_Sensitivity", "Sensitivity", v, olNormal, olConfidential,
                    "The sensitivity is not valid.");
}
STDMETHODIMP ItemImpl::get_Importance(LONG* v) {
  return get_long("get_Importance", "Importance", olImportanceNormal, v);
}
STDMETHODIMP ItemImpl::put_Importance(LONG v) {
  return put_choice("put_Importance", "Importance", v, olImportanceLow, olImportanceHigh,
                    "The importance is not valid.");
}
STDMETHODIMP ItemImpl::get_BillingInformation(BSTR* v) {
  return get_text("get_BillingInformation", "BillingInformation", v);
}
STDMETHODIMP ItemImpl::put_BillingInformation(BSTR v) {
  return put_text("put_BillingInformation", "BillingInformation", v);
}
STDMETHODIMP ItemImpl::get_Companies(BSTR* v) { return get_text("get_Companies", "Companies", v); }
STDMETHODIMP ItemImpl::put_Companies(BSTR v) { return put_text("put_Companies", "Companies", v); }
STDMETHODIMP ItemImpl::get_CreationTime(DATE* v) {
  return get_date("get_CreationTime", "CreationTime", v);
}
STDMETHODIMP ItemImpl::get_LastModificationTime(DATE* v) {
  return get_date("get_LastModificationTime", "LastModificationTime", v);
}
STDMETHODIMP ItemImpl::get_ReceivedTime(DATE* v) {
  return get_date("get_ReceivedTime", "ReceivedTime", v);
}

STDMETHODIMP ItemImpl::get_Saved(VARIANT_BOOL* saved) {
  return call("get_Saved", [&] {
    need(saved);
    *saved = (id_ != 0 && (!work_ || *work_ == *base_)) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_UserProperties(UserProperties** properties) {
  return call("get_UserProperties", [&] {
    need(properties);
    hand_out(sx::com::make_object<UserPropertiesImpl>(ItemPtr(this)), properties);
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_Links(Links** links) {
  return call("get_Links", [&] {
    need(links);
    hand_out(sx::com::make_object<LinksImpl>(ItemPtr(this)), links);
    return S_OK;
  });
}

void ItemImpl::save_now() {
  check_usable();
  Session& s = app_->session();
  if (!folder_.store) {
    // An item of CreateItem goes to the default folder of its kind.
    auto store = s.default_store();
    const StoreModel& m = fresh(*store);
    const FolderRole role =
        base_->object_class == olContact ? FolderRole::kContacts : FolderRole::kInbox;
    std::vector<std::uint32_t> queue = {format::kRootFolderId};
    for (std::size_t i = 0; i < queue.size() && !folder_.store; ++i) {
      const FolderState* f = m.folder(queue[i]);
      if (f == nullptr) continue;
      if (f->record.role == role) folder_ = FolderRef{store, f->record.id};
      queue.insert(queue.end(), f->children.begin(), f->children.end());
    }
    if (!folder_.store)
      raise(MAPI_E_NOT_FOUND, "The default store has no folder for this kind of item.");
  }
  ItemData d = data();
  const DATE now = now_date();
  const bool is_new = id_ == 0;
  if (is_new) {
    d.set("CreationTime", Value::date_of(now));
    if (d.object_class != olContact) d.set("ReceivedTime", Value::date_of(now));
  }
  d.set("LastModificationTime", Value::date_of(now));
  if (d.object_class == olContact) {
    std::string full = d.text("FirstName");
    const std::string last = d.text("LastName");
    if (!full.empty() && !last.empty()) full += " ";
    full += last;
    d.set("FullName", Value::text_of(full));
    d.set("Subject", Value::text_of(full));
  }
  // An item open in a window that another program saved since it was read (through this Outlook
  // or another one on the store) is not overwritten: the person's version becomes a new item
  // beside it, and the other version stays as it was.
  const bool keep_both = !is_new && app_->ui().inspector_of(this) != nullptr;
  std::uint64_t id = id_;
  bool as_copy = false;
  std::string why;
  const bool saved = folder_.store->change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string* w) {
        if (m.folder(folder_.id) == nullptr) {
          *w = "the folder no longer exists";
          return false;
        }
        const StoredItem* now = id == 0 ? nullptr : m.item(id);
        as_copy = keep_both && now != nullptr && !now->written_here && !(*now->data == *base_);
        if (id == 0 || as_copy) id = m.next_item_id();
        out->push_back(ItemPutRecord{id, folder_.id, d});
        return true;
      },
      &why);
  if (!saved) raise(E_FAIL, "The item cannot be saved: " + why);
  id_ = id;
  base_ = folder_.store->model().item(id_)->data;
  work_.reset();
  sx::com::ComPtr<IDispatch> self;
  QueryInterface(IID_IDispatch, self.PutVoid());
  if (is_new || as_copy) {
    app_->ui().saw_item(folder_, id_);
    s.raise_add(folder_, self.Get());
  } else {
    s.raise_change(folder_, self.Get());
  }
}

STDMETHODIMP ItemImpl::Save() {
  return call("Save", [&] {
    save_now();
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::Close(LONG mode) {
  return call("Close", [&] {
    if (mode != olSave && mode != olDiscard && mode != olPromptForSave)
      raise(E_INVALIDARG, "The close mode is not valid.");
    // An item open in an inspector closes with it (the Close event comes from there).
    if (InspectorPtr inspector = app_->ui().inspector_of(this)) {
      inspector->close(mode);
      return S_OK;
    }
    VARIANT_BOOL cancel = VARIANT_FALSE;
    events_.raise([&](ItemEvents* sink) { return sink->Close(&cancel); });
    if (cancel == VARIANT_FALSE) close_now(mode);
    return S_OK;
  });
}

void ItemImpl::close_now(LONG mode) {
  if (mode == olSave) {
    if (!gone_ && (id_ == 0 || work_)) save_now();
  } else {
    work_.reset();
  }
}

void ItemImpl::reread() {
  if (id_ == 0 || work_ || gone_ || !folder_.store) return;
  const StoredItem* now = fresh(*folder_.store).item(id_);
  if (now != nullptr && now->folder == folder_.id) base_ = now->data;
}

STDMETHODIMP ItemImpl::Display(VARIANT) {
  return call("Display", [&] {
    check_usable();
    app_->ui().inspector_for(ItemPtr(this))->show();
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::GetInspector(_Inspector** inspector) {
  return call("GetInspector", [&] {
    need(inspector);
    *inspector = nullptr;
    check_usable();
    hand_out(app_->ui().inspector_for(ItemPtr(this)), inspector);
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ItemImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  SX_COM_CHECK_THREAD();
  return find_event_point<ItemEvents>(
      iid, [self = ItemPtr(this)] { return &self->events_; },
      static_cast<IConnectionPointContainer*>(this), point);
}

STDMETHODIMP ItemImpl::Copy(IDispatch** copy) {
  return call("Copy", [&] {
    need(copy);
    *copy = nullptr;
    check_usable();
    if (!folder_.store) raise(MAPI_E_NOT_FOUND, "The item is in no folder yet.");
    auto twin =
        sx::com::make_object<ItemImpl>(app_, folder_, 0, std::make_shared<ItemData>(data()));
    twin->save_now();
    hand_out(twin, copy);
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::Move(MAPIFolder* destination, IDispatch** moved) {
  return call("Move", [&] {
    need(moved);
    *moved = nullptr;
    check_usable();
    const FolderRef dest = FolderImpl::from(destination)->ref();
    live_folder(dest);
    Session& s = app_->session();
    ItemData d = data();
    d.set("LastModificationTime", Value::date_of(now_date()));
    if (id_ == 0) {
      d.set("CreationTime", Value::date_of(now_date()));
      if (d.object_class != olContact)
        d.set("ReceivedTime", d.find("CreationTime") ? *d.find("CreationTime") : Value());
    }
    std::uint64_t new_id = 0;
    std::string why;
    const FolderRef from = folder_;
    if (id_ != 0 && dest.store == from.store) {
      new_id = id_;
      if (!dest.store->put_item(&new_id, dest.id, d, &why))
        raise(E_FAIL, "The item cannot be moved: " + why);
    } else {
      if (!dest.store->put_item(&new_id, dest.id, d, &why))
        raise(E_FAIL, "The item cannot be moved: " + why);
      if (id_ != 0 && !from.store->delete_item(id_, &why))
        raise(E_FAIL, "The item cannot be moved: " + why);
    }
    gone_ = true;
    work_.reset();
    auto result = make_item(app_, dest, new_id, dest.store->model().item(new_id)->data);
    if (id_ != 0) s.raise_remove(from);
    sx::com::ComPtr<IDispatch> added;
    result->QueryInterface(IID_IDispatch, added.PutVoid());
    app_->ui().saw_item(dest, new_id);
    s.raise_add(dest, added.Get());
    hand_out(result, moved);
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::Delete() {
  return call("Delete", [&] {
    check_usable();
    if (id_ != 0) {
      std::string why;
      if (!folder_.store->delete_item(id_, &why))
        raise(E_FAIL, "The item cannot be deleted: " + why);
      app_->session().raise_remove(folder_);
    }
    gone_ = true;
    return S_OK;
  });
}

STDMETHODIMP ItemImpl::get_LastName(BSTR* v) {
  HRESULT hr = contact_only("LastName");
  return FAILED(hr) ? hr : get_text("get_LastName", "LastName", v);
}
STDMETHODIMP ItemImpl::put_LastName(BSTR v) {
  HRESULT hr = contact_only("LastName");
  return FAILED(hr) ? hr : put_text("put_LastName", "LastName", v);
}
STDMETHODIMP ItemImpl::get_FirstName(BSTR* v) {
  HRESULT hr = contact_only("FirstName");
  return FAILED(hr) ? hr : get_text("get_FirstName", "FirstName", v);
}
STDMETHODIMP ItemImpl::put_FirstName(BSTR v) {
  HRESULT hr = contact_only("FirstName");
  return FAILED(hr) ? hr : put_text("put_FirstName", "FirstName", v);
}
STDMETHODIMP ItemImpl::get_CompanyName(BSTR* v) {
  HRESULT hr = contact_only("CompanyName");
  return FAILED(hr) ? hr : get_text("get_CompanyName", "CompanyName", v);
}
STDMETHODIMP ItemImpl::put_CompanyName(BSTR v) {
  HRESULT hr = contact_only("CompanyName");
  return FAILED(hr) ? hr : put_text("put_CompanyName", "CompanyName", v);
}
STDMETHODIMP ItemImpl::get_FullName(BSTR* v) {
  HRESULT hr = contact_only("FullName");
  return FAILED(hr) ? hr : get_text("get_FullName", "FullName", v);
}

}  // namespace sx::outlook
