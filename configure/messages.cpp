#include "messages.h"

#include <cstdio>

namespace sx::configure {
namespace {

HWND g_main_window = nullptr;

// printf's "%s" of a string the error does not carry shows the C runtime's text for it.
const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

}  // namespace

void SetMainWindow(HWND window) { g_main_window = window; }
HWND MainWindow() { return g_main_window; }

void ShowMessage(const std::string& text) {
  MessageBoxA(g_main_window, text.c_str(), kProgramTitle, MB_OK);
}

bool AskToRetry(const std::string& text) {
  return MessageBoxA(g_main_window, text.c_str(), kProgramTitle, MB_RETRYCANCEL) == IDRETRY;
}

std::string ComErrorText(const sx::com::ComError& error) {
  std::string text = "Com Error!\n";
  char line[64];
  std::snprintf(line, sizeof line, "\tCode = %08lx\n",
                static_cast<unsigned long>(static_cast<ULONG>(error.Error())));
  text += line;
  text += std::string("\tCode meaning = ") + error.ErrorMessage() + "\n";
  text += std::string("\tSource = ") + OrNull(error.Source()) + "\n";
  text += std::string("\tDescription = ") + OrNull(error.Description()) + "\n";
  return text;
}

void ShowComError(const sx::com::ComError& error) {
  MessageBoxA(g_main_window, ComErrorText(error).c_str(), kProgramTitle,
              MB_OK | MB_SETFOREGROUND | MB_TOPMOST);
}

std::string OutlookProblemText(const std::string& extra) {
  return "There is a problem with the Outlook installation on this machine and the conduit is "
         "unlikely to run. \nA partial upgrade of Outlook has been detected on this machine. \n" +
         extra +
         "Note: Reinstalling Outlook 2000 SR-1 has been known to fix this problem. \nTo Reinstall, "
         "use the Control Panel, Add/Remove, MS Outlook, and choose Repair. \nWhen this problem "
         "has been fixed run the Install Wizard to complete the setup.";
}

void ShowOutlookProblem(const std::string& extra) {
  MessageBoxA(g_main_window, OutlookProblemText(extra).c_str(), kProgramTitle, MB_OK);
}

}  // namespace sx::configure
