// The configuration program's message boxes: a plain message, a COM error, and the warning about a
// damaged Outlook installation. Each shows a modal box owned by the program's main window (when
// one is set) and returns when the user has closed it. User-interface thread only.
#pragma once

#include <string>

#include "comdef.h"
#include "windows.h"

namespace sx::configure {

inline constexpr char kProgramTitle[] = "SXConfigure";

// The window that owns the program's message boxes and is disabled while a progress window is up
// (null: none, as in the command-line form).
void SetMainWindow(HWND window);
HWND MainWindow();

// A plain message box with an OK button.
void ShowMessage(const std::string& text);
// A message box with Retry and Cancel: true when the user chose Retry (nobody to answer: Cancel).
bool AskToRetry(const std::string& text);

// "Com Error!" with the error's code, its meaning, source and description (OK button, brought to
// the foreground and kept topmost).
void ShowComError(const sx::com::ComError& error);
// The text ShowComError shows.
std::string ComErrorText(const sx::com::ComError& error);

// The partial upgrade warning, with `extra` (may be empty) between its two paragraphs.
void ShowOutlookProblem(const std::string& extra = {});
std::string OutlookProblemText(const std::string& extra = {});

}  // namespace sx::configure
