// The scripted host's modal loop: a test's user actions delivered as the real messages.
#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {

std::vector<UserAction> take_dialog_script(const std::string& title, int resource_id);

namespace {

void perform(const std::shared_ptr<Window>& w, const UserAction& action) {
  HWND dialog = w->hwnd;
  auto notify = [&](HWND control, int id, WORD code) {
    SendMessageA(dialog, WM_COMMAND, MAKELONG(id, code), reinterpret_cast<LPARAM>(control));
  };
  HWND control = action.control != 0 ? GetDlgItem(dialog, action.control) : nullptr;
  const bool needs_control =
      action.kind != UserAction::Kind::kWait && action.kind != UserAction::Kind::kClose;
  if (needs_control && control == nullptr) {
    report("script for dialog \"%s\": no control %d", w->text.c_str(), action.control);
    return;
  }
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
      notify(control, action.control, EN_CHANGE);
      break;
    }
    case UserAction::Kind::kCheck:
      if (IsDlgButtonChecked(dialog, action.control) != static_cast<UINT>(action.value)) {
        SendMessageA(control, BM_CLICK, 0, 0);
      }
      break;
    case UserAction::Kind::kSelect: {
      auto c = find(control);
      if (!c) break;
      const bool combo = c->control == ControlKind::kComboBox;
      SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, action.value, 0);
      notify(control, action.control, combo ? CBN_SELCHANGE : LBN_SELCHANGE);
      break;
    }
    case UserAction::Kind::kClose:
      SendMessageA(dialog, WM_CLOSE, 0, 0);
      break;
    case UserAction::Kind::kWait:
      break;
  }
}

}  // namespace

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
      } else {
        perform(w, action);
      }
    }
  }
  run_modal_none(w);
}

}  // namespace sx::window::detail
