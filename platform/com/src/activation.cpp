// Class lookup through HKEY_CLASSES_ROOT, object creation (in-process and local servers), class
// objects of running local servers, and unloading in-process servers that are no longer used.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <tuple>

#include "apartment_internal.h"
#include "com/bstr.h"
#include "com/marshal.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "sx/paths.h"
#include "win32/module.h"
#include "win32/registry.h"

namespace sx::com {
namespace {

using DllGetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

// The default value of HKCR\<path> as text; nothing when the key or a text value is absent.
std::optional<std::string> read_default_value(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::string> result;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size < 0x10000) {
    std::vector<BYTE> data(size + 1, 0);
    DWORD got = size;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, data.data(), &got) == ERROR_SUCCESS &&
        got <= size) {
      std::string text(reinterpret_cast<const char*>(data.data()), got);
      text.resize(std::strlen(text.c_str()));  // stop at the terminating NUL
      result = std::move(text);
    }
  }
  RegCloseKey(key);
  return result;
}

bool key_exists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::string class_key(REFCLSID clsid) { return "CLSID\\" + format_guid(clsid); }

// Loaded in-process servers by host path. A server stays loaded until CoFreeUnusedLibraries finds
// that its DllCanUnloadNow allows unloading it.
struct ModuleCache {
  std::mutex mutex;
  std::map<std::string, HMODULE> modules;
};
ModuleCache& module_cache() {
  static auto* cache = new ModuleCache();  // never destroyed: objects may be released during exit
  return *cache;
}

HRESULT inproc_class_object(std::string path, REFCLSID clsid, REFIID iid, void** object) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  // Keyed by the file on the host: the same Windows path on another machine root is another file.
  const std::string host_path = sx::paths::to_host(path).lexically_normal().string();
  ModuleCache& cache = module_cache();
  HMODULE module = nullptr;
  {
    std::lock_guard lock(cache.mutex);
    auto it = cache.modules.find(host_path);
    if (it != cache.modules.end()) module = it->second;
  }
  if (module == nullptr) {
    // Loaded without the lock: a server's start-up code may create objects itself. Two threads
    // loading at once get the same module; the cache keeps one reference.
    HMODULE loaded = LoadLibraryA(path.c_str());
    if (loaded == nullptr) return CO_E_DLLNOTFOUND;
    std::lock_guard lock(cache.mutex);
    auto [it, added] = cache.modules.emplace(host_path, loaded);
    if (!added) FreeLibrary(loaded);
    module = it->second;
  }
  // Through void*: GetProcAddress's generic function type says nothing of the real one.
  auto get_class_object = reinterpret_cast<DllGetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (get_class_object == nullptr) return CO_E_ERRORINDLL;
  return get_class_object(clsid, iid, object);
}

// Local server classes: how to start each, and the class objects running servers registered.
struct LocalServer {
  std::mutex start_mutex;  // held while the server starts, so it starts once
  LocalServerStarter starter;
};
struct RunningClass {
  CLSID clsid = GUID_NULL;
  ComPtr<IUnknown> factory;
  std::shared_ptr<detail::Apartment> home;  // null for a free-threaded factory
};
struct LocalServers {
  std::mutex mutex;
  std::map<CLSID, std::shared_ptr<LocalServer>, GuidLess> servers;
  std::map<DWORD, RunningClass> running;  // by cookie
  std::set<CLSID, GuidLess> for_machine;  // served by this process for the machine
  DWORD next_cookie = 1;
};
LocalServers& local_servers() {
  static auto* servers = new LocalServers();  // never destroyed, like the module cache
  return *servers;
}

// Cookie and home of the running class object of `clsid`; cookie 0 when none runs.
std::pair<DWORD, std::shared_ptr<detail::Apartment>> running_class(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  for (auto& [cookie, entry] : all.running) {
    if (entry.clsid == clsid) return {cookie, entry.home};
  }
  return {0, nullptr};
}

// Whether this process serves `clsid` through a stand-in of its own (register_local_server): such
// a server stays this process's, as if each process had its own; only a process that registers a
// class without a stand-in of it serves the machine.
bool serves_for_machine(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  return all.for_machine.count(clsid) != 0;
}

bool has_stand_in(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  return all.servers.count(clsid) != 0 && all.for_machine.count(clsid) == 0;
}

DWORD add_running_class(REFCLSID clsid, IUnknown* factory) {
  RunningClass entry;
  entry.clsid = clsid;
  entry.factory = factory;
  ComPtr<IUnknown> agile;
  if (FAILED(factory->QueryInterface(IID_IAgileObject, agile.PutVoid()))) {
    entry.home = detail::current_apartment_state();
    // Creations from other apartments are calls into it: its message loop must wake for them.
    if (entry.home) detail::ensure_window(*entry.home);
  }
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  const DWORD cookie = all.next_cookie++;
  all.running.emplace(cookie, std::move(entry));
  return cookie;
}

