// HotSync's action dialog as a dialog of the window host, and the common library's initialisation.
#include "hotsync/actiondlg.h"

#include <mutex>

#include "sx/window.h"
#include "windows.h"

namespace {

// The dialog templates of this library are registered under this tag as their module.
char g_module_tag;
HINSTANCE module_handle() { return reinterpret_cast<HINSTANCE>(&g_module_tag); }

void register_template() {
  static std::once_flag once;
  std::call_once(once, [] {
    using sx::window::ControlKind;
    sx::window::DialogTemplate t;
    t.id = CHotSyncActionDlg::kDialogId;
    t.title = "Change HotSync Action";
    t.cx = 220;
    t.cy = 130;
    t.style = DS_MODALFRAME | WS_CAPTION;
    t.controls = {
        {100, ControlKind::kGroupBox, "HotSync action", 7, 7, 150, 80, 0},
        {CHotSyncActionDlg::kSynchronize, ControlKind::kRadioButton, "Synchronize the files", 14,
         20, 140, 10, WS_GROUP},
        {CHotSyncActionDlg::kPCOverwritesHH, ControlKind::kRadioButton,
         "Desktop overwrites handheld", 14, 34, 140, 10, 0},
        {CHotSyncActionDlg::kHHOverwritesPC, ControlKind::kRadioButton,
         "Handheld overwrites Desktop", 14, 48, 140, 10, 0},
        {CHotSyncActionDlg::kDoNothing, ControlKind::kRadioButton, "Do nothing", 14, 62, 140, 10,
         0},
        {CHotSyncActionDlg::kMakeDefault, ControlKind::kCheckBox, "Set as default", 7, 95, 150, 10,
         0},
        {IDOK, ControlKind::kDefaultButton, "OK", 165, 7, 50, 14, 0},
        {IDCANCEL, ControlKind::kButton, "Cancel", 165, 25, 50, 14, 0},
    };
    sx::window::register_dialog(module_handle(), t);
  });
}

INT_PTR CALLBACK action_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<CHotSyncActionDlg*>(lparam);
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      if (!self->m_csCaption.empty()) SetWindowTextA(dialog, self->m_csCaption.c_str());
      SetDlgItemTextA(dialog, 100,
                      self->m_csGroupText.empty() ? "HotSync action" : self->m_csGroupText.c_str());
      int index = self->m_nActionIndex;
      if (index < 0 || index > 3) index = CHotSyncActionDlg::eSynchronize;
      CheckRadioButton(dialog, CHotSyncActionDlg::kSynchronize, CHotSyncActionDlg::kDoNothing,
                       CHotSyncActionDlg::kSynchronize + index);
      CheckDlgButton(dialog, CHotSyncActionDlg::kMakeDefault,
                     self->m_bMakeDefault ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    case WM_COMMAND: {
      auto* self = reinterpret_cast<CHotSyncActionDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
      if (LOWORD(wparam) == IDOK && self != nullptr) {
        for (int i = 0; i < 4; ++i) {
          if (IsDlgButtonChecked(dialog, CHotSyncActionDlg::kSynchronize + i) == BST_CHECKED) {
            self->m_nActionIndex = i;
          }
        }
        self->m_bMakeDefault =
            IsDlgButtonChecked(dialog, CHotSyncActionDlg::kMakeDefault) == BST_CHECKED;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR CHotSyncActionDlg::DoModal() {
  try {
    register_template();
    const INT_PTR result = DialogBoxParamA(module_handle(), MAKEINTRESOURCEA(kDialogId), parent_,
                                           action_proc, reinterpret_cast<LPARAM>(this));
    return result == IDOK ? IDOK : IDCANCEL;
  } catch (...) {
    return IDCANCEL;
  }
}

extern "C" BOOL InitPdcmn5DLL() {
  try {
    register_template();
  } catch (...) {
  }
  return TRUE;
}
