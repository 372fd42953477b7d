#include "server/addin_host.h"

#include "objects/objects.h"

namespace sx::outlook {

namespace {

// The empty `custom` array of one IDTExtensibility2 call.
class Custom {
 public:
  Custom() : array_(SafeArrayCreateVector(VT_VARIANT, 0, 0)) {}
  ~Custom() { SafeArrayDestroy(array_); }
  Custom(const Custom&) = delete;
  Custom& operator=(const Custom&) = delete;
  SAFEARRAY** get() { return &array_; }

 private:
  SAFEARRAY* array_;
};

// Calls an add-in's method; whatever it throws counts as a failure, never passes.
template <class F>
HRESULT call_addin(F&& call) {
  try {
    return call();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

AddInHost::~AddInHost() = default;

void AddInHost::read_registry() {
  addins_.clear();
  for (addins::Registration& r : addins::list()) {
    AddIn addin;
    addin.registration = std::move(r);
    addins_.push_back(std::move(addin));
  }
}

void AddInHost::update() {
  for (addins::Registration& r : addins::list()) {
    if (find(r.progid)) continue;
    AddIn addin;
    addin.registration = std::move(r);
    addins_.push_back(std::move(addin));
  }
}

std::optional<std::size_t> AddInHost::find(const std::string& progid) const {
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (equal_ignoring_case(addins_[i].registration.progid, progid)) return i;
  }
  return std::nullopt;
}

sx::com::ComPtr<COMAddInImpl> AddInHost::entry(std::size_t index) {
  AddIn& addin = addins_.at(index);
  if (!addin.entry) addin.entry = sx::com::make_object<COMAddInImpl>(AppPtr(&app_), index);
  return addin.entry;
}

void AddInHost::start_up() {
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (!addins::loads_at_startup(addins_[i].registration.load_behavior)) continue;
    if (SUCCEEDED(connect(i, ext_cm_Startup))) addins_[i].connected_at_startup = true;
  }
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (!addins_[i].connected_at_startup || !addins_[i].connected) continue;
    sx::com::ComPtr<IDTExtensibility2> object = addins_[i].object;
    Custom custom;
    (void)call_addin([&] { return object->OnStartupComplete(custom.get()); });
  }
}

HRESULT AddInHost::connect(std::size_t index, ext_ConnectMode mode) {
  const std::string progid = addins_.at(index).registration.progid;
  const std::u16string wide = sx::com::ansi_to_u16(progid);
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) return REGDB_E_CLASSNOTREG;
  sx::com::ComPtr<IDTExtensibility2> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IDTExtensibility2::kIid,
                        object.PutVoid());
  if (FAILED(hr)) return hr;
  if (!object) return E_NOINTERFACE;
  sx::com::ComPtr<COMAddInImpl> me = entry(index);
  Custom custom;
  hr = call_addin([&] {
    return object->OnConnection(static_cast<_Application*>(&app_), mode,
                                static_cast<COMAddIn*>(me.Get()), custom.get());
  });
  if (FAILED(hr)) return hr;  // the add-in is released: it stays disconnected
  AddIn& addin = addins_.at(index);
  addin.object = std::move(object);
  addin.connected = true;
  return S_OK;
}

void AddInHost::disconnect(std::size_t index, ext_DisconnectMode mode) {
  AddIn& addin = addins_.at(index);
  sx::com::ComPtr<IDTExtensibility2> object = std::move(addin.object);
  addin.connected = false;
  addin.exposed = nullptr;
  if (!object) return;
  Custom custom;
  (void)call_addin([&] { return object->OnDisconnection(mode, custom.get()); });
}

void AddInHost::tell_others(std::size_t changed) {
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (i == changed || !addins_[i].connected) continue;
    sx::com::ComPtr<IDTExtensibility2> object = addins_[i].object;
    Custom custom;
    (void)call_addin([&] { return object->OnAddInsUpdate(custom.get()); });
  }
}

HRESULT AddInHost::set_connected(std::size_t index, bool connect_it) {
  AddIn& addin = addins_.at(index);
  if (addin.connected == connect_it) return S_OK;
  const std::string progid = addin.registration.progid;
  if (connect_it) {
    if (const HRESULT hr = connect(index, ext_cm_AfterStartup); FAILED(hr)) return hr;
    // Loaded at every start from now on.
    (void)addins::set_load_behavior(progid, addins::kLoaded | addins::kLoadAtStartup);
  } else {
    disconnect(index, ext_dm_UserClosed);
    if (const auto now = addins::load_behavior(progid)) {
      (void)addins::set_load_behavior(progid, *now & ~addins::kLoaded);
    }
  }
  tell_others(index);
  return S_OK;
}

bool AddInHost::load_on_demand(const std::string& progid) {
  const auto index = find(progid);
  if (!index) return false;
  AddIn& addin = addins_.at(*index);
  if (addin.connected) return true;
  const auto behavior = addin.registration.load_behavior;
  if (!behavior || (*behavior & addins::kLoadOnDemand) == 0) return false;
  if (FAILED(connect(*index, ext_cm_AfterStartup))) return false;
  (void)addins::set_load_behavior(progid, *behavior | addins::kLoaded);
  tell_others(*index);
  return true;
}

void AddInHost::shut_down() {
  // By position: an add-in's call may add to the list (COMAddIns.Update).
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (!addins_[i].connected) continue;
    sx::com::ComPtr<IDTExtensibility2> object = addins_[i].object;
    Custom custom;
    (void)call_addin([&] { return object->OnBeginShutdown(custom.get()); });
  }
  for (std::size_t i = 0; i < addins_.size(); ++i) {
    if (addins_[i].connected) disconnect(i, ext_dm_HostShutdown);
  }
  for (std::size_t i = 0; i < addins_.size(); ++i) addins_[i].entry = nullptr;
}

}  // namespace sx::outlook
