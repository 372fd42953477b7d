#include "outlook_support.h"

#include "scribbix/notes_folder.h"
#include "scribbix/registry_values.h"
#include "scribbixaddin/scribbixaddin.h"
#include "windows.h"

namespace sx::addin {

using sx::com::ComPtr;
using sx::com::Variant;

std::u16string widen(std::string_view ascii) {
  std::u16string out;
  for (const char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

sx::com::Bstr bstr(std::string_view ascii) { return sx::com::Bstr(widen(ascii)); }

Variant text(std::string_view ascii) { return Variant::from_bstr(widen(ascii)); }

Variant omitted() { return Variant::from_error(DISP_E_PARAMNOTFOUND); }

long setting_number(const char* name) {
  const std::string value =
      sx::common::GetKeyValue(HKEY_LOCAL_MACHINE, sx::common::kInstallationKey, name);
  if (value.empty()) return 0;
  return Variant::from_ansi(value).to_i4();
}

ComPtr<CommandBarControl> control_with_id(CommandBarControls* controls, long id) {
  LONG count = 0;
  if (controls == nullptr || FAILED(controls->get_Count(&count))) return nullptr;
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<CommandBarControl> control;
    LONG at = 0;
    if (SUCCEEDED(controls->Item(Variant::from_i4(i).get(), control.GetAddressOf())) && control &&
        SUCCEEDED(control->get_Id(&at)) && at == id) {
      return control;
    }
  }
  return nullptr;
}

ComPtr<CommandBarControl> edit_item_command(_CommandBars* inspector_bars) {
  ComPtr<CommandBar> menu_bar;
  ComPtr<CommandBarControls> menus;
  if (inspector_bars == nullptr ||
      FAILED(
          inspector_bars->Item(text(scribbixaddin::kMenuBarName).get(), menu_bar.GetAddressOf())) ||
      !menu_bar || FAILED(menu_bar->get_Controls(menus.GetAddressOf()))) {
    return nullptr;
  }
  ComPtr<CommandBarControl> edit = control_with_id(menus.Get(), scribbixaddin::kEditMenuId);
  ComPtr<CommandBarPopup> popup;
  ComPtr<CommandBarControls> commands;
  if (!edit || FAILED(edit->QueryInterface(CommandBarPopup::kIid, popup.PutVoid())) || !popup ||
      FAILED(popup->get_Controls(commands.GetAddressOf()))) {
    return nullptr;
  }
  return control_with_id(commands.Get(), scribbixaddin::kEditItemId);
}

}  // namespace sx::addin
