#include "ui/ui.h"

namespace sx::outlook {

// --- Inspectors ----------------------------------------------------------------------------------

const Members<InspectorsImpl>& InspectorsImpl::members() {
  static const Members<InspectorsImpl> m = [] {
    Members<InspectorsImpl> m;
    m.get(u"Count", &InspectorsImpl::get_Count);
    m.function(u"Item", &InspectorsImpl::Item);
    m.function(u"Add", &InspectorsImpl::Add);
    return m;
  }();
  return m;
}

STDMETHODIMP InspectorsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(app_->ui().inspectors().size());
    return S_OK;
  });
}

STDMETHODIMP InspectorsImpl::Item(VARIANT index, _Inspector** inspector) {
  return call("Item", [&] {
    need(inspector);
    *inspector = nullptr;
    const IndexArg arg = read_index(index);
    const auto& list = app_->ui().inspectors();
    if (arg.by_name || arg.number < 1 || static_cast<std::size_t>(arg.number) > list.size())
      raise(DISP_E_BADINDEX, "Array index out of bounds.");
    hand_out(list[static_cast<std::size_t>(arg.number) - 1], inspector);
    return S_OK;
  });
}

STDMETHODIMP InspectorsImpl::Add(IDispatch* item, _Inspector** inspector) {
  return call("Add", [&] {
    need(inspector);
    *inspector = nullptr;
    ItemImpl* impl = ItemImpl::from(item);
    if (impl == nullptr) raise(E_INVALIDARG, "The item is not valid.");
    impl->check_usable();
    hand_out(app_->ui().inspector_for(ItemPtr(impl)), inspector);
    return S_OK;
  });
}

STDMETHODIMP InspectorsImpl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP InspectorsImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  SX_COM_CHECK_THREAD();
  return find_event_point<InspectorsEvents>(
      iid, [app = app_] { return &app->ui().new_inspector_sinks(); },
      static_cast<IConnectionPointContainer*>(this), point);
}

// --- Inspector -----------------------------------------------------------------------------------

InspectorImpl::InspectorImpl(AppPtr app, ItemPtr item)
    : OutlookObject("Inspector"),
      app_(std::move(app)),
      item_(std::move(item)),
      bars_(BarSet::for_inspector()) {
  // A saved post or mail opens for reading; a new item, and a contact, for editing.
  const ItemData& data = item_->data();
  editing_ = item_->id() == 0 || data.object_class == olContact;
  bars_->run_command = [this](LONG id) { return run_command(id); };
}

const Members<InspectorImpl>& InspectorImpl::members() {
  static const Members<InspectorImpl> m = [] {
    Members<InspectorImpl> m;
    m.get(u"CurrentItem", &InspectorImpl::get_CurrentItem);
    m.get(u"CommandBars", &InspectorImpl::get_CommandBars);
    m.get(u"Caption", &InspectorImpl::get_Caption);
    m.method(u"Display", &InspectorImpl::Display);
    m.method(u"Close", &InspectorImpl::Close);
    m.get(u"Editing", &InspectorImpl::get_Editing);
    m.method(u"TypeText", &InspectorImpl::TypeText);
    return m;
  }();
  return m;
}

void InspectorImpl::check_open() const {
  if (closed_) raise(E_FAIL, "The inspector has been closed.");
}

void InspectorImpl::show() {
  check_open();
  if (!shown_) item_->reread();
  shown_ = true;
  if (read_raised_ || item_->id() == 0) return;
  read_raised_ = true;
  item_->events().raise([](ItemEvents* sink) { return sink->Read(); });
}

bool InspectorImpl::close(LONG mode) {
  if (closed_) return true;
  VARIANT_BOOL cancel = VARIANT_FALSE;
  item_->events().raise([&](ItemEvents* sink) { return sink->Close(&cancel); });
  if (cancel != VARIANT_FALSE || closed_) return closed_;
  item_->close_now(mode);
  drop();
  app_->ui().inspector_closed(this);
  return true;
}

void InspectorImpl::drop() {
  closed_ = true;
  bars_->run_command = nullptr;
}

bool InspectorImpl::run_command(LONG id) {
  if (closed_) return false;
  switch (id) {
    case kCommandEditItem:
      editing_ = true;
      return true;
    case kCommandSave:
      item_->close_now(olSave);
      return true;
    case kCommandClose:
      close(olPromptForSave);
      return true;
    default:
      return false;
  }
}

STDMETHODIMP InspectorImpl::get_CurrentItem(IDispatch** item) {
  return call("get_CurrentItem", [&] {
    need(item);
    *item = nullptr;
    check_open();
    hand_out(item_, item);
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::get_CommandBars(_CommandBars** bars) {
  return call("get_CommandBars", [&] {
    need(bars);
    *bars = nullptr;
    check_open();
    hand_out(sx::com::make_object<CommandBarsImpl>(app_, bars_), bars);
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::get_Caption(BSTR* caption) {
  return call("get_Caption", [&] {
    need(caption);
    check_open();
    const std::string subject = item_->data().text("Subject");
    const char* kind = item_->data().object_class == olContact ? "Contact"
                       : item_->data().object_class == olPost  ? "Discussion"
                                                               : "Message";
    *caption = out_text((subject.empty() ? std::string("Untitled") : subject) + " - " + kind);
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::Display(VARIANT) {
  return call("Display", [&] {
    show();
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::Close(LONG mode) {
  return call("Close", [&] {
    check_open();
    if (mode != olSave && mode != olDiscard && mode != olPromptForSave)
      raise(E_INVALIDARG, "The close mode is not valid.");
    close(mode);
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::get_Editing(VARIANT_BOOL* editing) {
  return call("get_Editing", [&] {
    need(editing);
    check_open();
    *editing = editing_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP InspectorImpl::TypeText(BSTR text) {
  return call("TypeText", [&] {
    check_open();
    if (!editing_) raise(E_ACCESSDENIED, "The item is open for reading; it cannot be changed.");
    BSTR body = nullptr;
    if (const HRESULT hr = item_->get_Body(&body); FAILED(hr)) return hr;
    std::string now = in_text(body);
    SysFreeString(body);
    now += in_text(text);
    sx::com::Bstr changed = sx::com::Bstr::from_utf8(now);
    return item_->put_Body(changed.get());
  });
}

}  // namespace sx::outlook
