// Internal: resources of one type per module, found by (module, id) or (module, name). String
// names compare ignoring case, as Windows finds them.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "sx/ascii.h"
#include "sx/resources.h"
#include "sx/window.h"
#include "win32/winuser.h"

namespace sx::window::detail {

template <class T>
class ResourceTable {
 public:
  // Adds or replaces the resource `id` (when `name` is empty) or `name` of `module`.
  void add(HINSTANCE module, int id, const std::string& name, T value) {
    std::lock_guard lock(mutex_);
    entries_[Key{module, name.empty() ? id : 0, folded(name)}] = std::move(value);
  }

  // `name` is MAKEINTRESOURCEA(id) or a string; nothing for a null name or a miss.
  std::optional<T> find(HINSTANCE module, LPCSTR name) const {
    if (name == nullptr) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key_for(module, name));
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }

  void remove_module(HINSTANCE module) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      it = it->first.module == module ? entries_.erase(it) : std::next(it);
    }
  }

 private:
  struct Key {
    HINSTANCE module;
    int id;
    std::string name;
    bool operator<(const Key& o) const {
      if (module != o.module) return module < o.module;
      if (id != o.id) return id < o.id;
      return name < o.name;
    }
  };

  static std::string folded(std::string text) {
    for (char& c : text) c = sx::ascii::to_lower(c);
    return text;
  }

  static Key key_for(HINSTANCE module, LPCSTR name) {
    if (IS_INTRESOURCE(name)) {
      return {module, static_cast<int>(reinterpret_cast<std::uintptr_t>(name)), {}};
    }
    return {module, 0, folded(name)};
  }

  mutable std::mutex mutex_;
  std::map<Key, T> entries_;
};

// The process's tables (resources.cpp).
ResourceTable<DialogTemplate>& dialog_templates();
ResourceTable<std::string>& string_resources();
ResourceTable<MenuTemplate>& menu_templates();
ResourceTable<BitmapResource>& bitmap_resources();
ResourceTable<IconResource>& icon_resources();

}  // namespace sx::window::detail
