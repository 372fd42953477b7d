// Menus: menu bars from menu resources, popups, the window menu, and the menu functions.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "boundary.h"
#include "core.h"
#include "resource_table.h"

namespace sx::window::detail {
namespace {

struct MenuItem {
  UINT flags = MF_STRING;  // MF_SEPARATOR, MF_POPUP, MF_GRAYED, MF_DISABLED, MF_CHECKED
  UINT id = 0;
  std::string text;
  HMENU submenu = nullptr;
};

struct Menu {
  std::vector<MenuItem> items;
};

// Menus have their own lock; no window function is called while it is held.
struct Menus {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, Menu> menus;
  std::uintptr_t next = 0x200000;
};

Menus& menus() {
  static auto* m = new Menus();
  return *m;
}

std::uintptr_t key(HMENU menu) { return reinterpret_cast<std::uintptr_t>(menu); }

Menu* find_locked(HMENU menu) {
  auto& all = menus().menus;
  auto it = all.find(key(menu));
  return it == all.end() ? nullptr : &it->second;
}

HMENU create_locked() {
  Menus& m = menus();
  const std::uintptr_t value = m.next;
  m.next += 4;
  m.menus.emplace(value, Menu{});
  return reinterpret_cast<HMENU>(value);
}

void destroy_locked(HMENU menu) {
  Menu* found = find_locked(menu);
  if (found == nullptr) return;
  std::vector<HMENU> submenus;
  for (const MenuItem& item : found->items) {
    if (item.submenu != nullptr) submenus.push_back(item.submenu);
  }
  menus().menus.erase(key(menu));
  for (HMENU sub : submenus) destroy_locked(sub);
}

HMENU build_locked(const std::vector<MenuItemTemplate>& items) {
  HMENU menu = create_locked();
  std::vector<MenuItem> built;
  for (const MenuItemTemplate& t : items) {
    MenuItem item;
    item.text = t.text;
    item.id = static_cast<UINT>(t.id);
    item.flags = t.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR);
    if (!t.items.empty() || (t.flags & MF_POPUP)) {
      item.flags |= MF_POPUP;
      item.submenu = build_locked(t.items);
      item.id = 0;
    }
    built.push_back(std::move(item));
  }
  find_locked(menu)->items = std::move(built);
  return menu;
}

// The item `item` of `menu`: by position, or by command id searched depth first through submenus.
MenuItem* item_locked(HMENU menu, UINT item, UINT flags) {
  Menu* m = find_locked(menu);
  if (m == nullptr) return nullptr;
  if (flags & MF_BYPOSITION) return item < m->items.size() ? &m->items[item] : nullptr;
  for (MenuItem& i : m->items) {
    if (i.submenu != nullptr) {
      if (MenuItem* found = item_locked(i.submenu, item, flags)) return found;
    } else if (!(i.flags & MF_SEPARATOR) && i.id == item) {
      return &i;
    }
  }
  return nullptr;
}

// Removes `item` from the menu that holds it; the removed item, or nothing.
std::optional<MenuItem> take_item_locked(HMENU menu, UINT item, UINT flags) {
  Menu* m = find_locked(menu);
  if (m == nullptr) return std::nullopt;
  for (std::size_t i = 0; i < m->items.size(); ++i) {
    MenuItem& candidate = m->items[i];
    const bool hit = (flags & MF_BYPOSITION)
                         ? i == item
                         : !(candidate.flags & (MF_SEPARATOR | MF_POPUP)) && candidate.id == item;
    if (hit) {
      MenuItem taken = std::move(candidate);
      m->items.erase(m->items.begin() + static_cast<std::ptrdiff_t>(i));
      return taken;
    }
    if (!(flags & MF_BYPOSITION) && candidate.submenu != nullptr) {
      if (auto taken = take_item_locked(candidate.submenu, item, flags)) return taken;
    }
  }
  return std::nullopt;
}

// The window menu Windows gives a window of this style.
HMENU standard_system_menu_locked(DWORD style, bool dialog) {
  HMENU menu = create_locked();
  auto& items = find_locked(menu)->items;
  auto add = [&](UINT id, const char* text, UINT flags = MF_STRING) {
    items.push_back({flags, id, text, nullptr});
  };
  if (!dialog) add(SC_RESTORE, "&Restore", MF_GRAYED);
  add(SC_MOVE, "&Move");
  if (style & 0x00040000L) add(SC_SIZE, "&Size");  // WS_THICKFRAME
  if (!dialog) {
    add(SC_MINIMIZE, "Mi&nimize");
    add(SC_MAXIMIZE, "Ma&ximize");
  }
  items.push_back({MF_SEPARATOR, 0, {}, nullptr});
  add(SC_CLOSE, "&Close\tAlt+F4");
  return menu;
}

std::string without_mnemonic(const std::string& text) {
  std::string r;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\t') break;  // the accelerator's description
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    r += text[i];
  }
  return r;
}