// The class object of a local server class as the calling apartment may use it, starting the
// server first when none runs. A server that ends while it is asked is started again.
HRESULT local_class_object(REFCLSID clsid, REFIID iid, void** object, bool* of_machine) {
  // A server another process of the machine runs comes first.
  *of_machine = true;
  if (HRESULT found = E_UNEXPECTED; detail::machine_class_object(clsid, iid, object, &found)) {
    return found;
  }
  // Started as a program of its own, it registers for the machine like any server. A process that
  // serves the class itself, or is its program, starts nothing.
  if (running_class(clsid).first == 0 && !serves_for_machine(clsid)) {
    const HRESULT started = detail::start_machine_server(clsid);
    if (FAILED(started)) return started;
    if (started == S_OK) {
      HRESULT found = E_UNEXPECTED;
      if (detail::machine_class_object(clsid, iid, object, &found)) return found;
      return CO_E_SERVER_EXEC_FAILURE;  // it ended as soon as it had registered
    }
  }
  *of_machine = false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::shared_ptr<LocalServer> server;
    {
      LocalServers& all = local_servers();
      std::lock_guard lock(all.mutex);
      auto it = all.servers.find(clsid);
      if (it == all.servers.end()) return CO_E_SERVER_EXEC_FAILURE;
      server = it->second;
    }
    auto [cookie, home] = running_class(clsid);
    if (cookie == 0) {
      std::lock_guard lock(server->start_mutex);
      std::tie(cookie, home) = running_class(clsid);
      if (cookie == 0) {
        if (!server->starter) return CO_E_SERVER_EXEC_FAILURE;
        ComPtr<IClassFactory> started;
        const HRESULT hr = server->starter(started.ReleaseAndGetAddressOf());
        if (FAILED(hr)) return hr;
        if (started) add_running_class(clsid, started.Get());
        std::tie(cookie, home) = running_class(clsid);
        if (cookie == 0) return CO_E_SERVER_EXEC_FAILURE;
      }
    }
    // Packed in the factory's own apartment, unpacked here.
    MarshaledInterface packed;
    HRESULT result = RPC_E_DISCONNECTED;
    const DWORD wanted = cookie;
    auto pack = [&] {
      LocalServers& all = local_servers();
      ComPtr<IUnknown> factory;
      {
        std::lock_guard lock(all.mutex);
        auto it = all.running.find(wanted);
        if (it != all.running.end()) factory = it->second.factory;
      }
      if (factory) result = marshal_interface(factory.Get(), iid, &packed);
    };
    if (home) {
      if (FAILED(detail::call_in(home, pack))) continue;  // its apartment ended: start again
    } else {
      pack();
    }
    if (result == RPC_E_DISCONNECTED) continue;  // revoked meanwhile
    if (FAILED(result)) return result;
    return unmarshal_interface(std::move(packed), iid, object);
  }
  return CO_E_SERVER_EXEC_FAILURE;
}

// `*of_machine` tells whether the outcome came from another process of the machine.
HRESULT class_object(REFCLSID clsid, DWORD clsctx, REFIID iid, void** object,
                     bool* of_machine = nullptr) {
  bool ignored = false;
  if (of_machine == nullptr) of_machine = &ignored;
  *of_machine = false;
  const std::string key = class_key(clsid);
  if ((clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) != 0) {
    if (auto path = read_default_value(key + "\\InprocServer32"); path && !path->empty()) {
      return inproc_class_object(*path, clsid, iid, object);
    }
  }
  if ((clsctx & CLSCTX_LOCAL_SERVER) != 0 && key_exists(key + "\\LocalServer32")) {
    return local_class_object(clsid, iid, object, of_machine);
  }
  return REGDB_E_CLASSNOTREG;
}

}  // namespace

void register_local_server(REFCLSID clsid, LocalServerStarter starter) {
  auto server = std::make_shared<LocalServer>();
  server->starter = std::move(starter);
  LocalServers& all = local_servers();
  std::shared_ptr<LocalServer> old;
  {
    std::lock_guard lock(all.mutex);
    old = std::exchange(all.servers[clsid], server);
  }
  // `old` is released here, outside the lock.
}

void register_local_server(REFCLSID clsid, IClassFactory* factory) {
  ComPtr<IClassFactory> held(factory);
  register_local_server(clsid, [held](IClassFactory** out) { return held.CopyTo(out); });
}

void serve_for_machine(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  all.for_machine.insert(clsid);
}

void stop_serving_for_machine(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::lock_guard lock(all.mutex);
  all.for_machine.erase(clsid);
}

bool served_on_machine(REFCLSID clsid) {
  const long pid = detail::registered_pid(clsid);
  return pid != 0 && pid != static_cast<long>(::getpid());
}

void unregister_local_server(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::shared_ptr<LocalServer> old;
  std::vector<RunningClass> stopped;
  {
    std::lock_guard lock(all.mutex);
    auto it = all.servers.find(clsid);
    if (it != all.servers.end()) {
      old = std::move(it->second);
      all.servers.erase(it);
    }
    for (auto r = all.running.begin(); r != all.running.end();) {
      if (r->second.clsid == clsid) {
        stopped.push_back(std::move(r->second));
        r = all.running.erase(r);
      } else {
        ++r;
      }
    }
  }
}

