#include "ui/ui.h"

namespace sx::outlook {

// --- Explorers -----------------------------------------------------------------------------------

const Members<ExplorersImpl>& ExplorersImpl::members() {
  static const Members<ExplorersImpl> m = [] {
    Members<ExplorersImpl> m;
    m.get(u"Count", &ExplorersImpl::get_Count);
    m.function(u"Item", &ExplorersImpl::Item);
    m.function(u"Add", &ExplorersImpl::Add);
    return m;
  }();
  return m;
}

STDMETHODIMP ExplorersImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(app_->ui().explorers().size());
    return S_OK;
  });
}

STDMETHODIMP ExplorersImpl::Item(VARIANT index, _Explorer** explorer) {
  return call("Item", [&] {
    need(explorer);
    *explorer = nullptr;
    const IndexArg arg = read_index(index);
    const auto& list = app_->ui().explorers();
    if (arg.by_name || arg.number < 1 || static_cast<std::size_t>(arg.number) > list.size())
      raise(DISP_E_BADINDEX, "Array index out of bounds.");
    hand_out(list[static_cast<std::size_t>(arg.number) - 1], explorer);
    return S_OK;
  });
}

STDMETHODIMP ExplorersImpl::Add(VARIANT folder, LONG, _Explorer** explorer) {
  return call("Add", [&] {
    need(explorer);
    *explorer = nullptr;
    auto value = given(folder);
    sx::com::ComPtr<MAPIFolder> target;
    if (!value || value->vt() != VT_DISPATCH || value->get().pdispVal == nullptr ||
        FAILED(value->get().pdispVal->QueryInterface(IID_PPV_ARGS(target.GetAddressOf()))))
      raise(E_INVALIDARG, "The folder is not valid.");
    hand_out(app_->ui().open_explorer(FolderImpl::from(target.Get())->ref(), false), explorer);
    return S_OK;
  });
}

// --- Explorer ------------------------------------------------------------------------------------

const Members<ExplorerImpl>& ExplorerImpl::members() {
  static const Members<ExplorerImpl> m = [] {
    Members<ExplorerImpl> m;
    m.add(u"CurrentFolder",
          [](ExplorerImpl& self, WORD flags, const sx::com::DispatchArgs& a, VARIANT* r) {
            if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
              VARIANT* v = a.put_value();
              if (v == nullptr) return DISP_E_PARAMNOTFOUND;
              sx::com::Variant d = dereferenced(*v);
              sx::com::ComPtr<MAPIFolder> folder;
              if (d.vt() != VT_DISPATCH || d.get().pdispVal == nullptr ||
                  FAILED(d.get().pdispVal->QueryInterface(IID_PPV_ARGS(folder.GetAddressOf()))))
                return DISP_E_TYPEMISMATCH;
              return self.put_CurrentFolder(folder.Get());
            }
            MAPIFolder* folder = nullptr;
            const HRESULT hr = self.get_CurrentFolder(&folder);
            if (SUCCEEDED(hr)) Members<ExplorerImpl>::to_variant(folder, r);
            return hr;
          });
    m.get(u"Caption", &ExplorerImpl::get_Caption);
    m.method(u"Display", &ExplorerImpl::Display);
    m.method(u"Close", &ExplorerImpl::Close);
    m.get(u"CommandBars", &ExplorerImpl::get_CommandBars);
    m.get(u"Panes", &ExplorerImpl::get_Panes);
    return m;
  }();
  return m;
}

void ExplorerImpl::check_open() const {
  if (closed_) raise(E_FAIL, "The explorer has been closed.");
}

void ExplorerImpl::look() {
  if (!folder_) return;
  try {
    Ui& ui = app_->ui();
    for (std::uint64_t id : ui.notice_items(*folder_)) {
      const StoredItem* stored = folder_->store->model().item(id);
      if (stored == nullptr) continue;
      ItemPtr item = make_item(app_, *folder_, id, stored->data);
      sx::com::ComPtr<IDispatch> object;
      hand_out(item, object.GetAddressOf());
      app_->session().raise_add(*folder_, object.Get());
    }
  } catch (const OutlookError&) {
    // a folder that cannot be read shows nothing new
  }
}

void ExplorerImpl::close() {
  if (closed_) return;
  // Raised while this explorer still counts in Explorers.
  sinks_.raise([](ExplorerEvents* sink) { return sink->Close(); });
  if (closed_) return;  // Outlook ended meanwhile
  closed_ = true;
  sinks_.clear();
  app_->ui().explorer_closed(this);
}

STDMETHODIMP ExplorerImpl::get_CurrentFolder(MAPIFolder** folder) {
  return call("get_CurrentFolder", [&] {
    need(folder);
    *folder = nullptr;
    check_open();
    if (folder_) hand_out(sx::com::make_object<FolderImpl>(app_, *folder_), folder);
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::put_CurrentFolder(MAPIFolder* folder) {
  return call("put_CurrentFolder", [&] {
    check_open();
    if (folder == nullptr) raise(E_INVALIDARG, "The folder is not valid.");
    FolderRef ref = FolderImpl::from(folder)->ref();
    live_folder(ref);
    folder_ = std::move(ref);
    look();
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::get_Caption(BSTR* caption) {
  return call("get_Caption", [&] {
    need(caption);
    check_open();
    std::string name = folder_ ? live_folder(*folder_).record.name : std::string();
    *caption = out_text(name.empty() ? "Microsoft Outlook" : name + " - Microsoft Outlook");
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::Display() {
  return call("Display", [&] {
    check_open();
    shown_ = true;
    app_->ui().activated(this);
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::Close() {
  return call("Close", [&] {
    check_open();
    close();
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::get_CommandBars(_CommandBars** bars) {
  return call("get_CommandBars", [&] {
    need(bars);
    *bars = nullptr;
    check_open();
    hand_out(sx::com::make_object<CommandBarsImpl>(app_, app_->ui().explorer_bars()), bars);
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::get_Panes(Panes** panes) {
  return call("get_Panes", [&] {
    need(panes);
    *panes = nullptr;
    check_open();
    hand_out(sx::com::make_object<PanesImpl>(app_), panes);
    return S_OK;
  });
}

STDMETHODIMP ExplorerImpl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ExplorerImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  SX_COM_CHECK_THREAD();
  return find_event_point<ExplorerEvents>(
      iid,
      [self = ExplorerPtr(this)]() -> Sinks<ExplorerEvents>* {
        return self->closed_ ? nullptr : &self->sinks_;
      },
      static_cast<IConnectionPointContainer*>(this), point);
}

// --- Panes ---------------------------------------------------------------------------------------

const Members<PanesImpl>& PanesImpl::members() {
  static const Members<PanesImpl> m = [] {
    Members<PanesImpl> m;
    m.get(u"Count", &PanesImpl::get_Count);
    m.function(u"Item", &PanesImpl::Item);
    return m;
  }();
  return m;
}

STDMETHODIMP PanesImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = 1;
    return S_OK;
  });
}

STDMETHODIMP PanesImpl::Item(VARIANT index, IDispatch** pane) {
  return call("Item", [&] {
    need(pane);
    *pane = nullptr;
    const IndexArg arg = read_index(index);
    if (arg.by_name ? !equal_ignoring_case(arg.name, "OutlookBar") : arg.number != 1)
      raise(E_INVALIDARG, "The pane is not valid.");
    auto bar = sx::com::make_object<OutlookBarPaneImpl>(app_);
    *pane = static_cast<_OutlookBarPane*>(bar.Detach());
    return S_OK;
  });
}

}  // namespace sx::outlook
