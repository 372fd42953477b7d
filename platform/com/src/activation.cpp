// Class lookup through HKEY_CLASSES_ROOT and object creation (in-process and local servers).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/bstr.h"
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

// Loaded in-process servers by host path. They stay loaded for the life of the process, so
// objects they made never outlive their code.
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
    // loading at once get the same module; the cache keeps one of its references.
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    std::lock_guard lock(cache.mutex);
    cache.modules.emplace(host_path, module);
  }
  // Through void*: GetProcAddress's generic function type says nothing of the real one.
  auto get_class_object = reinterpret_cast<DllGetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  if (get_class_object == nullptr) return CO_E_ERRORINDLL;
  return get_class_object(clsid, iid, object);
}

// Local server classes served inside this process.
struct LocalServer {
  std::mutex start_mutex;  // held while the server starts, so it starts once
  LocalServerStarter starter;
  ComPtr<IClassFactory> factory;
};
struct LocalServers {
  std::mutex mutex;
  std::map<CLSID, std::shared_ptr<LocalServer>, GuidLess> servers;
};
LocalServers& local_servers() {
  static auto* servers = new LocalServers();  // never destroyed, like the module cache
  return *servers;
}

HRESULT local_class_object(REFCLSID clsid, REFIID iid, void** object) {
  std::shared_ptr<LocalServer> server;
  {
    LocalServers& all = local_servers();
    std::lock_guard lock(all.mutex);
    auto it = all.servers.find(clsid);
    if (it == all.servers.end()) return CO_E_SERVER_EXEC_FAILURE;
    server = it->second;
  }
  ComPtr<IClassFactory> factory;
  {
    std::lock_guard lock(server->start_mutex);
    if (!server->factory) {
      if (!server->starter) return CO_E_SERVER_EXEC_FAILURE;
      const HRESULT hr = server->starter(server->factory.ReleaseAndGetAddressOf());
      if (FAILED(hr)) {
        server->factory = nullptr;
        return hr;
      }
      if (!server->factory) return CO_E_SERVER_EXEC_FAILURE;
    }
    factory = server->factory;
  }
  return factory->QueryInterface(iid, object);
}

HRESULT class_object(REFCLSID clsid, DWORD clsctx, REFIID iid, void** object) {
  const std::string key = class_key(clsid);
  if ((clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) != 0) {
    if (auto path = read_default_value(key + "\\InprocServer32"); path && !path->empty()) {
      return inproc_class_object(*path, clsid, iid, object);
    }
  }
  if ((clsctx & CLSCTX_LOCAL_SERVER) != 0 && key_exists(key + "\\LocalServer32")) {
    return local_class_object(clsid, iid, object);
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
  // `old` (and its factory) is released here, outside the lock.
}

void register_local_server(REFCLSID clsid, IClassFactory* factory) {
  ComPtr<IClassFactory> held(factory);
  register_local_server(clsid, [held](IClassFactory** out) { return held.CopyTo(out); });
}

void unregister_local_server(REFCLSID clsid) {
  LocalServers& all = local_servers();
  std::shared_ptr<LocalServer> old;
  {
    std::lock_guard lock(all.mutex);
    auto it = all.servers.find(clsid);
    if (it == all.servers.end()) return;
    old = std::move(it->second);
    all.servers.erase(it);
  }
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
    sx::com::ComPtr<IClassFactory> factory;
    const HRESULT hr = sx::com::class_object(clsid, clsctx, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    const HRESULT created = factory->CreateInstance(nullptr, iid, object);
    if (FAILED(created)) *object = nullptr;
    return created;
  });
}

HRESULT OleRun(LPUNKNOWN object) { return object == nullptr ? E_INVALIDARG : S_OK; }

LPVOID CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

}  // extern "C"
