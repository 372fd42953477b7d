// Dialog templates, dialog creation, the default dialog procedure and the dialog item functions.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "boundary.h"
#include "core.h"
#include "resource_table.h"
#include "sx/clock.h"

using namespace sx::window::detail;

namespace sx::window {

void register_dialog(HINSTANCE module, const DialogTemplate& dialog) {
  detail::dialog_templates().add(module, dialog.id, dialog.name, dialog);
}

void unregister_dialogs(HINSTANCE module) { detail::dialog_templates().remove_module(module); }

std::optional<DialogTemplate> find_dialog(HINSTANCE module, LPCSTR name) {
  return detail::dialog_templates().find(module, name);
}

const ControlState* ShownWindow::control(int id) const {
  for (const ControlState& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

}  // namespace sx::window

namespace sx::window::detail {
namespace {

const char* class_of(ControlKind kind) {
  switch (kind) {
    case ControlKind::kStatic:
      return "Static";
    case ControlKind::kEdit:
      return "Edit";
    case ControlKind::kListBox:
      return "ListBox";
    case ControlKind::kComboBox:
      return "ComboBox";
    case ControlKind::kProgressBar:
      return PROGRESS_CLASSA;
    default:
      return "Button";
  }
}

DWORD implied_style(ControlKind kind) {
  switch (kind) {
    case ControlKind::kDefaultButton:
      return BS_DEFPUSHBUTTON;
    case ControlKind::kCheckBox:
      return BS_AUTOCHECKBOX;
    case ControlKind::kRadioButton:
      return BS_AUTORADIOBUTTON;
    case ControlKind::kGroupBox:
      return BS_GROUPBOX;
    default:
      return 0;
  }
}

bool is_button(ControlKind kind) {
  return kind == ControlKind::kButton || kind == ControlKind::kDefaultButton ||
         kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton;
}

}  // namespace

HWND create_dialog(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param, bool modal,
                   int resource_id, HINSTANCE module) {
  auto me = current_queue();
  auto w = std::make_shared<Window>();
  // The menu bar comes from the same module (it changes the dialog's frame).
  HMENU menu = dialog.menu != 0 ? LoadMenuA(module, MAKEINTRESOURCEA(dialog.menu)) : nullptr;
  if (dialog.menu != 0 && menu == nullptr) {
    report("dialog \"%s\": menu %d not found", dialog.title.c_str(), dialog.menu);
  }
  {
    Guard guard = sx::kernel::lock();
    auto owner_window = find_locked(owner);
    if (owner != nullptr && !owner_window) {
      guard.unlock();
      if (menu != nullptr) DestroyMenu(menu);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    w->kind = WindowKind::kDialog;
    w->owner = me;
    w->parent = owner;
    // A template with WS_CHILD makes a child dialog of its owner (a property page).
    w->child = (dialog.style & WS_CHILD) != 0 && owner_window != nullptr;
    w->class_name = dialog.class_name.empty() ? "#32770" : dialog.class_name;
    w->text = dialog.title;
    w->style = dialog.style;
    w->dlgproc = proc;
    w->modal = modal;
    w->resource_id = resource_id;
    w->menu = w->child ? nullptr : menu;
    place_dialog_locked(*w, dialog, owner_window.get());
    insert_locked(w);
    if (w->child) owner_window->children.push_back(w->hwnd);
    for (const ControlTemplate& c : dialog.controls) {
      auto control = std::make_shared<Window>();
      control->kind = WindowKind::kControl;
      control->owner = me;
      control->parent = w->hwnd;
      control->child = true;
      control->class_name = class_of(c.kind);
      control->text = c.text;
      control->style = c.style | implied_style(c.kind) | WS_CHILD | WS_VISIBLE;
      control->id = c.id;
      control->control = c.kind;
      control->enabled = (c.style & WS_DISABLED) == 0;
      control->visible = true;
      const int x = dialog_x_to_pixels(c.x), y = dialog_y_to_pixels(c.y);
      control->rect = {x, y, x + dialog_x_to_pixels(c.cx), y + dialog_y_to_pixels(c.cy)};
      insert_locked(control);
      w->children.push_back(control->hwnd);
    }
  }
  if (!w->child) publish(*w);
  // A modal dialog disables its owner before WM_INITDIALOG, as DialogBox does.
  if (modal && owner != nullptr && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    Guard guard = sx::kernel::lock();
    w->disabled_owner = owner;
  }
  dispatch(w->hwnd, WM_INITDIALOG, 0, param);
  if (!find(w->hwnd)) {  // destroyed during WM_INITDIALOG
    if (w->disabled_owner != nullptr) EnableWindow(w->disabled_owner, TRUE);
    return nullptr;
  }
  if (!modal && (dialog.style & WS_VISIBLE)) ShowWindow(w->hwnd, SW_SHOW);
  if (dialog.style & DS_SETFOREGROUND) SetForegroundWindow(w->hwnd);
  return w->hwnd;
}

LRESULT dialog_proc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    Guard guard = sx::kernel::lock();
    auto control = find_locked(reinterpret_cast<HWND>(lparam));
    if ((control && control->parent == w->hwnd && is_button(control->control)) ||
        (lparam == 0 && LOWORD(wparam) != 0)) {
      w->last_clicked = LOWORD(wparam);
    }
  }
  INT_PTR handled = FALSE;
  DLGPROC proc = nullptr;
  {
    Guard guard = sx::kernel::lock();
    proc = w->dlgproc;
    w->msg_result = 0;  // as DefDlgProc: a procedure that handles a message answers 0 by default
  }
  if (proc != nullptr) {
    try {
      handled = proc(w->hwnd, msg, wparam, lparam);
    } catch (const std::exception& e) {
      report("dialog procedure of \"%s\" threw on message 0x%04X: %s", w->text.c_str(), msg,
             e.what());
      handled = FALSE;
    } catch (...) {
      report("dialog procedure of \"%s\" threw on message 0x%04X", w->text.c_str(), msg);
      handled = FALSE;
    }
  }
  // These messages take the procedure's return value itself as their answer.
  const bool direct_answer =
      msg == WM_INITDIALOG || (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC);
  if (direct_answer && (handled || msg == WM_INITDIALOG)) return handled;
  if (handled) {
    Guard guard = sx::kernel::lock();
    return w->msg_result;
  }
  if (msg == WM_CLOSE) {
    // As DefDlgProc: closing means Cancel, unless the Cancel button is disabled.
    HWND cancel = nullptr;
    {
      Guard guard = sx::kernel::lock();
      auto button = find_item_locked(w->hwnd, IDCANCEL);
      if (button && !button->enabled) return 0;
      cancel = button ? button->hwnd : nullptr;
    }
    PostMessageA(w->hwnd, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel));
    return 0;
  }
  return default_proc(w, msg, wparam, lparam);
}

ShownWindow snapshot_locked(const Window& dialog) {
  ShownWindow shown;
  shown.kind = dialog.is_message_box ? ShownWindow::Kind::kMessageBox
               : dialog.modal        ? ShownWindow::Kind::kModalDialog
                                     : ShownWindow::Kind::kModelessDialog;
  shown.resource_id = dialog.resource_id;
  shown.title = dialog.text;
  shown.result = dialog.end_result;
  shown.clicked = dialog.last_clicked;
  shown.ended_by_host = dialog.ended_by_host;
  shown.type = dialog.message_box_type;
  for (const auto& c : children_locked(dialog)) {
    if (c->kind != WindowKind::kControl) continue;  // a child dialog is recorded on its own
    ControlState state;
    state.id = c->id;
    state.kind = c->control;
    state.text = c->text;
    state.check = c->check;
    state.items = c->items;
    state.selection = c->selection;
    state.progress_pos = c->pos;
    state.progress_min = c->range_min;
    state.progress_max = c->range_max;
    state.progress_history = c->progress_history;
    state.enabled = c->enabled;
    state.visible = c->visible;
    state.text_colour = c->text_colour;
    state.background_colour = c->background_colour;
    state.brush_colour = c->brush_colour;
    if (dialog.is_message_box && c->control == ControlKind::kStatic) shown.text = c->text;
    shown.controls.push_back(std::move(state));
  }
  return shown;
}

}  // namespace sx::window::detail

