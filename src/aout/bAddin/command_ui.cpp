// The notes add-in's command bar work on the explorers' bars: the toolbar "Scribbix Bar" with the
// New Note button, or none, and the menu "&Scribbix", by "MenuMode". Command bar failures never
// reach Outlook: each operation ends quietly at the first one.
#include "outlook_support.h"
#include "scribbix_addin.h"

namespace sx::addin {

using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

// "MenuMode" as the command bars use it: 0 when missing or not a number.
long menu_mode() {
  try {
    return setting_number(scribbixaddin::kMenuModeValue);
  } catch (...) {
    return 0;
  }
}

ComPtr<CommandBar> bar_named(_CommandBars* bars, const char* name) {
  ComPtr<CommandBar> bar;
  if (bars == nullptr || FAILED(bars->Item(text(name).get(), bar.GetAddressOf()))) {
    SetErrorInfo(0, nullptr);
    return nullptr;
  }
  return bar;
}

ComPtr<CommandBarControls> controls_of(CommandBar* bar) {
  ComPtr<CommandBarControls> controls;
  throw_if_failed(bar->get_Controls(controls.GetAddressOf()));
  if (!controls) sx::com::issue_error(E_POINTER);
  return controls;
}

}  // namespace

ComPtr<_CommandBars> ScribbixAddIn::explorer_bars() {
  ComPtr<_CommandBars> bars;
  if (!objExpl || FAILED(objExpl->get_CommandBars(bars.GetAddressOf()))) return nullptr;
  return bars;
}

