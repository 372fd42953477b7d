// The emulated Outlook as a process of its own (docs/outlook.md): its windows, the machine setting
// that makes it ask for a profile, and closing it from outside.
//
// One Outlook runs per stand-in process of the machine, on a thread of its own ("Outlook's
// thread") that owns its objects and its windows. Creating "Outlook.Application" starts it (or
// reaches the running one); it ends with Application.Quit, with WM_CLOSE to its main window (from
// any thread or another process of the machine), or, started by automation, when the last
// reference a client holds is released.
#pragma once

#include <string>

#include "outlook/outlook.h"

namespace sx::outlook {

// Outlook's main window: a hidden top-level window that FindWindowA finds (also from another
// process of the machine). WM_CLOSE to it ends Outlook.
inline constexpr char kMainWindowClass[] = "OutlookMainWindow";
inline constexpr char kMainWindowTitle[] = "Microsoft Outlook";

// The profile chooser Outlook shows on its thread when the machine asks for a profile (after its
// creation returned) or when Logon is asked to show it. IDOK logs on to the profile selected in
// the list; IDCANCEL (or WM_CLOSE) leaves Outlook without a session.
inline constexpr char kChooseProfileClass[] = "OUTLOOK.APPLICATION";
inline constexpr char kChooseProfileTitle[] = "Choose Profile";
inline constexpr int kChooseProfileList = 1001;  // combo box of the profiles, ascending

// The machine's "ask for a profile when Outlook starts" setting: HKEY_CURRENT_USER
// "Software\Microsoft\Exchange\Client\Options", text value "PickLogonProfile" ("1" asks). With it,
// Outlook has no default profile: a logon without a profile name needs the chooser.
bool prompts_for_profile();
bool set_prompt_for_profile(bool prompt, std::string* why = nullptr);

// Asks every Outlook running on the machine to close (WM_CLOSE to each main window); the number
// of Outlooks asked. Another process's Outlook reads its messages in real time (window/README.md).
int close_running_outlooks();

// Whether this process's Outlook is running (its thread has started and not yet ended).
bool outlook_running_here();

// Starts Outlook as a person does (OUTLOOK.EXE): with an explorer on the default folder, shown
// before the start-up add-ins connect, so that they find it as the ActiveExplorer. When Outlook
// runs already, a new explorer on the default folder is shown. The Application (a proxy) in
// *application. Outlook then ends when its last explorer closes, or with Quit.
HRESULT start_with_explorer(_Application** application);

// Outlook's own process (the program OUTLOOK.EXE started by COM with "/embedding", see
// sx/outlook/install.h): runs Outlook without an explorer, its class object registered for every
// process of the machine, and returns when it has ended as Outlook ends (its last client let go,
// Application.Quit, WM_CLOSE). Outlook that nobody creates within a minute of its start ends by
// itself. 0 once Outlook ran and ended; 1 when it could not start. On the program's main thread,
// which must not be in COM.
int serve_for_machine();

}  // namespace sx::outlook
