// UserProperties, UserProperty, Links and Link: views of one item object's working state.
#include "objects/objects.h"

namespace sx::outlook {

namespace {

sx::com::Variant deref(const VARIANT& v) {
  sx::com::Variant value(v);
  if (value.vt() == (VT_BYREF | VT_VARIANT)) value = sx::com::Variant(*v.pvarVal);
  return value;
}

Value empty_value(std::int32_t type) {
  switch (type) {
    case kUserNumber:
      return Value::number_of(0);
    case kUserDateTime:
      return Value::date_of(kOutlookNoDate);
    case kUserYesNo:
      return Value::bool_of(false);
    default:
      return Value::text_of("");
  }
}

Value convert(const VARIANT& in, std::int32_t type) {
  sx::com::Variant v = deref(in);
  try {
    switch (type) {
      case kUserNumber:
        return Value::number_of(v.to_r8());
      case kUserDateTime:
        return Value::date_of(v.to_date());
      case kUserYesNo:
        return Value::bool_of(v.to_bool());
      default:
        return Value::text_of(v.is_null() || v.is_empty() ? std::string() : v.to_utf8());
    }
  } catch (const sx::com::ComError&) {
    raise(DISP_E_TYPEMISMATCH, "Type mismatch: the value does not fit the property's type.");
  }
}

}  // namespace

// ---- UserProperties ----

const Members<UserPropertiesImpl>& UserPropertiesImpl::members() {
  static const Members<UserPropertiesImpl> m = [] {
    using M = Members<UserPropertiesImpl>;
    M m;
    m.get(u"Count", &UserPropertiesImpl::get_Count);
    m.add(u"Item", [](UserPropertiesImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      UserProperty* p = nullptr;
      HRESULT hr = self.Item(*a.at(0), &p);
      if (SUCCEEDED(hr)) M::to_variant(p, r);
      return hr;
    });
    m.add(u"Find", [](UserPropertiesImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant name;
      HRESULT hr = a.get(0, VT_BSTR, &name);
      if (FAILED(hr)) return hr;
      VARIANT missing{};
      UserProperty* p = nullptr;
      hr = self.Find(name.get().bstrVal, missing, &p);
      if (SUCCEEDED(hr)) {
        if (p)
          M::to_variant(p, r);
        else
          r->vt = VT_DISPATCH, r->pdispVal = nullptr;
      }
      return hr;
    });
    m.add(u"Add", [](UserPropertiesImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant name, type;
      HRESULT hr = a.get(0, VT_BSTR, &name);
      if (SUCCEEDED(hr)) hr = a.get(1, VT_I4, &type);
      if (FAILED(hr)) return hr;
      VARIANT missing{};
      UserProperty* p = nullptr;
      hr = self.Add(name.get().bstrVal, type.get().lVal, a.omitted(2) ? missing : *a.at(2),
                    a.omitted(3) ? missing : *a.at(3), &p);
      if (SUCCEEDED(hr)) M::to_variant(p, r);
      return hr;
    });
    m.add(u"Remove", [](UserPropertiesImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      sx::com::Variant index;
      HRESULT hr = a.get(0, VT_I4, &index);
      return FAILED(hr) ? hr : self.Remove(index.get().lVal);
    });
    return m;
  }();
  return m;
}

STDMETHODIMP UserPropertiesImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(item_->data().user_props.size());
    return S_OK;
  });
}

STDMETHODIMP UserPropertiesImpl::Item(VARIANT index, UserProperty** property) {
  return call("Item", [&] {
    need(property);
    *property = nullptr;
    sx::com::Variant v = deref(index);
    const auto& props = item_->data().user_props;
    std::string name;
    if ((v.vt() & VT_TYPEMASK) == VT_BSTR) {
      const UserProp* p = item_->data().find_user(v.to_utf8());
      if (p == nullptr)
        raise(MAPI_E_NOT_FOUND, "The property \"" + v.to_utf8() + "\" does not exist.");
      name = p->name;
    } else {
      const LONG n = v.to_i4();
      if (n < 1 || static_cast<std::size_t>(n) > props.size())
        raise(DISP_E_BADINDEX, "Array index out of bounds.");
      name = props[static_cast<std::size_t>(n) - 1].name;
    }
    hand_out(sx::com::make_object<UserPropertyImpl>(item_, name), property);
    return S_OK;
  });
}

