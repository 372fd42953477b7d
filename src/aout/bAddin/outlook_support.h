// Small pieces the notes add-in's operations share: ASCII texts as BSTRs and VARIANTs, the
// settings read at connection, and a command bar control found by its command id.
// Outlook's thread.
#pragma once

#include <string>
#include <string_view>

#include "comdef.h"
#include "outlook/office.h"

namespace sx::addin {

// An ASCII text as UTF-16, as a Bstr and as a VARIANT.
std::u16string widen(std::string_view ascii);
sx::com::Bstr bstr(std::string_view ascii);
sx::com::Variant text(std::string_view ascii);
// A VARIANT that stands for an argument left out.
sx::com::Variant omitted();

// A setting of HKEY_LOCAL_MACHINE\Software\Vorlan Software\Scribbix as a number, converted as
// Visual Basic converts a text: missing (or empty) is 0; a text that is no number throws
// sx::com::ComError (DISP_E_TYPEMISMATCH).
long setting_number(const char* name);

// Among `controls`, the first control whose Id is `id`; null when there is none or the controls
// cannot be read.
sx::com::ComPtr<CommandBarControl> control_with_id(CommandBarControls* controls, long id);
// The "Edit Item" command of an inspector's menu bar ("&Edit" 30003, then 3273 inside it); null
// when the inspector's menu bar lacks either.
sx::com::ComPtr<CommandBarControl> edit_item_command(_CommandBars* inspector_bars);

}  // namespace sx::addin
