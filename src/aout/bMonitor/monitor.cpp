#include "monitor.h"

#include <string>

#include "scribbix/notes_folder.h"

namespace sx::monitor {

using sx::com::Bstr;
using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

Bstr bstr(const char* ascii) {
  std::u16string wide;
  for (; *ascii != '\0'; ++ascii) wide.push_back(static_cast<unsigned char>(*ascii));
  return Bstr(wide);
}

bool named(MAPIFolder* folder, const char* name) {
  Bstr shown;
  throw_if_failed(folder->get_Name(shown.put()));
  return shown.u16() == bstr(name).u16();
}

// Walks `folders` with GetFirst/GetNext to the folder named `name` exactly; null past the last.
ComPtr<MAPIFolder> walk_to(_Folders* folders, const char* name) {
  LONG count = 0;
  throw_if_failed(folders->get_Count(&count));
  if (count <= 0) return nullptr;
  ComPtr<MAPIFolder> folder;
  throw_if_failed(folders->GetFirst(folder.GetAddressOf()));
  while (folder && !named(folder.Get(), name)) {
    throw_if_failed(folders->GetNext(folder.ReleaseAndGetAddressOf()));
  }
  return folder;
}

}  // namespace

class ScribbixMonitor1::ExplorerSink final
    : public sx::common::EventSink<ExplorerEvents, ScribbixMonitor1> {
 public:
  using EventSink::EventSink;
  STDMETHODIMP Close() override {
    owner().objExpl_Close();
    return S_OK;
  }
};

ComPtr<_Application>& module_outlook() {
  static ComPtr<_Application> outlook;
  return outlook;
}

ScribbixMonitor1::ScribbixMonitor1() : explorer_sink_(std::make_unique<ExplorerSink>(*this)) {
  table_.add(
      u"FindFolder",
      [this](WORD, const sx::com::DispatchArgs& args, VARIANT* result) -> HRESULT {
        Variant given;
        if (args.count() > 0 && !args.omitted(0)) given = Variant(*args.at(0));
        ComPtr<_Application> app;
        const VARIANT& v = given.get();
        IDispatch* object = v.vt == VT_DISPATCH ? v.pdispVal
                            : v.vt == (VT_BYREF | VT_DISPATCH) && v.ppdispVal != nullptr
                                ? *v.ppdispVal
                                : nullptr;
        if (object != nullptr) object->QueryInterface(_Application::kIid, app.PutVoid());
        _Application* raw = app.Get();
        LONG found = 0;
        const HRESULT hr = FindFolder(&raw, &found);
        if (SUCCEEDED(hr) && result != nullptr) *result = Variant::from_i4(found).detach();
        return hr;
      },
      scribbixmonitor::kDispFindFolder);
  table_.add(
      u"SetAddIn",
      [this](WORD, const sx::com::DispatchArgs& args, VARIANT* result) -> HRESULT {
        ComPtr<_Application> app;
        Variant name, flag;
        if (args.count() > 0 && !args.omitted(0)) {
          const Variant given(*args.at(0));
          if (given.vt() == VT_DISPATCH && given.get().pdispVal != nullptr)
            given.get().pdispVal->QueryInterface(_Application::kIid, app.PutVoid());
        }
        if (args.count() > 1 && FAILED(args.get(1, VT_BSTR, &name))) return DISP_E_TYPEMISMATCH;
        if (args.count() > 2 && FAILED(args.get(2, VT_BOOL, &flag))) return DISP_E_TYPEMISMATCH;
        _Application* raw = app.Get();
        BSTR text = name.get().vt == VT_BSTR ? name.get().bstrVal : nullptr;
        VARIANT_BOOL wanted = flag.get().vt == VT_BOOL ? flag.get().boolVal : VARIANT_FALSE;
        LONG value = 0;
        const HRESULT hr = SetAddIn(&raw, &text, &wanted, &value);
        if (SUCCEEDED(hr) && result != nullptr) *result = Variant::from_i4(value).detach();
        return hr;
      },
      scribbixmonitor::kDispSetAddIn);
}

ScribbixMonitor1::~ScribbixMonitor1() = default;