STDMETHODIMP UserPropertiesImpl::Add(BSTR name, LONG type, VARIANT, VARIANT,
                                     UserProperty** property) {
  return call("Add", [&] {
    need(property);
    *property = nullptr;
    const std::string text = in_text(name);
    if (text.empty()) raise(E_INVALIDARG, "A property name cannot be empty.");
    if (type != kUserText && type != kUserNumber && type != kUserDateTime && type != kUserYesNo)
      raise(E_INVALIDARG, "This property type is not supported.");
    if (const UserProp* p = item_->data().find_user(text)) {
      if (p->type != type)
        raise(E_INVALIDARG, "A property of that name and another type exists already.");
    } else {
      item_->edit().user_props.push_back(UserProp{text, type, empty_value(type)});
    }
    hand_out(sx::com::make_object<UserPropertyImpl>(item_, item_->data().find_user(text)->name),
             property);
    return S_OK;
  });
}

STDMETHODIMP UserPropertiesImpl::Find(BSTR name, VARIANT, UserProperty** property) {
  return call("Find", [&] {
    need(property);
    *property = nullptr;
    if (const UserProp* p = item_->data().find_user(in_text(name)))
      hand_out(sx::com::make_object<UserPropertyImpl>(item_, p->name), property);
    return S_OK;
  });
}

STDMETHODIMP UserPropertiesImpl::Remove(LONG index) {
  return call("Remove", [&] {
    auto& props = item_->edit().user_props;
    if (index < 1 || static_cast<std::size_t>(index) > props.size())
      raise(DISP_E_BADINDEX, "Array index out of bounds.");
    props.erase(props.begin() + (index - 1));
    return S_OK;
  });
}

// ---- UserProperty ----

const Members<UserPropertyImpl>& UserPropertyImpl::members() {
  static const Members<UserPropertyImpl> m = [] {
    Members<UserPropertyImpl> m;
    m.get(u"Name", &UserPropertyImpl::get_Name);
    m.get(u"Type", &UserPropertyImpl::get_Type);
    m.prop(u"Value", &UserPropertyImpl::get_Value, &UserPropertyImpl::put_Value);
    return m;
  }();
  return m;
}

const UserProp& UserPropertyImpl::prop() const {
  const UserProp* p = item_->data().find_user(name_);
  if (p == nullptr) raise(MAPI_E_NOT_FOUND, "The property \"" + name_ + "\" has been removed.");
  return *p;
}

STDMETHODIMP UserPropertyImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text(prop().name);
    return S_OK;
  });
}

STDMETHODIMP UserPropertyImpl::get_Type(LONG* type) {
  return call("get_Type", [&] {
    need(type);
    *type = prop().type;
    return S_OK;
  });
}

STDMETHODIMP UserPropertyImpl::get_Value(VARIANT* value) {
  return call("get_Value", [&] {
    need(value);
    const UserProp& p = prop();
    VariantInit(value);
    switch (p.type) {
      case kUserNumber:
        value->vt = VT_R8, value->dblVal = p.value.number;
        break;
      case kUserDateTime:
        value->vt = VT_DATE, value->date = p.value.number;
        break;
      case kUserYesNo:
        value->vt = VT_BOOL, value->boolVal = p.value.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      default:
        value->vt = VT_BSTR, value->bstrVal = out_text(p.value.text);
    }
    return S_OK;
  });
}

STDMETHODIMP UserPropertyImpl::put_Value(VARIANT value) {
  return call("put_Value", [&] {
    const std::int32_t type = prop().type;
    Value converted = convert(value, type);
    item_->edit().find_user(name_)->value = std::move(converted);
    return S_OK;
  });
}

// ---- Links ----