namespace {

int resource_id_of(LPCSTR name) {
  return IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<std::uintptr_t>(name)) : 0;
}

HWND create_from_resource(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param,
                          bool modal) {
  auto dialog = sx::window::find_dialog(module, name);
  if (!dialog) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return create_dialog(*dialog, owner, proc, param, modal, resource_id_of(name), module);
}

}  // namespace

namespace sx::window::detail {

// Shared by DialogBoxParamA and MessageBoxA: shows, runs the host's modal loop, records, destroys.
INT_PTR run_dialog_box(HWND hwnd) {
  auto w = find(hwnd);
  if (!w) return -1;
  {
    Guard guard = sx::kernel::lock();
    w->visible = true;
    invalidate_tree_locked(*w);
  }
  run_modal(w);
  INT_PTR result = 0;
  {
    Guard guard = sx::kernel::lock();
    result = w->end_result;
    if (!w->destroyed && host() == Host::kScripted) {
      ShownWindow shown = snapshot_locked(*w);
      guard.unlock();
      record(std::move(shown));
    }
  }
  if (w->disabled_owner != nullptr) EnableWindow(w->disabled_owner, TRUE);
  DestroyWindow(hwnd);
  return result;
}

}  // namespace sx::window::detail

extern "C" {

INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  return guarded<INT_PTR>("DialogBoxParamA", -1, [&]() -> INT_PTR {
    HWND hwnd = create_from_resource(hInstance, name, owner, proc, param, true);
    if (hwnd == nullptr) return -1;
    return run_dialog_box(hwnd);
  });
}

