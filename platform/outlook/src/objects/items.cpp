#include <algorithm>

#include "objects/objects.h"

namespace sx::outlook {

namespace {

std::string message_class_for(const VARIANT& type, const FolderRecord& folder) {
  sx::com::Variant t(type);
  if (t.vt() == (VT_BYREF | VT_VARIANT)) t = sx::com::Variant(*type.pvarVal);
  if (t.is_empty() || t.is_null() || t.vt() == VT_ERROR) return folder.default_message_class;
  if ((t.vt() & VT_TYPEMASK) == VT_BSTR) {
    std::string c = t.to_utf8();
    if (c.empty()) raise(E_INVALIDARG, "The message class is empty.");
    return c;
  }
  switch (t.to_i4()) {
    case olMailItem:
      return "IPM.Note";
    case olContactItem:
      return "IPM.Contact";
    case olPostItem:
      return "IPM.Post";
  }
  raise(E_INVALIDARG, "This kind of item cannot be added to a folder.");
}

Filter parse_or_raise(BSTR text) {
  std::string why;
  auto f = parse_filter(in_text(text), &why);
  if (!f) raise(E_INVALIDARG, why);
  return std::move(*f);
}

}  // namespace

const Members<ItemsImpl>& ItemsImpl::members() {
  static const Members<ItemsImpl> m = [] {
    using M = Members<ItemsImpl>;
    M m;
    m.get(u"Count", &ItemsImpl::get_Count);
    m.get(u"GetFirst", &ItemsImpl::GetFirst);
    m.get(u"GetNext", &ItemsImpl::GetNext);
    m.get(u"GetLast", &ItemsImpl::GetLast);
    m.get(u"FindNext", &ItemsImpl::FindNext);
    m.add(u"Item", [](ItemsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      IDispatch* item = nullptr;
      HRESULT hr = self.Item(*a.at(0), &item);
      if (SUCCEEDED(hr)) M::to_variant(item, r);
      return hr;
    });
    m.add(u"Add", [](ItemsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      VARIANT missing;
      missing.vt = VT_ERROR;
      missing.scode = DISP_E_PARAMNOTFOUND;
      IDispatch* item = nullptr;
      HRESULT hr = self.Add(a.omitted(0) ? missing : *a.at(0), &item);
      if (SUCCEEDED(hr)) M::to_variant(item, r);
      return hr;
    });
    m.add(u"Find", [](ItemsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant f;
      HRESULT hr = a.get(0, VT_BSTR, &f);
      if (FAILED(hr)) return hr;
      IDispatch* item = nullptr;
      hr = self.Find(f.get().bstrVal, &item);
      if (SUCCEEDED(hr)) M::to_variant(item, r);
      return hr;
    });
    m.add(u"Restrict", [](ItemsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      sx::com::Variant f;
      HRESULT hr = a.get(0, VT_BSTR, &f);
      if (FAILED(hr)) return hr;
      _Items* items = nullptr;
      hr = self.Restrict(f.get().bstrVal, &items);
      if (SUCCEEDED(hr)) M::to_variant(items, r);
      return hr;
    });
    m.add(u"Remove", [](ItemsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT*) {
      sx::com::Variant index;
      HRESULT hr = a.get(0, VT_I4, &index);
      return FAILED(hr) ? hr : self.Remove(index.get().lVal);
    });
    return m;
  }();
  return m;
}

IDispatch* ItemsImpl::make(std::uint64_t id) {
  const StoredItem* it = folder_.store->model().item(id);
  if (it == nullptr) return nullptr;
  IDispatch* out = nullptr;
  hand_out(make_item(app_, FolderRef{folder_.store, it->folder}, id, it->data), &out);
  return out;
}

std::optional<std::uint64_t> ItemsImpl::at(const StoreModel& model, std::size_t index) {
  if (only_) {
    if (index >= only_->size()) return std::nullopt;
    return (*only_)[index];
  }
  const FolderState* f = model.folder(folder_.id);
  if (f == nullptr || index >= f->order.size()) return std::nullopt;
  return f->order[index].second;
}

STDMETHODIMP ItemsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    const FolderState& f = live_folder(folder_);
    *count = static_cast<LONG>(only_ ? only_->size() : f.order.size());
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::Item(VARIANT index, IDispatch** item) {
  return call("Item", [&] {
    need(item);
    *item = nullptr;
    const FolderState& f = live_folder(folder_);
    sx::com::Variant v(index);
    if (v.vt() == (VT_BYREF | VT_VARIANT)) v = sx::com::Variant(*index.pvarVal);
    const StoreModel& m = folder_.store->model();
    if ((v.vt() & VT_TYPEMASK) == VT_BSTR) {
      const std::string subject = v.to_utf8();
      for (const auto& [seq, id] : f.order) {
        if (equal_ignoring_case(m.item(id)->data->text("Subject"), subject)) {
          *item = make(id);
          return S_OK;
        }
      }
      raise(MAPI_E_NOT_FOUND, "The operation failed. An object could not be found.");
    }
    const LONG n = v.to_i4();
    auto id = n >= 1 ? at(m, static_cast<std::size_t>(n) - 1) : std::nullopt;
    if (!id || (*item = make(*id)) == nullptr) raise(DISP_E_BADINDEX, "Array index out of bounds.");
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::Add(VARIANT type, IDispatch** item) {
  return call("Add", [&] {
    need(item);
    *item = nullptr;
    const FolderState& f = live_folder(folder_);
    hand_out(make_new_item(app_, folder_, message_class_for(type, f.record)), item);
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::Find(BSTR filter, IDispatch** item) {
  return call("Find", [&] {
    need(item);
    *item = nullptr;
    find_filter_ = parse_or_raise(filter);
    find_seq_ = 0;
    return FindNext(item);
  });
}

STDMETHODIMP ItemsImpl::FindNext(IDispatch** item) {
  return call("FindNext", [&] {
    need(item);
    *item = nullptr;
    if (!find_filter_) return S_OK;
    live_folder(folder_);
    const StoreModel& m = folder_.store->model();
    std::optional<std::uint64_t> id;
    if (only_) {
      for (std::uint64_t candidate : *only_) {
        const StoredItem* it = m.item(candidate);
        if (it != nullptr && it->seq > find_seq_ && matches(*it->data, *find_filter_)) {
          id = candidate;
          break;
        }
      }
    } else {
      id = m.find(folder_.id, *find_filter_, find_seq_);
    }
    if (!id) {
      find_seq_ = ~std::uint64_t{0};
      return S_OK;
    }
    find_seq_ = m.item(*id)->seq;
    *item = make(*id);
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::GetFirst(IDispatch** item) {
  return call("GetFirst", [&] {
    need(item);
    *item = nullptr;
    live_folder(folder_);
    cursor_seq_ = 0;
    cursor_index_ = 0;
    return GetNext(item);
  });
}

STDMETHODIMP ItemsImpl::GetNext(IDispatch** item) {
  return call("GetNext", [&] {
    need(item);
    *item = nullptr;
    const StoreModel& m = folder_.store->model();  // read again at GetFirst and Count, not per item
    if (only_) {
      while (cursor_index_ < only_->size()) {
        if ((*item = make((*only_)[cursor_index_++])) != nullptr) break;
      }
      return S_OK;
    }
    const FolderState* f = m.folder(folder_.id);
    if (f == nullptr) return S_OK;
    auto pos = std::upper_bound(f->order.begin(), f->order.end(),
                                std::make_pair(cursor_seq_, ~std::uint64_t{0}));
    if (pos == f->order.end()) {
      cursor_seq_ = ~std::uint64_t{0};
      return S_OK;
    }
    cursor_seq_ = pos->first;
    *item = make(pos->second);
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::GetLast(IDispatch** item) {
  return call("GetLast", [&] {
    need(item);
    *item = nullptr;
    const FolderState& f = live_folder(folder_);
    if (only_) {
      cursor_index_ = only_->size();
      if (!only_->empty()) *item = make(only_->back());
    } else if (!f.order.empty()) {
      cursor_seq_ = f.order.back().first;
      *item = make(f.order.back().second);
    }
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::Remove(LONG index) {
  return call("Remove", [&] {
    live_folder(folder_);
    auto id =
        index >= 1 ? at(folder_.store->model(), static_cast<std::size_t>(index) - 1) : std::nullopt;
    if (!id) raise(DISP_E_BADINDEX, "Array index out of bounds.");
    std::string why;
    if (!folder_.store->delete_item(*id, &why)) raise(E_FAIL, "The item cannot be deleted: " + why);
    if (only_) only_->erase(only_->begin() + (index - 1));
    app_->session().raise_remove(folder_);
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::Restrict(BSTR filter, _Items** items) {
  return call("Restrict", [&] {
    need(items);
    *items = nullptr;
    Filter f = parse_or_raise(filter);
    live_folder(folder_);
    const StoreModel& m = folder_.store->model();
    std::vector<std::uint64_t> ids;
    if (only_) {
      for (std::uint64_t id : *only_)
        if (const StoredItem* it = m.item(id); it != nullptr && matches(*it->data, f))
          ids.push_back(id);
    } else {
      ids = m.restrict(folder_.id, f);
    }
    hand_out(sx::com::make_object<ItemsImpl>(app_, folder_, std::move(ids)), items);
    return S_OK;
  });
}

STDMETHODIMP ItemsImpl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ItemsImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  SX_COM_CHECK_THREAD();
  return find_event_point<ItemsEvents>(
      iid, [app = app_, folder = folder_] { return &app->session().folder_sinks(folder); }, this,
      point);
}

}  // namespace sx::outlook
