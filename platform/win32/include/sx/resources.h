// Resources of a module declared in code: string tables, menus, bitmaps and icons (dialog templates
// are in sx/window.h). A module registers its resources once, usually when it is loaded, under its
// own instance handle (null for the program itself); LoadStringA, LoadMenuA, LoadImageA and
// LoadIconA find them by (module, id) or (module, name), names compared ignoring case, as Windows
// finds resources. Registering again under the same key replaces the resource. Thread-safe.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "win32/winuser.h"

namespace sx::window {

// --- String tables
void register_string(HINSTANCE module, UINT id, std::string text);  // ANSI text
void register_strings(HINSTANCE module, const std::vector<std::pair<UINT, std::string>>& strings);

// --- Menus
// One item: a command (id and text), a separator (MF_SEPARATOR), or a popup (`items` not empty;
// its id is not used). `flags` takes MF_GRAYED, MF_DISABLED and MF_CHECKED.
struct MenuItemTemplate {
  int id = 0;
  std::string text;  // with its "&" mnemonic, as Windows shows it
  UINT flags = MF_STRING;
  std::vector<MenuItemTemplate> items;
};
struct MenuTemplate {
  int id = 0;        // found by MAKEINTRESOURCEA(id)
  std::string name;  // or, when not empty, by this name
  std::vector<MenuItemTemplate> items;
};
void register_menu(HINSTANCE module, const MenuTemplate& menu);
// A command item, a popup item and a separator, for building templates.
MenuItemTemplate menu_item(int id, std::string text, UINT flags = MF_STRING);
MenuItemTemplate popup(std::string text, std::vector<MenuItemTemplate> items);
MenuItemTemplate separator();

// --- Bitmaps
// A device-independent bitmap: `bit_count` 1, 4, 8, 16, 24 or 32 bits per pixel; a colour table of
// at most 2^bit_count entries for 8 bits and fewer (none above); `bits` bottom-up rows of
// ((width * bit_count + 31) / 32) * 4 bytes, or empty for an all-zero picture. Sizes up to
// 16384 x 16384. register_bitmap throws std::invalid_argument for a bitmap that breaks these rules.
struct BitmapResource {
  int id = 0;
  std::string name;
  int width = 0, height = 0;
  WORD bit_count = 8;
  std::vector<RGBQUAD> colours;
  std::vector<BYTE> bits;
};
void register_bitmap(HINSTANCE module, BitmapResource bitmap);
// Bytes of one row of a bitmap `width` pixels wide at `bit_count` bits per pixel.
int dib_row_bytes(int width, int bit_count);

// --- Icons: only their size is kept; drawings name them by resource name or "icon <id>".
struct IconResource {
  int id = 0;
  std::string name;
  int width = 32, height = 32;
};
void register_icon(HINSTANCE module, const IconResource& icon);

// Forgets every resource of `module`, dialog templates included (when a module is unloaded).
void unregister_resources(HINSTANCE module);

}  // namespace sx::window
