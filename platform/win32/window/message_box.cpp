// MessageBoxA: a small modal dialog of class "#32770" titled by the caption, answered by the host.
#include <cstdio>
#include <functional>

#include "boundary.h"
#include "core.h"
#include "sx/clock.h"
#include "sx/web_windows.h"

using namespace sx::window::detail;

namespace {

constexpr int kTextId = 0xFFFF;

struct Box {
  UINT type;
  std::vector<int> buttons;
  bool has_cancel;
  int answer_without_person;  // the none host's answer
};

bool make_box(UINT type, Box* box) {
  box->type = type;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      box->buttons = {IDOK};
      box->answer_without_person = IDOK;
      break;
    case MB_OKCANCEL:
      box->buttons = {IDOK, IDCANCEL};
      box->answer_without_person = IDCANCEL;
      break;
    case MB_ABORTRETRYIGNORE:
      box->buttons = {IDABORT, IDRETRY, IDIGNORE};
      box->answer_without_person = IDABORT;
      break;
    case MB_YESNOCANCEL:
      box->buttons = {IDYES, IDNO, IDCANCEL};
      box->answer_without_person = IDCANCEL;
      break;
    case MB_YESNO:
      box->buttons = {IDYES, IDNO};
      box->answer_without_person = IDNO;
      break;
    case MB_RETRYCANCEL:
      box->buttons = {IDRETRY, IDCANCEL};
      box->answer_without_person = IDCANCEL;
      break;
    default:
      return false;
  }
  box->has_cancel = false;
  for (int b : box->buttons) box->has_cancel |= b == IDCANCEL;
  return true;
}

const char* button_text(int id) {
  switch (id) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDABORT:
      return "&Abort";
    case IDRETRY:
      return "&Retry";
    case IDIGNORE:
      return "&Ignore";
    case IDYES:
      return "&Yes";
    case IDNO:
      return "&No";
  }
  return "";
}

const char* icon_name(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return "stop";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONEXCLAMATION:
      return "exclamation";
    case MB_ICONASTERISK:
      return "information";
  }
  return "none";
}

INT_PTR CALLBACK box_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    return TRUE;
  }
  if (msg != WM_COMMAND || HIWORD(wparam) != BN_CLICKED) return FALSE;
  const Box* box = reinterpret_cast<const Box*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  const int id = LOWORD(wparam);
  if (id == IDCANCEL && !box->has_cancel) {
    // Escape or close: a box with only OK answers OK; Yes/No and the like cannot be closed.
    if ((box->type & MB_TYPEMASK) == MB_OK) EndDialog(hwnd, IDOK);
    return TRUE;
  }
  for (int b : box->buttons) {
    if (b == id) EndDialog(hwnd, id);
  }
  return TRUE;
}

}  // namespace

extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return guarded<int>("MessageBoxA", 0, [&]() -> int {
    Box box;
    if (!make_box(type, &box)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const std::string message = text != nullptr ? text : "";
    sx::window::DialogTemplate dialog;
    dialog.title = caption != nullptr ? caption : "Error";
    dialog.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    if (type & MB_SETFOREGROUND) dialog.style |= DS_SETFOREGROUND;
    dialog.controls.push_back({kTextId, sx::window::ControlKind::kStatic, message, 0, 0, 0, 0, 0});
    const int default_index = static_cast<int>((type & MB_DEFMASK) >> 8);
    for (std::size_t i = 0; i < box.buttons.size(); ++i) {
      const auto kind = static_cast<int>(i) == default_index
                            ? sx::window::ControlKind::kDefaultButton
                            : sx::window::ControlKind::kButton;
      dialog.controls.push_back({box.buttons[i], kind, button_text(box.buttons[i]), 0, 0, 0, 0, 0});
    }
    if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
    HWND hwnd = create_dialog(dialog, owner, box_proc, reinterpret_cast<LPARAM>(&box), true, 0);
    if (hwnd == nullptr) return 0;
    {
      Guard guard = sx::kernel::lock();
      if (auto w = find_locked(hwnd)) {
        w->is_message_box = true;
        w->message_box_type = type;
      }
    }
    if (type & MB_SETFOREGROUND) SetForegroundWindow(hwnd);

    // Who answers: a script, nobody, or the person at the console (in the host's modal loop).
    const sx::window::Host host = sx::window::host();
    int answer = 0;
    std::function<void()> before_answer;
    if (host == sx::window::Host::kScripted &&
        take_message_box_answer(message, &answer, &before_answer)) {
      if (before_answer) {
        ShowWindow(hwnd, SW_SHOWNA);  // the user sees the box while doing it
        try {
          before_answer();
        } catch (const std::exception& e) {
          report("the action before answering message box \"%s\" threw: %s", dialog.title.c_str(),
                 e.what());
        } catch (...) {
          report("the action before answering message box \"%s\" threw", dialog.title.c_str());
        }
      }
      PostMessageA(hwnd, WM_COMMAND, MAKELONG(answer, BN_CLICKED), 0);
    } else if (host == sx::window::Host::kAnswers) {
      std::vector<std::pair<int, std::string>> named;
      for (int b : box.buttons) named.emplace_back(b, button_text(b));
      const int chosen =
          answer_message_box(dialog.title, named).value_or(box.answer_without_person);
      std::fprintf(stderr, "[message box \"%s\" (%s)]\n%s\n[answered %s]\n", dialog.title.c_str(),
                   icon_name(type), message.c_str(), button_text(chosen));
      PostMessageA(hwnd, WM_COMMAND, MAKELONG(chosen, BN_CLICKED), 0);
    } else if (host != sx::window::Host::kConsole &&
               !(host == sx::window::Host::kWeb && sx::window::web::page_open())) {
      if (host == sx::window::Host::kNone) {
        std::fprintf(stderr, "[message box \"%s\" (%s)]\n%s\n[answered %s]\n", dialog.title.c_str(),
                     icon_name(type), message.c_str(), button_text(box.answer_without_person));
      }
      PostMessageA(hwnd, WM_COMMAND, MAKELONG(box.answer_without_person, BN_CLICKED), 0);
    }
    return static_cast<int>(run_dialog_box(hwnd));
  });
}