const Members<LinksImpl>& LinksImpl::members() {
  static const Members<LinksImpl> m = [] {
    using M = Members<LinksImpl>;
    M m;
    m.get(u"Count", &LinksImpl::get_Count);
    m.add(u"Item", [](LinksImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      Link* l = nullptr;
      HRESULT hr = self.Item(*a.at(0), &l);
      if (SUCCEEDED(hr)) M::to_variant(l, r);
      return hr;
    });
    m.add(u"Add", [](LinksImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant item;
      HRESULT hr = a.get(0, VT_DISPATCH, &item);
      if (FAILED(hr)) return hr;
      Link* l = nullptr;
      hr = self.Add(item.get().pdispVal, &l);
      if (SUCCEEDED(hr)) M::to_variant(l, r);
      return hr;
    });
    m.add(u"Remove", [](LinksImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      return self.Remove(*a.at(0));
    });
    return m;
  }();
  return m;
}

std::size_t LinksImpl::index_of(const VARIANT& index) const {
  sx::com::Variant v = deref(index);
  const auto& links = item_->data().links;
  if ((v.vt() & VT_TYPEMASK) == VT_BSTR) {
    const std::string name = v.to_utf8();
    for (std::size_t i = 0; i < links.size(); ++i)
      if (equal_ignoring_case(links[i].name, name)) return i;
    raise(MAPI_E_NOT_FOUND, "The link \"" + name + "\" does not exist.");
  }
  const LONG n = v.to_i4();
  if (n < 1 || static_cast<std::size_t>(n) > links.size())
    raise(DISP_E_BADINDEX, "Array index out of bounds.");
  return static_cast<std::size_t>(n) - 1;
}

STDMETHODIMP LinksImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(item_->data().links.size());
    return S_OK;
  });
}

STDMETHODIMP LinksImpl::Item(VARIANT index, Link** link) {
  return call("Item", [&] {
    need(link);
    *link = nullptr;
    const LinkData& d = item_->data().links[index_of(index)];
    hand_out(sx::com::make_object<LinkImpl>(item_->app(), d), link);
    return S_OK;
  });
}

STDMETHODIMP LinksImpl::Add(IDispatch* item, Link** link) {
  return call("Add", [&] {
    ItemImpl* contact = ItemImpl::from(item);
    if (contact == nullptr || contact->data().object_class != olContact)
      raise(E_INVALIDARG, "Only contacts can be linked.");
    if (contact->id() == 0 || !contact->folder().store)
      raise(E_INVALIDARG, "The contact must be saved before it is linked.");
    LinkData d{contact->data().text("FullName"),
               entry_id_text(contact->folder().store->model().store_id(), contact->id())};
    item_->edit().links.push_back(d);
    if (link != nullptr) {
      *link = nullptr;
      hand_out(sx::com::make_object<LinkImpl>(item_->app(), d), link);
    }
    return S_OK;
  });
}

STDMETHODIMP LinksImpl::Remove(VARIANT index) {
  return call("Remove", [&] {
    const std::size_t i = index_of(index);
    auto& links = item_->edit().links;
    links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
    return S_OK;
  });
}

// ---- Link ----

const Members<LinkImpl>& LinkImpl::members() {
  static const Members<LinkImpl> m = [] {
    Members<LinkImpl> m;
    m.get(u"Name", &LinkImpl::get_Name);
    m.get(u"Type", &LinkImpl::get_Type);
    m.get(u"Item", &LinkImpl::get_Item);
    return m;
  }();
  return m;
}

STDMETHODIMP LinkImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text(data_.name);
    return S_OK;
  });
}

STDMETHODIMP LinkImpl::get_Type(LONG* type) {
  return call("get_Type", [&] {
    need(type);
    *type = olContact;
    return S_OK;
  });
}

STDMETHODIMP LinkImpl::get_Item(IDispatch** item) {
  return call("get_Item", [&] {
    need(item);
    *item = nullptr;
    auto parsed = parse_entry_id(data_.entry_id);
    Session& s = app_->session();
    s.ensure_logon();
    auto store = parsed ? s.store_by_id(parsed->first) : nullptr;
    const StoredItem* it = store ? fresh(*store).item(parsed->second) : nullptr;
    if (it == nullptr) raise(MAPI_E_NOT_FOUND, "The linked contact could not be found.");
    hand_out(make_item(app_, FolderRef{store, it->folder}, it->id, it->data), item);
    return S_OK;
  });
}

}  // namespace sx::outlook