INT_PTR DialogBoxA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc) {
  return DialogBoxParamA(hInstance, name, owner, proc, 0);
}

HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  return guarded<HWND>("CreateDialogParamA", nullptr, [&] {
    return create_from_resource(hInstance, name, owner, proc, param, false);
  });
}

HWND CreateDialogA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc) {
  return CreateDialogParamA(hInstance, name, owner, proc, 0);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  return guarded<BOOL>("EndDialog", FALSE, [&]() -> BOOL {
    Guard guard = sx::kernel::lock();
    auto w = find_locked(dialog);
    if (!w || w->kind != WindowKind::kDialog) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (!w->ended) {
      w->ended = true;
      w->end_result = result;
    }
    if (!w->modal) w->visible = false;
    sx::kernel::notify_all();
    return TRUE;
  });
}

HWND GetDlgItem(HWND dialog, int id) {
  Guard guard = sx::kernel::lock();
  if (!find_locked(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto item = find_item_locked(dialog, id);
  if (!item) {
    SetLastError(1421);  // ERROR_CONTROL_ID_NOT_FOUND
    return nullptr;
  }
  return item->hwnd;
}

int GetDlgCtrlID(HWND control) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(control);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return w->child ? w->id : 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? SendMessageA(item, msg, wParam, lParam) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? SetWindowTextA(item, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int max_count) {
  if (buffer != nullptr && max_count > 0) buffer[0] = '\0';
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? static_cast<UINT>(GetWindowTextA(item, buffer, max_count)) : 0;
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed) {
  char text[16];
  std::snprintf(text, sizeof text, is_signed ? "%d" : "%u", value);
  return SetDlgItemTextA(dialog, id, text);
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed) {
  return guarded<UINT>("GetDlgItemInt", 0, [&]() -> UINT {
    if (translated != nullptr) *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) return 0;
    const int length = GetWindowTextLengthA(item);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(item, text.data(), length + 1);
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    if (*begin == '\0' || (!is_signed && *begin == '-')) return 0;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    while (*end == ' ' || *end == '\t') ++end;
    if (end == begin || *end != '\0' || errno == ERANGE) return 0;
    if (is_signed ? (value < INT_MIN || value > INT_MAX) : (value < 0 || value > UINT_MAX)) {
      return 0;
    }
    if (translated != nullptr) *translated = TRUE;
    return static_cast<UINT>(value);
  });
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND item = GetDlgItem(dialog, id);
  if (item == nullptr) return FALSE;
  SendMessageA(item, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  return item != nullptr ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first_id, int last_id, int check_id) {
  if (!IsWindow(dialog)) return FALSE;
  for (int id = first_id; id <= last_id; ++id) {
    HWND item = GetDlgItem(dialog, id);
    if (item != nullptr) {
      SendMessageA(item, BM_SETCHECK, id == check_id ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
  return TRUE;
}

}  // extern "C"
