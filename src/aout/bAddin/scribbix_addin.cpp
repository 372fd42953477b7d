// ScribbixAddIn: attaching to Outlook and letting it go, the event handlers, the folder helpers and
// the late-bound side of _ScribbixAddIn.
#include "scribbix_addin.h"

#include "item_stamping.h"
#include "outlook_support.h"
#include "scribbix/note_text.h"
#include "scribbix/notes_folder.h"

namespace sx::addin {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::throw_if_failed;
using sx::com::Variant;
using sx::common::EventConnection;
using sx::common::EventSink;

// --- Event sinks: each hands its event to the add-in's handler.

class ScribbixAddIn::ExplorerSink final : public EventSink<ExplorerEvents, ScribbixAddIn> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP Close() override {
    owner().objExpl_Close();
    return S_OK;
  }
};

class ScribbixAddIn::ButtonSink final : public EventSink<CommandBarButtonEvents, ScribbixAddIn> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP Click(CommandBarButton*, VARIANT_BOOL*) override {
    owner().objNewSXButton_Click();
    return S_OK;
  }
};

class ScribbixAddIn::ItemsSink final : public EventSink<ItemsEvents, ScribbixAddIn> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP ItemAdd(IDispatch* item) override {
    owner().colScribbixItems_ItemAdd(item);
    return S_OK;
  }
  STDMETHODIMP ItemChange(IDispatch*) override { return S_OK; }
  STDMETHODIMP ItemRemove() override { return S_OK; }
};

class ScribbixAddIn::InspectorsSink final : public EventSink<InspectorsEvents, ScribbixAddIn> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP NewInspector(_Inspector* inspector) override {
    owner().colInsp_NewInspector(inspector);
    return S_OK;
  }
};

class ScribbixAddIn::PostSink final : public EventSink<ItemEvents, ScribbixAddIn> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP Read() override {
    owner().objPostItem_Read();
    return S_OK;
  }
  STDMETHODIMP Close(VARIANT_BOOL*) override { return S_OK; }
};

ScribbixAddIn::ScribbixAddIn()
    : explorer_sink_(std::make_unique<ExplorerSink>(*this)),
      button_sink_(std::make_unique<ButtonSink>(*this)),
      items_sink_(std::make_unique<ItemsSink>(*this)),
      inspectors_sink_(std::make_unique<InspectorsSink>(*this)),
      post_sink_(std::make_unique<PostSink>(*this)) {
  table_.add(
      u"GetFolderPath",
      [this](WORD, const sx::com::DispatchArgs& args, VARIANT* result) -> HRESULT {
        Variant folder;
        if (args.count() > 0 && !args.omitted(0)) folder = Variant(*args.at(0));
        Bstr path;
        const HRESULT hr = GetFolderPath(folder.get(), path.put());
        if (SUCCEEDED(hr) && result != nullptr) *result = Variant::from_bstr(path.u16()).detach();
        return hr;
      },
      scribbixaddin::kDispGetFolderPath);
  table_.add(
      u"OpenMAPIFolder",
      [this](WORD, const sx::com::DispatchArgs& args, VARIANT* result) -> HRESULT {
        Variant path;
        if (args.count() > 0 && !args.omitted(0)) path = Variant(*args.at(0));
        ComPtr<MAPIFolder> folder;
        const HRESULT hr = OpenMAPIFolder(path.get(), folder.GetAddressOf());
        if (SUCCEEDED(hr) && result != nullptr) {
          ComPtr<IDispatch> as_dispatch;
          if (folder) folder->QueryInterface(IID_IDispatch, as_dispatch.PutVoid());
          *result = Variant::from_dispatch(as_dispatch.Get()).detach();
        }
        return hr;
      },
      scribbixaddin::kDispOpenMAPIFolder);
}

ScribbixAddIn::~ScribbixAddIn() = default;

// --- Watched members.

void ScribbixAddIn::watch_explorer(ComPtr<_Explorer> explorer) {
  explorer_events_.reset();
  objExpl = std::move(explorer);
  if (objExpl)
    explorer_events_ = EventConnection(objExpl.Get(), ExplorerEvents::kIid,
                                       static_cast<ExplorerEvents*>(explorer_sink_.get()));
}

void ScribbixAddIn::watch_inspectors(ComPtr<_Inspectors> inspectors) {
  inspectors_events_.reset();
  colInsp = std::move(inspectors);
  if (colInsp)
    inspectors_events_ = EventConnection(colInsp.Get(), InspectorsEvents::kIid,
                                         static_cast<InspectorsEvents*>(inspectors_sink_.get()));
}

void ScribbixAddIn::watch_post(ComPtr<_PostItem> post) {
  post_events_.reset();
  objPostItem = std::move(post);
  if (objPostItem)
    post_events_ = EventConnection(objPostItem.Get(), ItemEvents::kIid,
                                   static_cast<ItemEvents*>(post_sink_.get()));
}