void describe_locked(HMENU menu, const std::string& title, const std::string& prefix,
                     std::vector<UINT>* ids, std::vector<std::string>* lines) {
  const Menu* m = find_locked(menu);
  if (m == nullptr) return;
  std::string line = title.empty() ? std::string() : without_mnemonic(title) + ":";
  std::vector<std::pair<HMENU, std::string>> popups;
  for (const MenuItem& item : m->items) {
    if (item.flags & MF_SEPARATOR) continue;
    if (item.submenu != nullptr) {
      popups.emplace_back(item.submenu, item.text);
      continue;
    }
    ids->push_back(item.id);
    const bool disabled = (item.flags & (MF_GRAYED | MF_DISABLED)) != 0;
    line += (line.empty() || line.back() == ':' ? " " : " | ") +
            (disabled ? "(" + prefix + std::to_string(ids->size()) + ")"
                      : prefix + std::to_string(ids->size())) +
            " " + without_mnemonic(item.text) + ((item.flags & MF_CHECKED) ? " [x]" : "");
  }
  if (line.find(prefix) != std::string::npos) lines->push_back(line);
  for (const auto& [sub, text] : popups) describe_locked(sub, text, prefix, ids, lines);
}

}  // namespace

bool menu_command_enabled(HMENU menu, UINT id) {
  std::lock_guard lock(menus().mutex);
  const MenuItem* item = item_locked(menu, id, MF_BYCOMMAND);
  return item != nullptr && !(item->flags & (MF_GRAYED | MF_DISABLED));
}

HMENU system_menu_for(HWND hwnd) {
  DWORD style = 0;
  bool dialog = false;
  HMENU own = nullptr;
  {
    Guard guard = sx::kernel::lock();
    auto w = find_locked(hwnd);
    if (!w || w->child) return nullptr;
    own = w->system_menu;
    style = w->style;
    dialog = w->kind == WindowKind::kDialog;
  }
  if (own != nullptr) return own;
  // The standard menu, made for the question and kept for the next one of the same style.
  static std::mutex cache_mutex;
  static auto* cache = new std::unordered_map<std::uint64_t, HMENU>();
  std::lock_guard cache_lock(cache_mutex);
  const std::uint64_t k = (std::uint64_t{style} << 1) | (dialog ? 1 : 0);
  auto it = cache->find(k);
  if (it != cache->end()) return it->second;
  std::lock_guard lock(menus().mutex);
  HMENU made = standard_system_menu_locked(style, dialog);
  cache->emplace(k, made);
  return made;
}

void destroy_window_menus(HMENU menu_bar, HMENU system_menu) {
  std::lock_guard lock(menus().mutex);
  if (menu_bar != nullptr) destroy_locked(menu_bar);
  if (system_menu != nullptr) destroy_locked(system_menu);
}

std::vector<std::string> describe_menu(HMENU menu, const std::string& key_prefix,
                                       std::vector<UINT>* ids) {
  std::vector<std::string> lines;
  std::lock_guard lock(menus().mutex);
  describe_locked(menu, {}, key_prefix, ids, &lines);
  return lines;
}

}  // namespace sx::window::detail

using namespace sx::window::detail;

namespace {

template <class R, class F>
R with_menus(const char* function, R failure, F&& body) {
  return guarded<R>(function, failure, [&]() -> R {
    std::lock_guard lock(menus().mutex);
    return body();
  });
}

}  // namespace

