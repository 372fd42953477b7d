// CWaitDlg: the modeless progress window of the folder procedures: a text line, a bar from 0 to
// 100 and a Cancel button. While it is up the program's main window is disabled, so that no second
// command starts; the procedure calls Pump() after each step so that the window paints and Cancel
// can be pressed. User-interface thread only.
#pragma once

#include <string>

#include "windows.h"

namespace sx::configure {

class CWaitDlg {
 public:
  static constexpr int kDialogId = 150;
  static constexpr int kTextId = 1000;
  static constexpr int kProgressId = 1001;

  // Shows the window. Cancel sets *cancelFlag (which must outlive the window) to 0 and closes it.
  CWaitDlg(int* cancelFlag, const std::string& title = "Working",
           const std::string& text = "Click Cancel to cancel the operation");
  ~CWaitDlg();
  CWaitDlg(const CWaitDlg&) = delete;
  CWaitDlg& operator=(const CWaitDlg&) = delete;

  // Moves the bar to `position` (clamped to 0..100) while the window exists.
  void SetPos(int position);
  // Handles every message waiting for this thread; a quit message is posted again and ends the
  // pump.
  void Pump();
  // Enables the main window again and destroys the window (once).
  void Close();
  bool IsOpen() const { return window_ != nullptr; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  int* cancelFlag_;
  HWND window_ = nullptr;
  HWND disabled_ = nullptr;
};

}  // namespace sx::configure
