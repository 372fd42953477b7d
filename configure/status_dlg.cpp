#include "status_dlg.h"

#include <memory>
#include <vector>

#include "htmlhelp.h"
#include "messages.h"
#include "option_dialogs.h"
#include "resources.h"
#include "sx/ascii.h"
#include "wizard.h"

namespace sx::configure {
namespace {

constexpr std::size_t kMaxTokens = 20;

INT_PTR CALLBACK CloseProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    if (lParam != 0) {
      SetDlgItemTextA(dialog, IDC_COMPLETED_TEXT, reinterpret_cast<const char*>(lParam));
    }
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool IsSwitchChar(char c) { return c == '-' || c == '/' || c == '?'; }

}  // namespace

COLORREF StatusColour(int state) {
  switch (state) {
    case kGood:
      return RGB(150, 250, 200);
    case kWarning:
      return RGB(255, 255, 100);
    case kFailed:
      return RGB(255, 100, 100);
    default:
      return RGB(215, 215, 215);
  }
}

CommandLine ParseCommandLine(const std::string& line) {
  std::vector<std::string> tokens(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ' && i + 1 < line.size() && IsSwitchChar(line[i + 1])) {
      if (tokens.size() == kMaxTokens) break;  // the table is full: the rest is not looked at
      tokens.emplace_back();
      continue;
    }
    tokens.back() += line[i];
  }
  CommandLine result;
  for (std::string& token : tokens) token = TrimRight(token);
  result.programPath = tokens.front();
  if (!result.programPath.empty() && result.programPath.front() == '"') {
    result.programPath.erase(0, 1);
  }
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token.empty() || (token.front() != '-' && token.front() != '/')) continue;
    if (sx::ascii::equal_ignoring_case(token.substr(1), "install")) result.installWizard = true;
  }
  return result;
}

std::string HelpFilePath(const std::string& programPath) {
  const std::size_t slash = programPath.find_last_of('\\');
  if (slash == std::string::npos || slash == 0) return "SXConfigure.chm";
  return programPath.substr(0, slash + 1) + "SXConfigure.chm";
}

void ShowOutlookNotFound(HWND owner) {
  RegisterResources();
  DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_OUTLOOK_NOT_FOUND), owner, &CloseProc, 0);
}

void ShowCompleted(HWND owner, const std::string& text) {
  RegisterResources();
  DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_COMPLETED), owner, &CloseProc,
                  reinterpret_cast<LPARAM>(text.c_str()));
}

void ShowAbout(HWND owner) {
  RegisterResources();
  DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, &CloseProc, 0);
}

CStatusDlg::CStatusDlg(CComponentChecker& checker, std::string programPath, bool autoWizard,
                       SplashState* splash)
    : checker_(checker),
      programPath_(std::move(programPath)),
      autoWizard_(autoWizard),
      splash_(splash) {
  RegisterResources();
  icon_ = LoadIconA(nullptr, MAKEINTRESOURCEA(IDR_MAINFRAME));
  faceBrush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
}

CStatusDlg::~CStatusDlg() {
  if (faceBrush_ != nullptr) DeleteObject(faceBrush_);
}

INT_PTR CStatusDlg::DoModal() {
  const INT_PTR r = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_STATUS), nullptr, &Proc,
                                    reinterpret_cast<LPARAM>(this));
  SetMainWindow(nullptr);
  // A screen that could not come up must not keep the splash waiting.
  if (splash_ != nullptr) splash_->initialised = true;
  return r;
}

void CStatusDlg::OnInit(HWND dialog) {
  SetMainWindow(dialog);
  if (splash_ != nullptr) splash_->statusWindow = dialog;
  if (HMENU system = GetSystemMenu(dialog, FALSE); system != nullptr) {
    char about[128] = {};
    if (LoadStringA(nullptr, IDS_ABOUTBOX, about, sizeof about) > 0) {
      AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(system, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  Refresh(dialog);
  // A machine whose notes store fails the probe is not walked into the wizard by itself.
  if (checker_.FolderError()) autoWizard_ = false;
  initialised_ = true;
  if (splash_ != nullptr) splash_->initialised = true;
}

void CStatusDlg::Refresh(HWND dialog) {
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  checker_.RefreshStatus([&](int row) {
    const StatusRow& r = checker_.GetRow(row);
    SetDlgItemTextA(dialog, IDC_ROW_NAME + row, r.name.c_str());
    SetDlgItemTextA(dialog, IDC_ROW_INFO + row, r.info.c_str());
    SetDlgItemTextA(dialog, IDC_ROW_STATUS + row, r.status.c_str());
    InvalidateRect(GetDlgItem(dialog, IDC_ROW_STATUS + row), nullptr, TRUE);
  });
  SetCursor(old);
}

void CStatusDlg::OnPaint(HWND dialog) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(dialog, &paint);
  if (IsIconic(dialog)) {
    SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(dialog, &client);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - client.left - cx + 1) / 2,
             (client.bottom - client.top - cy + 1) / 2, icon_);
  }
  EndPaint(dialog, &paint);
  if (autoWizard_) {
    autoWizard_ = false;
    SendMessageA(dialog, WM_COMMAND, ID_INSTALL_WIZARD, 0);
  }
}