extern "C" {

HMENU LoadMenuA(HINSTANCE hInstance, LPCSTR name) {
  return guarded<HMENU>("LoadMenuA", nullptr, [&]() -> HMENU {
    auto menu = menu_templates().find(hInstance, name);
    if (!menu) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    std::lock_guard lock(menus().mutex);
    return build_locked(menu->items);
  });
}

HMENU CreateMenu() {
  return with_menus<HMENU>("CreateMenu", nullptr, [] { return create_locked(); });
}

HMENU CreatePopupMenu() { return CreateMenu(); }

BOOL DestroyMenu(HMENU menu) {
  return with_menus<BOOL>("DestroyMenu", FALSE, [&]() -> BOOL {
    if (find_locked(menu) == nullptr) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    destroy_locked(menu);
    return TRUE;
  });
}

BOOL IsMenu(HMENU menu) {
  return with_menus<BOOL>("IsMenu", FALSE,
                          [&]() -> BOOL { return find_locked(menu) != nullptr ? TRUE : FALSE; });
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
  return with_menus<BOOL>("AppendMenuA", FALSE, [&]() -> BOOL {
    Menu* m = find_locked(menu);
    if (m == nullptr ||
        ((flags & MF_POPUP) && find_locked(reinterpret_cast<HMENU>(id)) == nullptr)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    MenuItem item;
    item.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
    if (flags & MF_POPUP) {
      item.submenu = reinterpret_cast<HMENU>(id);
    } else if (!(flags & MF_SEPARATOR)) {
      item.id = static_cast<UINT>(id);
    }
    if (!(flags & MF_SEPARATOR) && text != nullptr) item.text = text;
    m->items.push_back(std::move(item));
    return TRUE;
  });
}

BOOL DeleteMenu(HMENU menu, UINT item, UINT flags) {
  return with_menus<BOOL>("DeleteMenu", FALSE, [&]() -> BOOL {
    auto taken = take_item_locked(menu, item, flags);
    if (!taken) {
      SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
      return FALSE;
    }
    if (taken->submenu != nullptr) destroy_locked(taken->submenu);
    return TRUE;
  });
}

int GetMenuItemCount(HMENU menu) {
  return with_menus<int>("GetMenuItemCount", -1, [&]() -> int {
    const Menu* m = find_locked(menu);
    if (m == nullptr) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return -1;
    }
    return static_cast<int>(m->items.size());
  });
}

UINT GetMenuItemID(HMENU menu, int position) {
  return with_menus<UINT>("GetMenuItemID", 0xFFFFFFFFu, [&]() -> UINT {
    const MenuItem* item =
        position < 0 ? nullptr : item_locked(menu, static_cast<UINT>(position), MF_BYPOSITION);
    if (item == nullptr || item->submenu != nullptr) return 0xFFFFFFFFu;
    return item->id;
  });
}

HMENU GetSubMenu(HMENU menu, int position) {
  return with_menus<HMENU>("GetSubMenu", nullptr, [&]() -> HMENU {
    const MenuItem* item =
        position < 0 ? nullptr : item_locked(menu, static_cast<UINT>(position), MF_BYPOSITION);
    return item != nullptr ? item->submenu : nullptr;
  });
}

int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int max_count, UINT flags) {
  return with_menus<int>("GetMenuStringA", 0, [&]() -> int {
    const MenuItem* found = item_locked(menu, item, flags);
    if (found == nullptr) {
      if (buffer != nullptr && max_count > 0) buffer[0] = '\0';
      return 0;
    }
    if (buffer == nullptr || max_count <= 0) return static_cast<int>(found->text.size());
    return copy_text(found->text, buffer, static_cast<std::size_t>(max_count));
  });
}

UINT EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  return with_menus<UINT>("EnableMenuItem", 0xFFFFFFFFu, [&]() -> UINT {
    MenuItem* found = item_locked(menu, item, flags);
    if (found == nullptr) return 0xFFFFFFFFu;
    const UINT previous = found->flags & (MF_GRAYED | MF_DISABLED);
    found->flags =
        (found->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    return previous;
  });
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  return with_menus<DWORD>("CheckMenuItem", 0xFFFFFFFFu, [&]() -> DWORD {
    MenuItem* found = item_locked(menu, item, flags);
    if (found == nullptr) return 0xFFFFFFFFu;
    const DWORD previous = found->flags & MF_CHECKED;
    found->flags = (found->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    return previous;
  });
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  return with_menus<UINT>("GetMenuState", 0xFFFFFFFFu, [&]() -> UINT {
    const MenuItem* found = item_locked(menu, item, flags);
    return found != nullptr ? found->flags : 0xFFFFFFFFu;
  });
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
  return guarded<BOOL>("SetMenu", FALSE, [&]() -> BOOL {
    if (menu != nullptr && !IsMenu(menu)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    Guard guard = sx::kernel::lock();
    auto w = find_locked(hwnd);
    if (!w || w->child) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    w->menu = menu;
    invalidate_tree_locked(*w);  // the client area changed size
    return TRUE;
  });
}

HMENU GetMenu(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  return w && !w->child ? w->menu : nullptr;
}

BOOL DrawMenuBar(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) return FALSE;
  w->dirty = true;
  return TRUE;
}

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
  return guarded<HMENU>("GetSystemMenu", nullptr, [&]() -> HMENU {
    HMENU own = nullptr;
    DWORD style = 0;
    bool dialog = false;
    {
      Guard guard = sx::kernel::lock();
      auto w = find_locked(hwnd);
      if (!w || w->child) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      own = w->system_menu;
      style = w->style;
      dialog = w->kind == WindowKind::kDialog;
      if (revert) w->system_menu = nullptr;
    }
    if (revert) {
      if (own != nullptr) DestroyMenu(own);
      return nullptr;
    }
    if (own != nullptr) return own;
    HMENU copy = nullptr;
    {
      std::lock_guard lock(menus().mutex);
      copy = standard_system_menu_locked(style, dialog);
    }
    Guard guard = sx::kernel::lock();
    auto w = find_locked(hwnd);
    if (!w || w->system_menu != nullptr) {  // gone, or made by another thread meanwhile
      guard.unlock();
      DestroyMenu(copy);
      return w ? GetSystemMenu(hwnd, FALSE) : nullptr;
    }
    w->system_menu = copy;
    return copy;
  });
}

}  // extern "C"