void ScribbixAddIn::SetUpCommandUi() {
  try {
    const long mode = menu_mode();
    ComPtr<_CommandBars> bars = explorer_bars();
    notes_bar_ = bar_named(bars.Get(), scribbixaddin::kNotesBarName);
    if (!notes_bar_) {
      if (!bars) return;  // no explorer: nothing to show the command on
      if (mode <= 0) {
        ComPtr<CommandBar> bar;
        throw_if_failed(bars->Add(text(scribbixaddin::kNotesBarName).get(),
                                  Variant::from_i4(msoBarTop).get(), omitted().get(),
                                  Variant::from_bool(false).get(), bar.GetAddressOf()));
        if (!bar) return;
        notes_bar_ = bar;
        AddNewNoteButton(controls_of(bar.Get()).Get(), scribbixaddin::kButtonCaption,
                         scribbixaddin::kButtonTag);
        throw_if_failed(bar->put_Visible(VARIANT_TRUE));
      }
      if (mode == 2) AddNotesMenu();
    } else if (mode > 0) {
      ComPtr<CommandBar> bar = std::move(notes_bar_);
      notes_bar_ = nullptr;
      throw_if_failed(bar->Delete());
      if (mode == 2) AddNotesMenu();
    } else {
      throw_if_failed(notes_bar_->put_Visible(VARIANT_TRUE));
      ComPtr<CommandBarControl> found;
      throw_if_failed(notes_bar_->FindControl(
          omitted().get(), omitted().get(), text(scribbixaddin::kButtonTag).get(), omitted().get(),
          omitted().get(), found.GetAddressOf()));
      ComPtr<CommandBarButton> button;
      if (found) found->QueryInterface(CommandBarButton::kIid, button.PutVoid());
      watch_button(std::move(button));
    }
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
}

void ScribbixAddIn::AddNewNoteButton(CommandBarControls* controls, const char* caption,
                                     const char* tag) {
  try {
    if (controls == nullptr) return;
    ComPtr<CommandBarControl> control;
    throw_if_failed(controls->Add(Variant::from_i4(msoControlButton).get(), omitted().get(),
                                  omitted().get(), omitted().get(), omitted().get(),
                                  control.GetAddressOf()));
    ComPtr<CommandBarButton> button;
    if (control) control->QueryInterface(CommandBarButton::kIid, button.PutVoid());
    if (!button) return;
    throw_if_failed(button->put_Caption(bstr(caption).get()));
    throw_if_failed(button->put_Tag(bstr(tag).get()));
    throw_if_failed(button->put_FaceId(scribbixaddin::kButtonFaceId));
    throw_if_failed(button->put_Style(scribbixaddin::kButtonStyle));
    throw_if_failed(button->put_Visible(VARIANT_TRUE));
    throw_if_failed(button->put_TooltipText(bstr(scribbixaddin::kButtonTooltip).get()));
    throw_if_failed(button->put_Enabled(VARIANT_TRUE));
    throw_if_failed(button->put_BeginGroup(VARIANT_TRUE));
    const std::u16string action = u"!<" + progid_ + u">";
    throw_if_failed(button->put_OnAction(sx::com::Bstr(action).get()));
    watch_button(std::move(button));
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
}

void ScribbixAddIn::HideNotesBar() {
  try {
    if (ComPtr<CommandBar> bar = bar_named(explorer_bars().Get(), scribbixaddin::kNotesBarName))
      bar->put_Visible(VARIANT_FALSE);
    notes_bar_ = nullptr;
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
}

void ScribbixAddIn::AddNotesMenu() {
  try {
    if (MenuHasControl(scribbixaddin::kMenuBarName, scribbixaddin::kMenuCaption)) {
      // The menu of an earlier connection in this Outlook run: its New Note item is watched
      // again, so that it keeps working after the add-in was switched off and on.
      ComPtr<CommandBar> menu_bar = bar_named(explorer_bars().Get(), scribbixaddin::kMenuBarName);
      ComPtr<CommandBarControl> found;
      if (menu_bar)
        menu_bar->FindControl(omitted().get(), omitted().get(),
                              text(scribbixaddin::kButtonTag).get(), omitted().get(),
                              Variant::from_bool(true).get(), found.GetAddressOf());
      ComPtr<CommandBarButton> button;
      if (found) found->QueryInterface(CommandBarButton::kIid, button.PutVoid());
      if (button) watch_button(std::move(button));
      return;
    }
    ComPtr<CommandBarControl> popup = AddMenuPopup(
        scribbixaddin::kMenuBarName, scribbixaddin::kMenuCaption, scribbixaddin::kMenuTag);
    ComPtr<CommandBarPopup> menu;
    if (popup) popup->QueryInterface(CommandBarPopup::kIid, menu.PutVoid());
    if (!menu) return;
    ComPtr<CommandBarControls> items;
    throw_if_failed(menu->get_Controls(items.GetAddressOf()));
    AddNewNoteButton(items.Get(), scribbixaddin::kButtonCaption, scribbixaddin::kButtonTag);
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
}

bool ScribbixAddIn::MenuHasControl(const char* bar_name, const char* caption) {
  try {
    ComPtr<CommandBar> bar = bar_named(explorer_bars().Get(), bar_name);
    if (!bar) return false;
    ComPtr<CommandBarControls> controls = controls_of(bar.Get());
    LONG count = 0;
    throw_if_failed(controls->get_Count(&count));
    const std::u16string wanted = widen(caption);
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<CommandBarControl> control;
      sx::com::Bstr shown;
      if (SUCCEEDED(controls->Item(Variant::from_i4(i).get(), control.GetAddressOf())) && control &&
          SUCCEEDED(control->get_Caption(shown.put())) && shown.u16() == wanted) {
        return true;
      }
    }
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
  return false;
}

ComPtr<CommandBarControl> ScribbixAddIn::AddMenuPopup(const char* bar_name, const char* caption,
                                                      const char* tag) {
  ComPtr<CommandBar> bar = bar_named(explorer_bars().Get(), bar_name);
  if (!bar) return nullptr;
  ComPtr<CommandBarControls> controls = controls_of(bar.Get());
  LONG count = 0;
  throw_if_failed(controls->get_Count(&count));
  ComPtr<CommandBarControl> popup;
  throw_if_failed(controls->Add(Variant::from_i4(msoControlPopup).get(), omitted().get(),
                                omitted().get(), Variant::from_i4(count).get(),
                                Variant::from_bool(true).get(), popup.GetAddressOf()));
  if (!popup) return nullptr;
  throw_if_failed(popup->put_Caption(bstr(caption).get()));
  throw_if_failed(popup->put_Tag(bstr(tag).get()));
  return popup;
}

}  // namespace sx::addin
