// CStatusDlg: the configuration program's main window, the status screen. Ten rows (name,
// information, status in its state's colour) filled by the checker row by row, RETEST and OK, the
// Options, Wizard and Help menus, and the About item in the window menu. With `autoWizard` the
// installation wizard opens by itself once the screen has been drawn. User-interface thread only.
#pragma once

#include <string>

#include "component_checker.h"
#include "splash.h"
#include "windows.h"

namespace sx::configure {

// The texts of the completion message after the wizard.
inline constexpr char kInstallSucceeded[] = "Installation has completed Successfully.";
inline constexpr char kInstallFailed[] =
    "The Installation process has failed!\r\r\nCheck the Main Status Screen for the failed "
    "components.";
inline constexpr char kInstallCancelled[] =
    "The Installation was cancelled.\r\r\nThe Scribbix folder was kept as it was.";

// The text background of a status text in each row state.
COLORREF StatusColour(int state);

class CStatusDlg {
 public:
  // `checker` outlives the dialog; `splash` (may be null) is told when the first refresh is done.
  CStatusDlg(CComponentChecker& checker, std::string programPath, bool autoWizard,
             SplashState* splash = nullptr);
  ~CStatusDlg();
  CStatusDlg(const CStatusDlg&) = delete;
  CStatusDlg& operator=(const CStatusDlg&) = delete;

  // Runs the dialog modally as the program's main window; IDOK or IDCANCEL when it closed.
  INT_PTR DoModal();

  bool Initialised() const { return initialised_; }
  bool AutoWizard() const { return autoWizard_; }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND dialog);
  void OnPaint(HWND dialog);
  INT_PTR OnStatusColour(HDC dc, HWND control);
  bool OnCommand(HWND dialog, int id);
  void Refresh(HWND dialog);
  void InstallWizard(HWND dialog);
  void ShowHelp();

  CComponentChecker& checker_;
  std::string programPath_;
  bool autoWizard_;
  bool initialised_ = false;
  SplashState* splash_;
  HICON icon_ = nullptr;
  HBRUSH faceBrush_ = nullptr;
};

// The program's own path from its command line, and whether the line asks for the wizard: a
// token starts after a blank followed by "-", "/" or "?"; the switch "install" (after "-" or "/",
// any case) asks for the wizard.
struct CommandLine {
  std::string programPath;
  bool installWizard = false;
};
CommandLine ParseCommandLine(const std::string& line);

// The help file beside the program ("SXConfigure.chm" alone when the path has no directory).
std::string HelpFilePath(const std::string& programPath);

// Shows "Outlook Not Found" / "Operation Completed" (with `text`) / the About box, modally.
void ShowOutlookNotFound(HWND owner);
void ShowCompleted(HWND owner, const std::string& text);
void ShowAbout(HWND owner);

// The whole program: the splash (unless `showSplash` is false), the status screen until it
// closes. `commandLine` is the program's command line as Windows gives it.
int RunConfigure(CComponentChecker& checker, const std::string& commandLine,
                 bool showSplash = true);

}  // namespace sx::configure
