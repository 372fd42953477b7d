// The Reg* functions: handle table, access checks and the calls into the store.
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "reg_store.h"
#include "reg_tree.h"
#include "win32/registry.h"

namespace sx::registry {
namespace {

constexpr std::uintptr_t kFirstRootHandle = 0x80000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;

// An open handle. `key` is the node found at `epoch`; when the store has loaded another tree since,
// the key is found again by `path` (or is gone: ERROR_KEY_DELETED).
struct OpenKey {
  RootId root;
  std::vector<std::string> path;  // folded names below the root
  std::shared_ptr<Key> key;
  std::uint64_t epoch;
  REGSAM access;
};

// Guarded by the store's mutex. Never destroyed, so a static destructor may still close a key.
std::unordered_map<std::uintptr_t, OpenKey>& g_handles =
    *new std::unordered_map<std::uintptr_t, OpenKey>;
std::uintptr_t g_next_handle = 0x100;
const std::vector<std::string> kNoPath;

// The key a handle names, valid while the store's mutex is held.
struct Target {
  RootId root;
  const std::vector<std::string>* path;
  Key* key;
};

REGSAM effective_access(REGSAM desired) {
  REGSAM access = desired & KEY_ALL_ACCESS;
  if (desired & (kMaximumAllowed | kGenericAll)) access |= KEY_ALL_ACCESS;
  if (desired & (kGenericRead | kGenericExecute)) access |= KEY_READ;
  if (desired & kGenericWrite) access |= KEY_WRITE;
  return access;
}

bool is_root_handle(HKEY key, RootId* root) {
  auto v = reinterpret_cast<std::uintptr_t>(key);
  if (v < kFirstRootHandle || v >= kFirstRootHandle + kRootCount) return false;
  *root = static_cast<RootId>(v - kFirstRootHandle);
  return true;
}

std::shared_ptr<Key> find_path(Tree& tree, RootId root, const std::vector<std::string>& path) {
  std::shared_ptr<Key> key = tree.roots[static_cast<int>(root)];
  for (const std::string& folded : path) {
    key = key->child(folded);
    if (!key) return nullptr;
  }
  return key;
}

// Finds the key behind `handle` in the store's current tree and checks that the handle has the
// rights in `needed`.
LONG resolve(Store& store, HKEY handle, REGSAM needed, Target* out) {
  RootId root;
  if (is_root_handle(handle, &root)) {
    *out = Target{root, &kNoPath, store.tree().roots[static_cast<int>(root)].get()};
    return ERROR_SUCCESS;
  }
  auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
  OpenKey& open = it->second;
  if ((needed & ~open.access) != 0) return ERROR_ACCESS_DENIED;
  if (open.key && !open.key->deleted() && open.epoch != store.epoch()) {
    open.key = find_path(store.tree(), open.root, open.path);
    open.epoch = store.epoch();
  }
  if (!open.key || open.key->deleted()) return ERROR_KEY_DELETED;
  *out = Target{open.root, &open.path, open.key.get()};
  return ERROR_SUCCESS;
}

// Checks a handle before a change takes the file lock, so that a junk, read-only or deleted handle
// fails with its own error rather than a file error.
LONG precheck(Store& store, HKEY handle, REGSAM needed) {
  store.refresh();
  Target target;
  return resolve(store, handle, needed, &target);
}

HKEY add_handle(Store& store, const Target& base, const std::vector<std::string_view>& parts,
                std::shared_ptr<Key> key, REGSAM access) {
  OpenKey open{base.root, *base.path, std::move(key), store.epoch(), effective_access(access)};
  for (std::string_view part : parts) open.path.push_back(fold(part));
  std::uintptr_t value = g_next_handle;
  g_next_handle += 4;
  if (g_next_handle >= kFirstRootHandle && g_next_handle < kFirstRootHandle + 0x100) {
    g_next_handle = kFirstRootHandle + 0x100;  // never hand out a root key's value
  }
  g_handles.emplace(value, std::move(open));
  return reinterpret_cast<HKEY>(value);
}

bool has_control_bytes(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return true;
  }
  return false;
}

// Splits a sub key path, with Windows's error for a malformed one.
LONG split(LPCSTR sub_key, std::vector<std::string_view>* parts) {
  if (!split_key_path(sub_key ? sub_key : "", parts)) return ERROR_BAD_PATHNAME;
  for (std::string_view part : *parts) {
    if (has_control_bytes(part)) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

std::shared_ptr<Key> find_below(Key* base, const std::vector<std::string_view>& parts) {
  std::shared_ptr<Key> key;
  for (std::string_view part : parts) {
    key = (key ? key.get() : base)->child(fold(part));
    if (!key) return nullptr;
  }
  return key;
}

// Runs a registry function body, turning any exception into an error code.
template <class Body>
LONG guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INVALID_FUNCTION;
  }
}

LONG open_key(HKEY key, LPCSTR sub_key, REGSAM desired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::string_view> parts;
  if (LONG rc = split(sub_key, &parts); rc != ERROR_SUCCESS) return rc;
  Store& store = Store::instance();
  std::lock_guard guard(store.mutex());
  store.refresh();
  Target base;
  if (LONG rc = resolve(store, key, 0, &base); rc != ERROR_SUCCESS) return rc;
  std::shared_ptr<Key> found;
  if (parts.empty()) {
    found = find_path(store.tree(), base.root, *base.path);
  } else {
    found = find_below(base.key, parts);
  }
  if (!found) return ERROR_FILE_NOT_FOUND;
  *result = add_handle(store, base, parts, std::move(found), desired);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace sx::registry

using namespace sx::registry;

extern "C" {

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD /*options*/, REGSAM desired, PHKEY result) {
  return guarded([&] { return open_key(key, sub_key, desired, result); });
}

LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
  return guarded([&]() -> LONG {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    if (sub_key == nullptr || *sub_key == '\0') {
      Store& store = Store::instance();
      std::lock_guard guard(store.mutex());
      store.refresh();
      Target target;
      if (LONG rc = resolve(store, key, 0, &target); rc != ERROR_SUCCESS) return rc;
      *result = key;
      return ERROR_SUCCESS;
    }
    return open_key(key, sub_key, kMaximumAllowed, result);
  });
}

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD /*reserved*/, LPSTR /*klass*/, DWORD options,
                     REGSAM desired, _SECURITY_ATTRIBUTES* /*security*/, PHKEY result,
                     LPDWORD disposition) {
  return guarded([&]() -> LONG {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
    std::vector<std::string_view> parts;
    if (LONG rc = split(sub_key, &parts); rc != ERROR_SUCCESS) return rc;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());

    // Opening an existing key takes no file lock and writes nothing.
    store.refresh();
    Target base;
    if (LONG rc = resolve(store, key, 0, &base); rc != ERROR_SUCCESS) return rc;
    std::shared_ptr<Key> found = parts.empty() ? find_path(store.tree(), base.root, *base.path)
                                               : find_below(base.key, parts);
    bool created = false;
    if (!found) {
      LONG rc = store.modify([&](Tree&) -> long {
        if (LONG rc = resolve(store, key, 0, &base); rc != ERROR_SUCCESS) return rc;
        found = find_below(base.key, parts);
        if (found) return kUnchanged;  // another process made it meanwhile
        if (LONG rc = resolve(store, key, KEY_CREATE_SUB_KEY, &base); rc != ERROR_SUCCESS)
          return rc;
        if (base.path->size() + parts.size() > kMaxKeyDepth) return ERROR_BAD_PATHNAME;
        Key* parent = base.key;
        for (std::string_view part : parts) {
          found = parent->get_or_add_child(part, &created);
          parent = found.get();
        }
        return ERROR_SUCCESS;
      });
      if (rc != ERROR_SUCCESS) return rc;
    }
    *result = add_handle(store, base, parts, std::move(found), desired);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
  return RegCreateKeyExA(key, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, kMaximumAllowed,
                         nullptr, result, nullptr);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  return guarded([&]() -> LONG {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    store.refresh();
    Target target;
    if (LONG rc = resolve(store, key, KEY_QUERY_VALUE, &target); rc != ERROR_SUCCESS) return rc;
    const Value* value = target.key->value(fold(name ? name : ""));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    auto needed = static_cast<DWORD>(value->data.size());
    if (data != nullptr) {
      if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      std::memcpy(data, value->data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
  return guarded([&]() -> LONG {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    std::string_view value_name = name ? name : "";
    if (value_name.size() > kMaxValueNameLength || has_control_bytes(value_name)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (size > kMaxValueDataSize) return ERROR_INVALID_PARAMETER;
    std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && (bytes.empty() || bytes.back() != '\0')) {
      bytes.push_back('\0');
    }
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    if (LONG rc = precheck(store, key, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
    return store.modify([&](Tree&) -> long {
      Target target;
      if (LONG rc = resolve(store, key, KEY_SET_VALUE, &target); rc != ERROR_SUCCESS) return rc;
      const Value* old = target.key->value(fold(value_name));
      if (old && old->type == type && old->data == bytes) return kUnchanged;
      target.key->set_value(value_name, type, std::move(bytes));
      return ERROR_SUCCESS;
    });
  });
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  return guarded([&]() -> LONG {
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    if (LONG rc = precheck(store, key, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
    return store.modify([&](Tree&) -> long {
      Target target;
      if (LONG rc = resolve(store, key, KEY_SET_VALUE, &target); rc != ERROR_SUCCESS) return rc;
      return target.key->remove_value(fold(name ? name : "")) ? ERROR_SUCCESS
                                                              : ERROR_FILE_NOT_FOUND;
    });
  });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
  return guarded([&]() -> LONG {
    if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
    std::vector<std::string_view> parts;
    if (LONG rc = split(sub_key, &parts); rc != ERROR_SUCCESS) return rc;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    if (LONG rc = precheck(store, key, 0); rc != ERROR_SUCCESS) return rc;
    return store.modify([&](Tree& tree) -> long {
      Target base;
      if (LONG rc = resolve(store, key, 0, &base); rc != ERROR_SUCCESS) return rc;
      std::shared_ptr<Key> parent;
      std::string folded;
      if (parts.empty()) {  // the handle's own key
        if (base.path->empty()) return ERROR_ACCESS_DENIED;
        std::vector<std::string> parent_path(base.path->begin(), base.path->end() - 1);
        parent = find_path(tree, base.root, parent_path);
        folded = base.path->back();
      } else {
        std::vector<std::string_view> parent_parts(parts.begin(), parts.end() - 1);
        parent = parent_parts.empty() ? find_path(tree, base.root, *base.path)
                                      : find_below(base.key, parent_parts);
        folded = fold(parts.back());
      }
      std::shared_ptr<Key> victim = parent ? parent->child(folded) : nullptr;
      if (!victim) return ERROR_FILE_NOT_FOUND;
      if (!victim->children().empty()) return ERROR_ACCESS_DENIED;  // as on NT: no tree delete
      parent->remove_child(folded);
      victim->mark_deleted();
      return ERROR_SUCCESS;
    });
  });
}

LONG RegDeleteTreeA(HKEY key, LPCSTR sub_key) {
  return guarded([&]() -> LONG {
    std::vector<std::string_view> parts;
    if (LONG rc = split(sub_key, &parts); rc != ERROR_SUCCESS) return rc;
    const REGSAM needed = parts.empty() ? KEY_SET_VALUE : 0;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    if (LONG rc = precheck(store, key, needed); rc != ERROR_SUCCESS) return rc;
    return store.modify([&](Tree&) -> long {
      Target base;
      if (LONG rc = resolve(store, key, needed, &base); rc != ERROR_SUCCESS) return rc;
      if (parts.empty()) {  // the key stays, empty
        for (const auto& child : base.key->take_children()) child->mark_tree_deleted();
        base.key->clear_values();
        return ERROR_SUCCESS;
      }
      std::vector<std::string_view> parent_parts(parts.begin(), parts.end() - 1);
      std::shared_ptr<Key> parent =
          parent_parts.empty() ? nullptr : find_below(base.key, parent_parts);
      Key* holder = parent_parts.empty() ? base.key : parent.get();
      std::shared_ptr<Key> victim =
          holder != nullptr ? holder->remove_child(fold(parts.back())) : nullptr;
      if (!victim) return ERROR_FILE_NOT_FOUND;
      victim->mark_tree_deleted();
      return ERROR_SUCCESS;
    });
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD /*reserved*/,
                   LPSTR klass, LPDWORD klass_size, LPFILETIME last_write) {
  return guarded([&]() -> LONG {
    if (name == nullptr || name_size == nullptr) return ERROR_INVALID_PARAMETER;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    store.refresh();
    Target target;
    if (LONG rc = resolve(store, key, KEY_ENUMERATE_SUB_KEYS, &target); rc != ERROR_SUCCESS) {
      return rc;
    }
    const auto& children = target.key->children();
    if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& child = children[index]->name();
    if (*name_size <= child.size()) return ERROR_MORE_DATA;
    std::memcpy(name, child.c_str(), child.size() + 1);
    *name_size = static_cast<DWORD>(child.size());
    if (klass && klass_size && *klass_size > 0) klass[0] = '\0';
    if (klass_size) *klass_size = 0;
    if (last_write) *last_write = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD /*reserved*/,
                   LPDWORD type, LPBYTE data, LPDWORD data_size) {
  return guarded([&]() -> LONG {
    if (name == nullptr || name_size == nullptr) return ERROR_INVALID_PARAMETER;
    if (data != nullptr && data_size == nullptr) return ERROR_INVALID_PARAMETER;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    store.refresh();
    Target target;
    if (LONG rc = resolve(store, key, KEY_QUERY_VALUE, &target); rc != ERROR_SUCCESS) return rc;
    const auto& values = target.key->values();
    if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = values[index];
    auto needed = static_cast<DWORD>(value.data.size());
    if (type) *type = value.type;
    if (*name_size <= value.name.size() || (data != nullptr && *data_size < needed)) {
      if (data_size) *data_size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, value.name.c_str(), value.name.size() + 1);
    *name_size = static_cast<DWORD>(value.name.size());
    if (data) std::memcpy(data, value.data.data(), needed);
    if (data_size) *data_size = needed;
    return ERROR_SUCCESS;
  });
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR klass, LPDWORD klass_size, LPDWORD /*reserved*/,
                      LPDWORD sub_keys, LPDWORD max_sub_key_len, LPDWORD max_class_len,
                      LPDWORD values, LPDWORD max_value_name_len, LPDWORD max_value_len,
                      LPDWORD security_descriptor_size, LPFILETIME last_write) {
  return guarded([&]() -> LONG {
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    store.refresh();
    Target target;
    if (LONG rc = resolve(store, key, KEY_QUERY_VALUE, &target); rc != ERROR_SUCCESS) return rc;
    std::size_t longest_key = 0, longest_name = 0, longest_data = 0;
    for (const auto& child : target.key->children())
      longest_key = std::max(longest_key, child->name().size());
    for (const Value& v : target.key->values()) {
      longest_name = std::max(longest_name, v.name.size());
      longest_data = std::max(longest_data, v.data.size());
    }
    if (klass && klass_size && *klass_size > 0) klass[0] = '\0';
    if (klass_size) *klass_size = 0;
    if (sub_keys) *sub_keys = static_cast<DWORD>(target.key->children().size());
    if (max_sub_key_len) *max_sub_key_len = static_cast<DWORD>(longest_key);
    if (max_class_len) *max_class_len = 0;
    if (values) *values = static_cast<DWORD>(target.key->values().size());
    if (max_value_name_len) *max_value_name_len = static_cast<DWORD>(longest_name);
    if (max_value_len) *max_value_len = static_cast<DWORD>(longest_data);
    if (security_descriptor_size) *security_descriptor_size = 0;
    if (last_write) *last_write = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, PLONG size) {
  return guarded([&]() -> LONG {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY target = key;
    if (sub_key != nullptr && *sub_key != '\0') {
      if (LONG rc = RegOpenKeyExA(key, sub_key, 0, KEY_QUERY_VALUE, &target); rc != ERROR_SUCCESS) {
        return rc;
      }
    }
    DWORD bytes = size ? static_cast<DWORD>(*size < 0 ? 0 : *size) : 0;
    LONG rc = RegQueryValueExA(target, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                               size ? &bytes : nullptr);
    if (rc == ERROR_FILE_NOT_FOUND) {  // no default value: it reads as an empty text
      rc = ERROR_SUCCESS;
      if (data != nullptr && bytes < 1) rc = ERROR_MORE_DATA;
      if (data != nullptr && bytes >= 1) data[0] = '\0';
      bytes = 1;
    }
    if (size) *size = static_cast<LONG>(bytes);
    if (target != key) RegCloseKey(target);
    return rc;
  });
}

LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD /*size*/) {
  return guarded([&]() -> LONG {
    if (type != REG_SZ || data == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY target = key;
    if (sub_key != nullptr && *sub_key != '\0') {
      LONG rc = RegCreateKeyExA(key, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                nullptr, &target, nullptr);
      if (rc != ERROR_SUCCESS) return rc;
    }
    LONG rc = RegSetValueExA(target, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             static_cast<DWORD>(std::strlen(data) + 1));
    if (target != key) RegCloseKey(target);
    return rc;
  });
}

LONG RegCloseKey(HKEY key) {
  return guarded([&]() -> LONG {
    RootId root;
    if (is_root_handle(key, &root)) return ERROR_SUCCESS;
    Store& store = Store::instance();
    std::lock_guard guard(store.mutex());
    return g_handles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
  });
}

}  // extern "C"