void ScribbixAddIn::watch_items(ComPtr<_Items> items) {
  items_events_.reset();
  colScribbixItems = std::move(items);
  if (colScribbixItems)
    items_events_ = EventConnection(colScribbixItems.Get(), ItemsEvents::kIid,
                                    static_cast<ItemsEvents*>(items_sink_.get()));
}

void ScribbixAddIn::watch_button(ComPtr<CommandBarButton> button) {
  button_events_.reset();
  objNewSXButton = std::move(button);
  if (objNewSXButton)
    button_events_ = EventConnection(objNewSXButton.Get(), CommandBarButtonEvents::kIid,
                                     static_cast<CommandBarButtonEvents*>(button_sink_.get()));
}

// --- Attaching and detaching.

void ScribbixAddIn::AttachOutlook(_Application* application, const std::u16string& progid) {
  try {
    objOutlook = application;
    application_ = application;
    progid_ = progid;
    if (!application) sx::com::issue_error(E_POINTER);
    throw_if_failed(application->GetNamespace(bstr("MAPI").get(), objNS.ReleaseAndGetAddressOf()));
    ComPtr<_Explorer> explorer;
    throw_if_failed(application->get_ActiveExplorer(explorer.GetAddressOf()));
    watch_explorer(std::move(explorer));
    watch_inspectors(nullptr);
    watch_button(nullptr);
    notes_bar_ = nullptr;

    ComPtr<MAPIFolder> folder = open_folder(widen(scribbixaddin::kNotesFolderPath));
    if (!folder) {
      HideNotesBar();
      return;
    }
    ComPtr<_Items> items;
    throw_if_failed(folder->get_Items(items.GetAddressOf()));
    watch_items(std::move(items));
    if (setting_number(scribbixaddin::kAutoEditModeValue) > 0) {
      ComPtr<_Inspectors> inspectors;
      throw_if_failed(application->get_Inspectors(inspectors.GetAddressOf()));
      watch_inspectors(std::move(inspectors));
    }
    SetUpCommandUi();
  } catch (...) {
    // A failed connection leaves nothing behind: no watch stays connected to an add-in that
    // Outlook has given up.
    DetachOutlook();
    throw;
  }
}

void ScribbixAddIn::DetachOutlook() {
  watch_button(nullptr);
  notes_bar_ = nullptr;
  watch_items(nullptr);
  watch_explorer(nullptr);
  watch_inspectors(nullptr);
  objNS = nullptr;
  application_ = nullptr;
  objOutlook = nullptr;
  watch_post(nullptr);
}

// --- Event handlers.

void ScribbixAddIn::objExpl_Close() {
  try {
    ComPtr<_Explorers> explorers;
    LONG count = 0;
    if (!objOutlook) return;
    throw_if_failed(objOutlook->get_Explorers(explorers.GetAddressOf()));
    if (!explorers) return;
    throw_if_failed(explorers->get_Count(&count));
    if (count <= 1) DetachOutlook();
  } catch (...) {
  }
}

void ScribbixAddIn::objNewSXButton_Click() {
  try {
    if (!colScribbixItems) return;
    ComPtr<IDispatch> added;
    throw_if_failed(
        colScribbixItems->Add(text(sx::common::kNoteClass).get(), added.GetAddressOf()));
    ComPtr<_OutlookItem> note;
    if (added) added->QueryInterface(_OutlookItem::kIid, note.PutVoid());
    if (note) throw_if_failed(note->Display(Variant::from_bool(false).get()));
  } catch (...) {
  }
}

void ScribbixAddIn::colScribbixItems_ItemAdd(IDispatch* item) {
  try {
    stamp_added_item(item, colScribbixItems.Get());
  } catch (...) {
  }
}

void ScribbixAddIn::colInsp_NewInspector(_Inspector* inspector) {
  try {
    if (inspector == nullptr) return;
    ComPtr<IDispatch> current;
    throw_if_failed(inspector->get_CurrentItem(current.GetAddressOf()));
    ComPtr<_OutlookItem> item;
    if (current) current->QueryInterface(_OutlookItem::kIid, item.PutVoid());
    if (!item) return;
    Bstr message_class;
    throw_if_failed(item->get_MessageClass(message_class.put()));
    if (!sx::common::is_note_class(message_class.u16())) return;
    ComPtr<_CommandBars> bars;
    throw_if_failed(inspector->get_CommandBars(bars.GetAddressOf()));
    if (!edit_item_command(bars.Get())) return;
    ComPtr<_PostItem> post;
    current->QueryInterface(_PostItem::kIid, post.PutVoid());
    if (post) watch_post(std::move(post));
  } catch (...) {
  }
}