INT_PTR CStatusDlg::OnStatusColour(HDC dc, HWND control) {
  for (int row = 0; row < kRowCount; ++row) {
    if (GetDlgItem(GetParent(control), IDC_ROW_STATUS + row) == control) {
      SetBkColor(dc, StatusColour(checker_.GetRowState(row)));
      return reinterpret_cast<INT_PTR>(faceBrush_);
    }
  }
  return FALSE;  // other texts keep the default colours
}

void CStatusDlg::InstallWizard(HWND dialog) {
  if (checker_.ProfileCount() <= 0) {
    ShowOutlookNotFound(dialog);
    return;
  }
  CWizardSettings settings(checker_);
  if (!RunWizard(settings, dialog)) return;
  Refresh(dialog);
  // Good rows do not make a failed or cancelled folder step a success.
  bool failed = settings.outcome == kFolderFailed;
  for (int row = 0; row < kRowCount; ++row) failed = failed || checker_.GetRowState(row) == kFailed;
  ShowCompleted(dialog, settings.outcome == kFolderCancelled ? kInstallCancelled
                        : failed                             ? kInstallFailed
                                                             : kInstallSucceeded);
}

void CStatusDlg::ShowHelp() {
  const std::string path = HelpFilePath(programPath_);
  if (HtmlHelpA(nullptr, path.c_str(), HH_DISPLAY_TOPIC, 0) == nullptr) {
    ShowMessage("Failed to load the help file: \"" + path + "\"");
  }
}

bool CStatusDlg::OnCommand(HWND dialog, int id) {
  switch (id) {
    case IDC_RETEST:
      Refresh(dialog);
      return true;
    case IDOK:
    case IDCANCEL:
      EndDialog(dialog, id);
      return true;
    case ID_CONFIGURE_OUTLOOK:
      RunOutlookOptionsDlg(checker_, dialog);
      return true;
    case ID_CONFIGURE_PROFILES:
      if (RunProfilesDlg(checker_, dialog) == IDOK) Refresh(dialog);
      return true;
    case ID_CONFIGURE_PROGRESS:
      RunProgressOptionDlg(dialog);
      return true;
    case ID_UPDATE_OUTLOOK:
      if (checker_.ProfileCount() <= 0) {
        ShowOutlookNotFound(dialog);
      } else if (RunUpdateFolderDlg(checker_, dialog) == IDOK) {
        Refresh(dialog);
      }
      return true;
    case ID_EXIT:
      PostQuitMessage(0);
      EndDialog(dialog, IDCANCEL);
      return true;
    case ID_INSTALL_WIZARD:
      InstallWizard(dialog);
      return true;
    case ID_HELP_INDEX:
    case ID_HELP:
      ShowHelp();
      return true;
    case ID_ABOUT:
      ShowAbout(dialog);
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK CStatusDlg::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CStatusDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
      case WM_INITDIALOG:
        self->OnInit(dialog);
        return TRUE;
      case WM_PAINT:
        self->OnPaint(dialog);
        return TRUE;
      case WM_CTLCOLORSTATIC:
        return self->OnStatusColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
          ShowAbout(dialog);
          return TRUE;
        }
        return FALSE;
      case WM_COMMAND:
        return self->OnCommand(dialog, LOWORD(wParam)) ? TRUE : FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

int RunConfigure(CComponentChecker& checker, const std::string& commandLine, bool showSplash) {
  RegisterResources();
  const CommandLine line = ParseCommandLine(commandLine);
  SplashState state;
  std::unique_ptr<CSplash> splash;
  if (showSplash) splash = std::make_unique<CSplash>(IDB_SPLASH, 2000, 0, &state);
  {
    CStatusDlg dialog(checker, line.programPath, line.installWizard, &state);
    dialog.DoModal();
  }
  state.statusWindow = nullptr;
  splash.reset();  // waits for the splash to go
  return 0;
}

}  // namespace sx::configure
