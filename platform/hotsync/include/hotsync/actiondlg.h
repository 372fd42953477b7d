// HotSync's action dialog, and the initialisation call of HotSync's common library.
#pragma once

#include <string>

#include "win32/winuser.h"

extern "C" {
// Called once by a conduit when it is loaded. Always returns TRUE.
BOOL InitPdcmn5DLL();
}

// The modal dialog in which the user picks what the next HotSync does with one conduit's data.
// Use from the thread that owns `parent` (or any thread without a parent). DoModal returns IDOK
// when the user confirmed (m_nActionIndex and m_bMakeDefault hold the choice) and IDCANCEL
// otherwise (both left as they were). Never throws.
class CHotSyncActionDlg {
 public:
  // Choice indexes.
  enum { eSynchronize = 0, ePCOverwritesHH = 1, eHHOverwritesPC = 2, eDoNothing = 3 };
  // Dialog template and control ids (for scripted tests).
  enum {
    kDialogId = 31000,
    kSynchronize = 31001,
    kPCOverwritesHH = 31002,
    kHHOverwritesPC = 31003,
    kDoNothing = 31004,
    kMakeDefault = 31005,
  };

  explicit CHotSyncActionDlg(HWND parent = nullptr) : parent_(parent) {}
  INT_PTR DoModal();

  std::string m_csCaption;    // the window title (the conduit's name)
  std::string m_csGroupText;  // text above the choices; a default is used when empty
  int m_nActionIndex = eSynchronize;
  BOOL m_bMakeDefault = FALSE;

 private:
  HWND parent_;
};
