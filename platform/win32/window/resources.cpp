// The per-module resource tables (strings, menus, bitmaps, icons, dialog templates) and
// LoadStringA.
#include <stdexcept>

#include "boundary.h"
#include "resource_table.h"

namespace sx::window::detail {
namespace {

// The tables are never destroyed: modules may look resources up while the process exits.
template <class T>
ResourceTable<T>& table() {
  static auto* t = new ResourceTable<T>();
  return *t;
}

constexpr int kMaxBitmapSide = 16384;

void check_bitmap(const BitmapResource& b) {
  const WORD bits = b.bit_count;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    throw std::invalid_argument("bitmap: bit count must be 1, 4, 8, 16, 24 or 32");
  }
  if (b.width <= 0 || b.height <= 0 || b.width > kMaxBitmapSide || b.height > kMaxBitmapSide) {
    throw std::invalid_argument("bitmap: width and height must be 1 to 16384");
  }
  const std::size_t max_colours = bits <= 8 ? std::size_t{1} << bits : 0;
  if (b.colours.size() > max_colours) {
    throw std::invalid_argument("bitmap: colour table larger than the bit count allows");
  }
  const std::size_t size =
      static_cast<std::size_t>(dib_row_bytes(b.width, bits)) * static_cast<std::size_t>(b.height);
  if (!b.bits.empty() && b.bits.size() != size) {
    throw std::invalid_argument("bitmap: pixel data does not match its size");
  }
}

}  // namespace

ResourceTable<DialogTemplate>& dialog_templates() { return table<DialogTemplate>(); }
ResourceTable<std::string>& string_resources() { return table<std::string>(); }
ResourceTable<MenuTemplate>& menu_templates() { return table<MenuTemplate>(); }
ResourceTable<BitmapResource>& bitmap_resources() { return table<BitmapResource>(); }
ResourceTable<IconResource>& icon_resources() { return table<IconResource>(); }

}  // namespace sx::window::detail

namespace sx::window {

using namespace detail;

void register_string(HINSTANCE module, UINT id, std::string text) {
  string_resources().add(module, static_cast<int>(id & 0xFFFF), {}, std::move(text));
}

void register_strings(HINSTANCE module, const std::vector<std::pair<UINT, std::string>>& strings) {
  for (const auto& [id, text] : strings) register_string(module, id, text);
}

void register_menu(HINSTANCE module, const MenuTemplate& menu) {
  menu_templates().add(module, menu.id, menu.name, menu);
}

MenuItemTemplate menu_item(int id, std::string text, UINT flags) {
  return {id, std::move(text), flags, {}};
}

MenuItemTemplate popup(std::string text, std::vector<MenuItemTemplate> items) {
  return {0, std::move(text), MF_POPUP, std::move(items)};
}

MenuItemTemplate separator() { return {0, {}, MF_SEPARATOR, {}}; }

int dib_row_bytes(int width, int bit_count) { return ((width * bit_count + 31) / 32) * 4; }

void register_bitmap(HINSTANCE module, BitmapResource bitmap) {
  check_bitmap(bitmap);
  const int id = bitmap.id;
  const std::string name = bitmap.name;
  bitmap_resources().add(module, id, name, std::move(bitmap));
}

void register_icon(HINSTANCE module, const IconResource& icon) {
  icon_resources().add(module, icon.id, icon.name, icon);
}

void unregister_resources(HINSTANCE module) {
  dialog_templates().remove_module(module);
  string_resources().remove_module(module);
  menu_templates().remove_module(module);
  bitmap_resources().remove_module(module);
  icon_resources().remove_module(module);
}

}  // namespace sx::window

using namespace sx::window::detail;

extern "C" int LoadStringA(HINSTANCE hInstance, UINT id, LPSTR buffer, int max_count) {
  return guarded<int>("LoadStringA", 0, [&]() -> int {
    if (buffer == nullptr || max_count <= 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    auto text = string_resources().find(hInstance, MAKEINTRESOURCEA(id & 0xFFFF));
    if (!text) {
      buffer[0] = '\0';
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    return copy_text(*text, buffer, static_cast<std::size_t>(max_count));
  });
}