void ScribbixAddIn::objPostItem_Read() {
  try {
    ComPtr<_Inspector> inspector;
    if (objPostItem && SUCCEEDED(objPostItem->GetInspector(inspector.GetAddressOf())) &&
        inspector) {
      ComPtr<_CommandBars> bars;
      if (SUCCEEDED(inspector->get_CommandBars(bars.GetAddressOf()))) {
        if (ComPtr<CommandBarControl> edit = edit_item_command(bars.Get())) edit->Execute();
      }
    }
  } catch (...) {
  }
  // One note at a time, watched only until it is read.
  try {
    watch_post(nullptr);
  } catch (...) {
  }
}

// --- Folders.

STDMETHODIMP ScribbixAddIn::GetFolderPath(VARIANT objFolder, BSTR* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  std::u16string path;
  try {
    const VARIANT* given = &objFolder;
    if (given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal != nullptr) given = given->pvarVal;
    IDispatch* object = given->vt == VT_DISPATCH ? given->pdispVal : nullptr;
    ComPtr<MAPIFolder> folder;
    if (object != nullptr) object->QueryInterface(MAPIFolder::kIid, folder.PutVoid());
    Bstr name;
    if (folder && SUCCEEDED(folder->get_Name(name.put()))) {
      path = u"\\" + name.u16();
      // Up through the parents while they are folders: a store root's parent is the namespace.
      for (int depth = 0; folder && depth < 1000; ++depth) {
        ComPtr<IDispatch> parent;
        ComPtr<MAPIFolder> parent_folder;
        if (FAILED(folder->get_Parent(parent.GetAddressOf())) || !parent ||
            FAILED(parent->QueryInterface(MAPIFolder::kIid, parent_folder.PutVoid())) ||
            !parent_folder) {
          break;
        }
        Bstr parent_name;
        if (FAILED(parent_folder->get_Name(parent_name.put()))) break;
        path = u"\\" + parent_name.u16() + path;
        folder = parent_folder;
      }
    }
  } catch (...) {
  }
  *result = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  return *result == nullptr && !path.empty() ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP ScribbixAddIn::OpenMAPIFolder(VARIANT strPath, MAPIFolder** result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  try {
    Variant path = Variant(strPath).changed_to(VT_BSTR);
    *result =
        open_folder(sx::com::Bstr(path.get().bstrVal ? path.get().bstrVal : u"").u16()).Detach();
    return S_OK;
  } catch (const ComError& e) {
    if (e.ErrorInfo()) SetErrorInfo(0, e.ErrorInfo().Get());
    return e.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

ComPtr<MAPIFolder> ScribbixAddIn::open_folder(std::u16string path) {
  ComPtr<MAPIFolder> current;
  bool relative = false;
  if (!path.empty() && path.front() == u'\\') {
    path.erase(0, 1);
  } else {
    ComPtr<_Explorer> explorer;
    if (application_ && SUCCEEDED(application_->get_ActiveExplorer(explorer.GetAddressOf())) &&
        explorer && SUCCEEDED(explorer->get_CurrentFolder(current.GetAddressOf())) && current) {
      relative = true;
    }
  }
  while (!path.empty()) {
    const std::size_t slash = path.find(u'\\');
    const std::u16string name = path.substr(0, slash);
    path = slash == std::u16string::npos ? std::u16string() : path.substr(slash + 1);
    const Variant index = Variant::from_bstr(name);
    if (!current) {
      // The store roots: a missing one is Nothing, not an error.
      ComPtr<_NameSpace> ns;
      ComPtr<_Folders> roots;
      if (!application_ ||
          FAILED(application_->GetNamespace(bstr("MAPI").get(), ns.GetAddressOf())) || !ns ||
          FAILED(ns->get_Folders(roots.GetAddressOf())) || !roots ||
          FAILED(roots->Item(index.get(), current.GetAddressOf()))) {
        SetErrorInfo(0, nullptr);
        return nullptr;
      }
      if (!current) return nullptr;
      continue;
    }
    ComPtr<_Folders> subfolders;
    ComPtr<MAPIFolder> next;
    if (relative) {
      // Below the explorer's folder a missing name is Nothing too, never the folder above it.
      if (FAILED(current->get_Folders(subfolders.GetAddressOf())) || !subfolders ||
          FAILED(subfolders->Item(index.get(), next.GetAddressOf()))) {
        SetErrorInfo(0, nullptr);
        return nullptr;
      }
    } else {
      throw_if_failed(current->get_Folders(subfolders.GetAddressOf()));
      if (!subfolders) sx::com::issue_error(E_POINTER);
      throw_if_failed(subfolders->Item(index.get(), next.GetAddressOf()));
    }
    current = std::move(next);
    if (!current) return nullptr;
  }
  return current;
}

}  // namespace sx::addin