void ScribbixMonitor1::AttachOutlook(_Application* application) {
  objOutlook = application;
  module_outlook() = application;
  ComPtr<_Explorer> explorer;
  if (application != nullptr && FAILED(application->get_ActiveExplorer(explorer.GetAddressOf())))
    SetErrorInfo(0, nullptr);
  explorer_events_.reset();
  objExpl = std::move(explorer);
  if (objExpl)
    explorer_events_ = sx::common::EventConnection(
        objExpl.Get(), ExplorerEvents::kIid, static_cast<ExplorerEvents*>(explorer_sink_.get()));
}

void ScribbixMonitor1::DetachOutlook() {
  explorer_events_.reset();
  objExpl = nullptr;
  objOutlook = nullptr;
  module_outlook() = nullptr;
}

void ScribbixMonitor1::objExpl_Close() {
  try {
    ComPtr<_Explorers> explorers;
    LONG count = 0;
    if (!objOutlook || FAILED(objOutlook->get_Explorers(explorers.GetAddressOf())) || !explorers ||
        FAILED(explorers->get_Count(&count))) {
      return;
    }
    if (count <= 1) DetachOutlook();
  } catch (...) {
  }
}

void ScribbixMonitor1::HideNotesBar() {
  try {
    ComPtr<_CommandBars> bars;
    ComPtr<CommandBar> bar;
    if (objExpl && SUCCEEDED(objExpl->get_CommandBars(bars.GetAddressOf())) && bars &&
        SUCCEEDED(bars->Item(Variant::from_bstr(bstr(scribbixmonitor::kNotesBarName).u16()).get(),
                             bar.GetAddressOf())) &&
        bar) {
      bar->put_Visible(VARIANT_FALSE);
    }
  } catch (...) {
  }
  SetErrorInfo(0, nullptr);
}

STDMETHODIMP ScribbixMonitor1::FindFolder(_Application** olApp, LONG* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  LONG found = 0;
  try {
    _Application* app = olApp != nullptr ? *olApp : nullptr;
    ComPtr<_NameSpace> ns;
    if (app != nullptr) throw_if_failed(app->GetNamespace(bstr("MAPI").get(), ns.GetAddressOf()));
    if (ns) {
      ComPtr<_Folders> roots;
      throw_if_failed(ns->get_Folders(roots.GetAddressOf()));
      ComPtr<MAPIFolder> root = roots ? walk_to(roots.Get(), sx::common::kStoreRootName) : nullptr;
      ComPtr<_Folders> subfolders;
      if (root) throw_if_failed(root->get_Folders(subfolders.GetAddressOf()));
      if (subfolders && walk_to(subfolders.Get(), sx::common::kNotesFolderName)) found = 1;
    }
  } catch (...) {
    found = 0;
  }
  SetErrorInfo(0, nullptr);
  if (found == 0) HideNotesBar();
  *result = found;
  return S_OK;
}

STDMETHODIMP ScribbixMonitor1::SetAddIn(_Application** olApp, BSTR* anAddin, VARIANT_BOOL* flag,
                                        LONG* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  LONG outcome = scribbixmonitor::kAddInMissing;
  try {
    _Application* app = olApp != nullptr ? *olApp : nullptr;
    const std::u16string wanted_name = anAddin != nullptr && *anAddin != nullptr
                                           ? Bstr(std::u16string(*anAddin)).u16()
                                           : std::u16string();
    const VARIANT_BOOL wanted =
        flag != nullptr && *flag != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE;
    ComPtr<COMAddIns> addins;
    if (app != nullptr) throw_if_failed(app->get_COMAddIns(addins.GetAddressOf()));
    LONG count = 0;
    if (addins) throw_if_failed(addins->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<COMAddIn> addin;
      throw_if_failed(addins->Item(Variant::from_i4(i).get(), addin.GetAddressOf()));
      if (!addin) continue;
      Bstr description;
      throw_if_failed(addin->get_Description(description.put()));
      if (description.u16() != wanted_name) continue;
      VARIANT_BOOL connected = VARIANT_FALSE;
      throw_if_failed(addin->get_Connect(&connected));
      if ((connected != VARIANT_FALSE) != (wanted != VARIANT_FALSE))
        throw_if_failed(addin->put_Connect(wanted));
      outcome = scribbixmonitor::kAddInOff;
      throw_if_failed(addin->get_Connect(&connected));
      if (connected != VARIANT_FALSE) outcome = scribbixmonitor::kAddInOn;
      break;
    }
  } catch (...) {
  }
  SetErrorInfo(0, nullptr);
  *result = outcome;
  return S_OK;
}

}  // namespace sx::monitor
