// The scripted host's modal loop: a test's user actions delivered as the real messages.
#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {

namespace {

// The control `id` of the dialog, else of one of its shown child dialogs (a property page).
HWND find_control(HWND dialog, int id) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(dialog);
  if (!w) return nullptr;
  for (const auto& c : children_locked(*w)) {
    if (c->kind == WindowKind::kControl && c->id == id) return c->hwnd;
  }
  for (const auto& c : children_locked(*w)) {
    if (c->kind != WindowKind::kDialog || !c->visible) continue;
    for (const auto& grandchild : children_locked(*c)) {
      if (grandchild->kind == WindowKind::kControl && grandchild->id == id) return grandchild->hwnd;
    }
  }
  return nullptr;
}

}  // namespace

bool progress_reached_locked(HWND dialog, int id, int position) {
  auto control = find_item_locked(dialog, id);
  return control && control->pos >= position;
}

void perform_user_action(const std::shared_ptr<Window>& w, const UserAction& action) {
  HWND dialog = w->hwnd;
  switch (action.kind) {
    case UserAction::Kind::kMenu:
      if (!menu_command_enabled(GetMenu(dialog), static_cast<UINT>(action.control))) {
        report("script for dialog \"%s\": no enabled menu item %d", w->text.c_str(),
               action.control);
        return;
      }
      PostMessageA(dialog, WM_COMMAND, MAKELONG(action.control, 0), 0);
      return;
    case UserAction::Kind::kSystemMenu:
      if (!menu_command_enabled(system_menu_for(dialog), static_cast<UINT>(action.control))) {
        report("script for dialog \"%s\": no enabled window menu item %d", w->text.c_str(),
               action.control);
        return;
      }
      PostMessageA(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(action.control), 0);
      return;
    case UserAction::Kind::kClose:
      SendMessageA(dialog, WM_CLOSE, 0, 0);
      return;
    case UserAction::Kind::kWait:
    case UserAction::Kind::kWaitForProgress:
      return;
    default:
      break;
  }
  HWND control = find_control(dialog, action.control);
  if (control == nullptr) {
    report("script for dialog \"%s\": no control %d", w->text.c_str(), action.control);
    return;
  }
  act_on_control(control, action);
}

void act_on_control(HWND control, const UserAction& action) {
  // Notifications go to the control's own dialog (a page's controls tell the page).
  HWND parent = GetParent(control);
  const int id = GetDlgCtrlID(control);
  auto notify = [&](WORD code) {
    SendMessageA(parent, WM_COMMAND, MAKELONG(id, code), reinterpret_cast<LPARAM>(control));
  };
  switch (action.kind) {
    case UserAction::Kind::kClick:
      SendMessageA(control, BM_CLICK, 0, 0);
      break;
    case UserAction::Kind::kType: {
      std::string text = action.text;
      if (auto c = find(control)) {
        Guard guard = sx::kernel::lock();
        if (text.size() > c->limit) text.resize(c->limit);  // typing stops at the limit
      }
      SetWindowTextA(control, text.c_str());
      notify(EN_CHANGE);
      break;
    }
    case UserAction::Kind::kCheck:
      if (SendMessageA(control, BM_GETCHECK, 0, 0) != action.value) {
        SendMessageA(control, BM_CLICK, 0, 0);
      }
      break;
    case UserAction::Kind::kSelect: {
      auto c = find(control);
      if (!c) break;
      const bool combo = c->control == ControlKind::kComboBox;
      SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, action.value, 0);
      notify(combo ? CBN_SELCHANGE : LBN_SELCHANGE);
      break;
    }
    default:
      break;
  }
}

void run_modal_scripted(const std::shared_ptr<Window>& w) {
  std::string title;
  int resource_id = 0;
  bool message_box = false;
  {
    Guard guard = sx::kernel::lock();
    title = w->text;
    resource_id = w->resource_id;
    message_box = w->is_message_box;
  }
  auto done = [&] { return w->ended || w->destroyed; };
  if (!message_box) {
    for (const UserAction& action : take_dialog_script(title, resource_id)) {
      // What the previous action caused is delivered before the next one.
      const PumpResult r = pump(done, sx::clock::now_ms(), false);
      if (r == PumpResult::kDone) return;
      if (r == PumpResult::kQuit) break;
      if (action.kind == UserAction::Kind::kWait) {
        const std::int64_t until =
            action.wait_ms < 0 ? sx::kernel::kNoDeadline : sx::clock::now_ms() + action.wait_ms;
        if (pump(done, until, action.wait_ms < 0) == PumpResult::kDone) return;
      } else if (action.kind == UserAction::Kind::kWaitForProgress) {
        HWND hwnd = w->hwnd;
        auto reached = [&] {
          return done() || progress_reached_locked(hwnd, action.control, action.value);
        };
        if (pump(reached, sx::kernel::kNoDeadline, true) == PumpResult::kDone && done()) return;
      } else {
        perform_user_action(w, action);
      }
    }
  }
  run_modal_none(w);
}

}  // namespace sx::window::detail
