// Sample COM add-ins for the add-in host's tests, in one in-process server: "SxTest.AddInA",
// "SxTest.AddInB" and "SxTest.Failing" (whose OnConnection fails). DllRegisterServer registers
// their classes (this file's host path as InprocServer32) and their add-in entries, as the
// add-ins' own registration does. Each writes what Outlook calls
// into the registry of the machine (HKCU\Software\SxTest "AddInLog", one line per call), so that a
// test reads the order of the calls whatever thread they came on; "AddInThreads" counts the calls
// that did not come on the thread that owns the Application (0 is right).
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>

#include "comdef.h"
#include "outlook/extensibility.h"
#include "outlook/office.h"
#include "outlook/outlook.h"
#include "test_addins.h"
#include "win32/registry.h"

namespace {

std::atomic<long> g_objects{0};

std::string read_log(const char* name) {
  HKEY key = nullptr;
  std::string text;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestAddInLogKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return text;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    text.resize(size);
    RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    text.resize(std::strlen(text.c_str()));
  }
  RegCloseKey(key);
  return text;
}

void write_log(const char* name, const std::string& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kTestAddInLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void log(const std::string& line) { write_log("AddInLog", read_log("AddInLog") + line + "\n"); }

// The IDispatch part of an add-in or an event sink (calls come through the typed interface).
template <class Events>
class Sink : public sx::com::ComObject<Events> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

class TestAddIn : public Sink<IDTExtensibility2> {
 public:
  TestAddIn(const char* name, bool fails) : name_(name), fails_(fails) { ++g_objects; }
  ~TestAddIn() override { --g_objects; }

  STDMETHODIMP OnConnection(IDispatch* application, ext_ConnectMode mode, IDispatch* instance,
                            SAFEARRAY** custom) override {
    check_thread();
    // The add-in reads its own ProgID from its COMAddIn, and keeps the Application.
    sx::com::Variant progid;
    sx::com::get_property(instance, u"ProgId", progid.put());
    log(name_ + ":OnConnection(" + std::to_string(mode) + "," + progid.to_utf8() + "," +
        (custom != nullptr && *custom != nullptr ? "custom" : "none") + ")");
    if (fails_) return sx::com::report_error(E_FAIL, "SxTest", "The folder is missing.");
    application_ = application;
    return S_OK;
  }
  STDMETHODIMP OnDisconnection(ext_DisconnectMode mode, SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnDisconnection(" + std::to_string(mode) + ")");
    application_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnAddInsUpdate");
    return S_OK;
  }
  STDMETHODIMP OnStartupComplete(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnStartupComplete");
    return S_OK;
  }
  STDMETHODIMP OnBeginShutdown(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnBeginShutdown");
    return S_OK;
  }

 private:
  // Outlook's objects are handed to add-ins as they are: calls on them work right here.
  void check_thread() {
    if (!application_) return;
    sx::com::Variant name;
    if (FAILED(sx::com::get_property(application_.Get(), u"Name", name.put()))) {
      write_log("AddInThreads", read_log("AddInThreads") + "x");
    }
  }

  std::string name_;
  bool fails_;
  sx::com::ComPtr<IDispatch> application_;
};

// A connection of a sink to a source's events, undone when it goes.
class Connection {
 public:
  Connection() = default;
  Connection(IUnknown* source, REFIID iid, IUnknown* sink) {
    sx::com::ComPtr<IConnectionPointContainer> container;
    if (source == nullptr ||
        FAILED(source->QueryInterface(IID_PPV_ARGS(container.GetAddressOf()))) ||
        FAILED(container->FindConnectionPoint(iid, point_.GetAddressOf())) ||
        FAILED(point_->Advise(sink, &cookie_)))
      point_ = nullptr;
  }
  ~Connection() { reset(); }
  Connection(const Connection&) = delete;
  Connection& operator=(Connection&& o) noexcept {
    reset();
    point_ = std::move(o.point_);
    cookie_ = o.cookie_;
    return *this;
  }
  void reset() {
    if (point_) point_->Unadvise(cookie_);
    point_ = nullptr;
  }
  explicit operator bool() const { return static_cast<bool>(point_); }

 private:
  sx::com::ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// The control with `id` among a bar's (or popup's) controls, or null.
sx::com::ComPtr<CommandBarControl> control_with_id(CommandBarControls* controls, LONG id) {
  LONG count = 0;
  if (controls == nullptr || FAILED(controls->get_Count(&count))) return nullptr;
  for (LONG i = 1; i <= count; ++i) {
    sx::com::ComPtr<CommandBarControl> c;
    LONG at = 0;
    if (SUCCEEDED(controls->Item(sx::com::Variant::from_i4(i).get(), c.GetAddressOf())) &&
        SUCCEEDED(c->get_Id(&at)) && at == id)
      return c;
  }
  return nullptr;
}

class ToolbarAddIn : public Sink<IDTExtensibility2> {
 public:
  ToolbarAddIn() { ++g_objects; }
  ~ToolbarAddIn() override { --g_objects; }

  STDMETHODIMP OnConnection(IDispatch* application, ext_ConnectMode mode, IDispatch* instance,
                            SAFEARRAY**) override {
    sx::com::Variant progid;
    sx::com::get_property(instance, u"ProgId", progid.put());
    log("Toolbar:OnConnection(" + std::to_string(mode) + ")");
    application->QueryInterface(IID_PPV_ARGS(app_.GetAddressOf()));
    if (!app_) return E_NOINTERFACE;
    app_->get_ActiveExplorer(explorer_.GetAddressOf());
    if (!explorer_) {
      log("Toolbar:NoExplorer");
      return S_OK;
    }
    explorer_events_ = Connection(explorer_.Get(), ExplorerEvents::kIid, &explorer_sink_);
    app_->get_Inspectors(inspectors_.GetAddressOf());
    inspector_events_ = Connection(inspectors_.Get(), InspectorsEvents::kIid, &inspectors_sink_);

    sx::com::ComPtr<_CommandBars> bars;
    explorer_->get_CommandBars(bars.GetAddressOf());
    sx::com::ComPtr<CommandBar> bar;
    sx::com::ComPtr<CommandBarControl> button;
    sx::com::Variant name = sx::com::Variant::from_utf8("SxTest Bar");
    sx::com::Variant missing;
    if (FAILED(bars->Item(name.get(), bar.GetAddressOf()))) {
      bars->Add(name.get(), sx::com::Variant::from_i4(1).get(), missing.get(),
                sx::com::Variant::from_bool(false).get(), bar.GetAddressOf());
      sx::com::ComPtr<CommandBarControls> controls;
      bar->get_Controls(controls.GetAddressOf());
      controls->Add(sx::com::Variant::from_i4(1).get(), missing.get(), missing.get(), missing.get(),
                    missing.get(), button.GetAddressOf());
      button->put_Caption(sx::com::Bstr::from_utf8("&Go").get());
      button->put_Tag(sx::com::Bstr::from_utf8("SxTestTag").get());
      button->put_OnAction(sx::com::Bstr::from_utf8("!<" + progid.to_utf8() + ">").get());
      bar->put_Visible(VARIANT_TRUE);
      log("Toolbar:Created");
    } else {
      bar->FindControl(missing.get(), missing.get(), sx::com::Variant::from_utf8("SxTestTag").get(),
                       missing.get(), missing.get(), button.GetAddressOf());
      log(button ? "Toolbar:Found" : "Toolbar:NoButton");
    }
    if (button) button_events_ = Connection(button.Get(), CommandBarButtonEvents::kIid, &click_);

    // The menu: temporary, before the last menu of the menu bar.
    sx::com::ComPtr<CommandBar> menu_bar;
    sx::com::ComPtr<CommandBarControls> menus;
    bars->Item(sx::com::Variant::from_utf8("Menu Bar").get(), menu_bar.GetAddressOf());
    menu_bar->get_Controls(menus.GetAddressOf());
    LONG count = 0;
    menus->get_Count(&count);
    sx::com::ComPtr<CommandBarControl> popup;
    menus->Add(sx::com::Variant::from_i4(10).get(), missing.get(), missing.get(),
               sx::com::Variant::from_i4(count).get(), sx::com::Variant::from_bool(true).get(),
               popup.GetAddressOf());
    popup->put_Caption(sx::com::Bstr::from_utf8("&SxTest").get());
    return S_OK;
  }
  STDMETHODIMP OnDisconnection(ext_DisconnectMode mode, SAFEARRAY**) override {
    log("Toolbar:OnDisconnection(" + std::to_string(mode) + ")");
    detach();
    return S_OK;
  }
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
  STDMETHODIMP OnStartupComplete(SAFEARRAY**) override { return S_OK; }
  STDMETHODIMP OnBeginShutdown(SAFEARRAY**) override { return S_OK; }

 private:
  void detach() {
    button_events_.reset();
    explorer_events_.reset();
    inspector_events_.reset();
    item_events_.reset();
    item_ = nullptr;
    inspectors_ = nullptr;
    explorer_ = nullptr;
    app_ = nullptr;
  }

  class ClickSink : public Sink<CommandBarButtonEvents> {
   public:
    STDMETHODIMP Click(CommandBarButton* button, VARIANT_BOOL*) override {
      BSTR tag = nullptr;
      if (button != nullptr) button->get_Tag(&tag);
      log("Toolbar:Click(" + sx::com::bstr_to_utf8(tag) + ")");
      SysFreeString(tag);
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // a member of the add-in
    STDMETHODIMP_(ULONG) Release() override { return 1; }
  };
  class ExplorerSink : public Sink<ExplorerEvents> {
   public:
    explicit ExplorerSink(ToolbarAddIn& self) : self_(self) {}
    STDMETHODIMP Close() override {
      sx::com::ComPtr<_Explorers> explorers;
      LONG count = -1;
      if (self_.app_ && SUCCEEDED(self_.app_->get_Explorers(explorers.GetAddressOf())))
        explorers->get_Count(&count);
      log("Toolbar:ExplorerClose(" + std::to_string(count) + ")");
      if (count <= 1) self_.detach();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

   private:
    ToolbarAddIn& self_;
  };
  class InspectorsSink : public Sink<InspectorsEvents> {
   public:
    explicit InspectorsSink(ToolbarAddIn& self) : self_(self) {}
    STDMETHODIMP NewInspector(_Inspector* inspector) override {
      sx::com::ComPtr<IDispatch> item;
      inspector->get_CurrentItem(item.GetAddressOf());
      log("Toolbar:NewInspector");
      self_.item_ = item;
      self_.item_events_ = Connection(item.Get(), ItemEvents::kIid, &self_.item_sink_);
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

   private:
    ToolbarAddIn& self_;
  };
  class ItemSink : public Sink<ItemEvents> {
   public:
    explicit ItemSink(ToolbarAddIn& self) : self_(self) {}
    STDMETHODIMP Read() override {
      sx::com::ComPtr<_OutlookItem> item;
      sx::com::ComPtr<_Inspector> inspector;
      if (self_.item_) self_.item_->QueryInterface(IID_PPV_ARGS(item.GetAddressOf()));
      if (item) item->GetInspector(inspector.GetAddressOf());
      sx::com::ComPtr<IDispatch> current;
      if (inspector) inspector->get_CurrentItem(current.GetAddressOf());
      log(std::string("Toolbar:Read(") +
          (current && sx::com::object_identity(current.Get()) ==
                          sx::com::object_identity(self_.item_.Get())
               ? "same"
               : "other") +
          ")");
      // The walk 30003 -> 3273 on the inspector's menu bar, then Execute: editing.
      sx::com::ComPtr<_CommandBars> bars;
      sx::com::ComPtr<CommandBar> menu;
      sx::com::ComPtr<CommandBarControls> controls;
      if (inspector) inspector->get_CommandBars(bars.GetAddressOf());
      if (bars) bars->Item(sx::com::Variant::from_utf8("Menu Bar").get(), menu.GetAddressOf());
      if (menu) menu->get_Controls(controls.GetAddressOf());
      sx::com::ComPtr<CommandBarControl> edit = control_with_id(controls.Get(), 30003);
      sx::com::ComPtr<CommandBarPopup> popup;
      sx::com::ComPtr<CommandBarControls> inner;
      if (edit) edit->QueryInterface(IID_PPV_ARGS(popup.GetAddressOf()));
      if (popup) popup->get_Controls(inner.GetAddressOf());
      if (auto command = control_with_id(inner.Get(), 3273)) command->Execute();
      self_.item_events_.reset();
      self_.item_ = nullptr;
      return S_OK;
    }
    STDMETHODIMP Close(VARIANT_BOOL*) override { return S_OK; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

   private:
    ToolbarAddIn& self_;
  };

  sx::com::ComPtr<_Application> app_;
  sx::com::ComPtr<_Explorer> explorer_;
  sx::com::ComPtr<_Inspectors> inspectors_;
  sx::com::ComPtr<IDispatch> item_;
  ClickSink click_;
  ExplorerSink explorer_sink_{*this};
  InspectorsSink inspectors_sink_{*this};
  ItemSink item_sink_{*this};
  Connection button_events_, explorer_events_, inspector_events_, item_events_;
};

}  // namespace

namespace {

bool set_value(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
               DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool ok =
      RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}
bool set_text(HKEY root, const std::string& path, const char* name, const std::string& text) {
  return set_value(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || info.dli_fname == nullptr)
    return E_UNEXPECTED;
  const struct {
    const char* progid;
    CLSID clsid;
    DWORD load_behavior;
  } addins[] = {{"SxTest.AddInA", kTestAddInA, 3},
                {"SxTest.AddInB", kTestAddInB, 3},
                {"SxTest.Failing", kTestAddInFailing, 2}};
  for (const auto& a : addins) {
    const std::string clsid = sx::com::format_guid(a.clsid);
    const std::string entry =
        std::string("Software\\Microsoft\\Office\\Outlook\\Addins\\") + a.progid;
    if (!set_text(HKEY_CLASSES_ROOT, std::string(a.progid) + "\\CLSID", nullptr, clsid) ||
        !set_text(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr,
                  info.dli_fname) ||
        !set_text(HKEY_CURRENT_USER, entry, "FriendlyName", a.progid) ||
        !set_text(HKEY_CURRENT_USER, entry, "Description", std::string("Sample ") + a.progid) ||
        !set_value(HKEY_CURRENT_USER, entry, "LoadBehavior", REG_DWORD, &a.load_behavior,
                   sizeof a.load_behavior))
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const char* name = nullptr;
  bool fails = false;
  if (clsid == kTestAddInA) {
    name = "A";
  } else if (clsid == kTestAddInB) {
    name = "B";
  } else if (clsid == kTestAddInFailing) {
    name = "Failing";
    fails = true;
  } else if (clsid == kTestAddInToolbar) {
    try {
      auto factory =
          sx::com::make_object<sx::com::FunctionClassFactory>([](REFIID wanted, void** out) {
            return sx::com::make_object<ToolbarAddIn>()->QueryInterface(wanted, out);
          });
      return factory->QueryInterface(iid, object);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  try {
    auto factory = sx::com::make_object<sx::com::FunctionClassFactory>(
        [name, fails](REFIID wanted, void** out) {
          return sx::com::make_object<TestAddIn>(name, fails)->QueryInterface(wanted, out);
        });
    return factory->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
