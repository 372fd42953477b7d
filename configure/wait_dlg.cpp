#include "wait_dlg.h"

#include <mutex>

#include "messages.h"
#include "sx/window.h"

namespace sx::configure {
namespace {

void RegisterTemplate() {
  static std::once_flag once;
  std::call_once(once, [] {
    using sx::window::ControlKind;
    sx::window::DialogTemplate dialog;
    dialog.id = CWaitDlg::kDialogId;
    dialog.title = "Working";
    dialog.cx = 200;
    dialog.cy = 70;
    dialog.style = DS_CENTER | WS_CAPTION;  // shown once its title and text are set
    dialog.controls = {
        {CWaitDlg::kTextId, ControlKind::kStatic, "", 7, 7, 186, 10, SS_CENTER},
        {CWaitDlg::kProgressId, ControlKind::kProgressBar, "", 7, 24, 186, 14, 0},
        {IDCANCEL, ControlKind::kButton, "Cancel", 75, 46, 50, 14, 0},
    };
    sx::window::register_dialog(nullptr, dialog);
  });
}

}  // namespace

CWaitDlg::CWaitDlg(int* cancelFlag, const std::string& title, const std::string& text)
    : cancelFlag_(cancelFlag) {
  RegisterTemplate();
  if (HWND main = MainWindow(); main != nullptr && IsWindow(main)) {
    EnableWindow(main, FALSE);
    disabled_ = main;
  }
  window_ = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kDialogId), disabled_, &DialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) return;
  SetWindowTextA(window_, title.c_str());
  SetDlgItemTextA(window_, kTextId, text.c_str());
  ShowWindow(window_, SW_SHOW);
}

CWaitDlg::~CWaitDlg() { Close(); }

void CWaitDlg::SetPos(int position) {
  if (window_ == nullptr) return;
  position = position < 0 ? 0 : position > 100 ? 100 : position;
  SendDlgItemMessageA(window_, kProgressId, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CWaitDlg::Pump() {
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (window_ == nullptr || !IsDialogMessageA(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

void CWaitDlg::Close() {
  if (disabled_ != nullptr) {
    EnableWindow(disabled_, TRUE);
    disabled_ = nullptr;
  }
  if (window_ != nullptr) {
    HWND window = window_;
    window_ = nullptr;
    DestroyWindow(window);
  }
}

INT_PTR CALLBACK CWaitDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(dialog, DWLP_USER, static_cast<LONG_PTR>(lParam));
      SendDlgItemMessageA(dialog, kProgressId, PBM_SETRANGE, 0, static_cast<LPARAM>(100) << 16);
      return TRUE;
    }
    auto* self = reinterpret_cast<CWaitDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && self != nullptr) {
      *self->cancelFlag_ = 0;
      self->Close();
      return TRUE;
    }
  } catch (...) {
  }
  return FALSE;
}

}  // namespace sx::configure