HRESULT register_server_module(const std::string& windows_path, bool unregister) {
  HMODULE module = LoadLibraryA(windows_path.c_str());
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  using EntryFn = HRESULT(STDAPICALLTYPE*)();
  const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  HRESULT hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  if (entry != nullptr) {
    try {
      hr = entry();
    } catch (...) {
      hr = E_UNEXPECTED;
    }
  }
  FreeLibrary(module);
  return hr;
}

}  // namespace sx::com

namespace {

// Copies `text` into memory from CoTaskMemAlloc.
HRESULT task_string(const std::u16string& text, LPOLESTR* out) {
  auto* memory = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (memory == nullptr) return E_OUTOFMEMORY;
  std::copy(text.begin(), text.end(), memory);
  memory[text.size()] = 0;
  *out = memory;
  return S_OK;
}

template <class F>
HRESULT guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

extern "C" {

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (progid == nullptr || clsid == nullptr) return E_INVALIDARG;
  return guarded([&]() -> HRESULT {
    *clsid = GUID_NULL;
    if (progid[0] == u'{') return CLSIDFromString(progid, clsid);
    const auto value =
        sx::com::read_default_value(sx::com::u16_to_ansi(std::u16string(progid)) + "\\CLSID");
    if (!value) return CO_E_CLASSSTRING;
    const auto parsed = sx::com::parse_guid(*value);
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
  });
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
  if (progid == nullptr) return E_INVALIDARG;
  *progid = nullptr;
  return guarded([&]() -> HRESULT {
    const auto value = sx::com::read_default_value(sx::com::class_key(clsid) + "\\ProgID");
    if (!value || value->empty()) return REGDB_E_CLASSNOTREG;
    return task_string(sx::com::ansi_to_u16(*value), progid);
  });
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = nullptr;
  return guarded([&] { return task_string(sx::com::format_guid_utf16(clsid), text); });
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, LPVOID, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (sx::com::current_apartment() == sx::com::ApartmentKind::kNone) return CO_E_NOTINITIALIZED;
  return guarded([&] { return sx::com::class_object(clsid, clsctx, iid, object); });
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsctx, REFIID iid,
                         LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (sx::com::current_apartment() == sx::com::ApartmentKind::kNone) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return guarded([&]() -> HRESULT {
    // A server of another process that is ending answers so until it has revoked its class
    // object; the creation then waits for it to go and reaches (or starts) the next one.
    const auto until = std::chrono::steady_clock::now() + sx::com::detail::kServerStartLimit;
    for (;;) {
      sx::com::ComPtr<IClassFactory> factory;
      bool of_machine = false;
      HRESULT hr = sx::com::class_object(clsid, clsctx, IID_IClassFactory, factory.PutVoid(),
                                         &of_machine);
      if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
      if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, iid, object);
        if (FAILED(hr)) *object = nullptr;
      }
      const bool ending = hr == RPC_E_DISCONNECTED || hr == CO_E_SERVER_STOPPING;
      if (!of_machine || !ending || std::chrono::steady_clock::now() >= until) return hr;
      factory = nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
}

HRESULT OleRun(LPUNKNOWN object) { return object == nullptr ? E_INVALIDARG : S_OK; }

HRESULT CoRegisterClassObject(REFCLSID clsid, LPUNKNOWN factory, DWORD, DWORD, LPDWORD cookie) {
  if (factory == nullptr || cookie == nullptr) return E_INVALIDARG;
  *cookie = 0;
  if (sx::com::current_apartment() == sx::com::ApartmentKind::kNone) return CO_E_NOTINITIALIZED;
  return guarded([&] {
    *cookie = sx::com::add_running_class(clsid, factory);
    if (!sx::com::has_stand_in(clsid)) {
      sx::com::detail::publish_class_object(clsid, *cookie, factory);
    }
    return S_OK;
  });
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  return guarded([&]() -> HRESULT {
    sx::com::LocalServers& all = sx::com::local_servers();
    sx::com::RunningClass stopped;
    {
      std::lock_guard lock(all.mutex);
      auto it = all.running.find(cookie);
      if (it == all.running.end()) return E_INVALIDARG;
      stopped = std::move(it->second);
      all.running.erase(it);
    }
    sx::com::detail::unpublish_class_object(cookie);
    return S_OK;  // the factory is released here, on the revoking thread
  });
}

void CoFreeUnusedLibraries() {
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  sx::com::ModuleCache& cache = sx::com::module_cache();
  std::map<std::string, HMODULE> candidates;
  {
    std::lock_guard lock(cache.mutex);
    candidates.swap(cache.modules);
  }
  for (auto& [path, module] : candidates) {
    auto can_unload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    HRESULT answer = S_FALSE;
    if (can_unload != nullptr) {
      try {
        answer = can_unload();
      } catch (...) {
        answer = S_FALSE;
      }
    }
    if (answer == S_OK) {
      FreeLibrary(module);  // its globals go now
      continue;
    }
    std::lock_guard lock(cache.mutex);
    auto [it, added] = cache.modules.emplace(path, module);
    if (!added) FreeLibrary(module);  // loaded again meanwhile: the cache keeps one reference
  }
}

LPVOID CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

}  // extern "C"
