// Dialog templates declared in code, and the window host that answers dialogs and message boxes.
//
// A module registers its dialog templates once (usually at load time); DialogBoxParamA and
// CreateDialogParamA find them by (module, id). Other resources (strings, menus, bitmaps, icons)
// are in sx/resources.h. The window host decides what happens while a dialog or message box is
// shown:
// - kScripted (tests): a test queues the user's actions per dialog (modal, modeless, a property
//   sheet) and the answers of message boxes, and afterwards reads what was shown (shown()) and
//   drawn (drawn()).
// - kConsole (a person in a terminal): dialogs are drawn as text on stdout, with their menus and
//   the colours they chose for their controls, and answered with keys.
// - kNone (nobody answers): timers run out; a modal dialog that still needs an answer is closed
//   (WM_CLOSE, then IDCANCEL); a message box takes its default answer and its text goes to stderr.
// - kAnswers (a person's script): dialogs and message boxes answered by title from a list (below);
//   what the list does not name is treated as under kNone.
// - kWeb (a person at the machine's page, `sxmachine view`): while a page is open, dialogs,
//   message boxes, wizards and progress windows are drawn in the page and answered there
//   (sx/web_windows.h); without one, as under kNone.
// The host is chosen by set_host(), else by SX_WINDOW_HOST=scripted|console|none|answers|web, else
// console when stdin and stdout are terminals and none otherwise. All functions here are
// thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win32/winuser.h"

namespace sx::window {

enum class ControlKind {
  kStatic,
  kEdit,
  kButton,
  kDefaultButton,
  kCheckBox,
  kRadioButton,
  kGroupBox,
  kListBox,
  kComboBox,
  kProgressBar,
};

// One control of a dialog template. Position and size are in dialog units. `style` takes the Win32
// control flags (ES_MULTILINE, ES_READONLY, WS_DISABLED, WS_GROUP, LBS_SORT...); the kind alone
// already implies the button style (check boxes and radio buttons are the automatic kind).
struct ControlTemplate {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::kStatic;
  std::string text;  // ANSI (the machine's code page)
  int x = 0, y = 0, cx = 0, cy = 0;
  DWORD style = 0;
};

struct DialogTemplate {
  int id = 0;        // found by MAKEINTRESOURCEA(id)
  std::string name;  // or, when not empty, by this string name
  std::string title;
  int cx = 0, cy = 0;      // dialog units
  DWORD style = 0;         // DS_MODALFRAME, DS_CENTER, WS_CAPTION...
  std::string class_name;  // empty for the dialog class "#32770"
  std::vector<ControlTemplate> controls;
  int menu = 0;      // menu resource of the same module (sx/resources.h) shown as its menu bar
  int x = 0, y = 0;  // dialog units from the owner's client area (the screen without owner), unless
                     // DS_CENTER centres the dialog on the screen
};

// Adds a template for `module` (null for the program itself), replacing one with the same id/name.
void register_dialog(HINSTANCE module, const DialogTemplate& dialog);
// Forgets every template of `module` (when a module is unloaded).
void unregister_dialogs(HINSTANCE module);
// The template registered for (module, name), name being MAKEINTRESOURCEA(id) or a string.
std::optional<DialogTemplate> find_dialog(HINSTANCE module, LPCSTR name);

enum class Host { kScripted, kConsole, kNone, kAnswers, kWeb };
inline constexpr const char* kHostEnvironmentVariable = "SX_WINDOW_HOST";

void set_host(Host host);
Host host();  // the host in effect (set_host, else the environment, else the default)

// --- Answers host (a person's script)
// --------------------------------------------------------------------
//
// SX_WINDOW_HOST=answers: each modal dialog, message box and wizard is answered by its title with
// what a list names. SX_WINDOW_ANSWERS holds entries "TITLE=STEP|STEP..." separated by ';' (or
// line breaks); SX_WINDOW_ANSWERS_FILE names a file with one entry a line ('#' starts a comment).
// A step is the text of a control to press (a button, check box or radio button; '&' marks and
// letter case do not count, "Use Desktop Value" presses "Use &Desktop Value"), or an item of a list
// to pick. The steps are taken in order each time a window of that title comes up; what a step
// cannot find, and a window the list does not name, is cancelled as under the none host. Every
// answer and cancellation is written to stderr ("[answered dialog \"TITLE\": STEP]").
inline constexpr const char* kAnswersEnvironmentVariable = "SX_WINDOW_ANSWERS";
inline constexpr const char* kAnswersFileEnvironmentVariable = "SX_WINDOW_ANSWERS_FILE";

struct WindowAnswer {
  std::string title;               // in the machine's code page
  std::vector<std::string> steps;  // control texts or list items, in order
  friend bool operator==(const WindowAnswer&, const WindowAnswer&) = default;
};
// Reads entries (UTF-8 texts, kept in the machine's code page) separated by any of `separators`;
// blank entries and, in a file, '#' lines are skipped. An entry without "=" or without a step is
// left out and said in *problems.
std::vector<WindowAnswer> parse_window_answers(std::string_view text, std::string_view separators,
                                               std::vector<std::string>* problems);
// The answers host's list from now on (by default it is read from the environment when first
// needed, its problems written to stderr).
void set_window_answers(std::vector<WindowAnswer> answers);

// --- Scripted host
// ---------------------------------------------------------------------------------

// One thing the user does in a dialog; delivered as the real messages after WM_INITDIALOG. A
// control is looked for among the dialog's own controls and then on its visible child dialogs (the
// current page of a property sheet); notifications go to the control's parent.
struct UserAction {
  enum class Kind {
    kClick,
    kType,
    kCheck,
    kSelect,
    kWait,
    kClose,
    kMenu,
    kSystemMenu,
    kWaitForProgress
  };
  Kind kind = Kind::kWait;
  int control = 0;            // the control, or the menu item's command id
  std::string text;           // kType
  int value = 0;              // kCheck: BST_*; kSelect: item index; kWaitForProgress: position
  std::int64_t wait_ms = -1;  // kWait: how long; -1 = until the dialog ends or no timer is left
};
UserAction click(int control);                       // BM_CLICK (BN_CLICKED to the dialog)
UserAction type(int control, std::string text);      // replaces the edit's text, then EN_CHANGE
UserAction check(int control, bool checked = true);  // a click when the state differs
UserAction select(int control, int index);           // LB_/CB_SETCURSEL, then LBN_/CBN_SELCHANGE
UserAction wait(std::int64_t ms = -1);               // let timers run
UserAction close();                                  // WM_CLOSE
// Chooses an enabled item of the menu bar: WM_COMMAND with the item's id (notification 0, lParam
// 0). A missing or disabled item is not chosen (a line on stderr).
UserAction choose_menu_item(int id);
// Chooses an item of the window menu (GetSystemMenu): WM_SYSCOMMAND with the item's id.
UserAction choose_system_menu_item(int id);
// Modeless dialogs: the next action waits until progress bar `control` has reached `position`.
UserAction wait_for_progress(int control, int position);

// Which dialog a script is for: by title (exact), by template id, or the next dialog of any kind.
struct DialogMatch {
  std::optional<std::string> title;
  std::optional<int> resource_id;
  static DialogMatch by_title(std::string title) { return {std::move(title), std::nullopt}; }
  static DialogMatch by_id(int id) { return {std::nullopt, id}; }
  static DialogMatch any() { return {}; }
};

// Queues the actions for the next shown dialog that matches (each script is used once, in order).
// A modal dialog whose actions are used up behaves as under the none host.
// A modeless dialog takes its script when it is first shown; its actions are delivered as posted
// messages whenever its thread looks at its queue (GetMessageA, PeekMessageA, a modal loop) and the
// action is due: at once, after a kWait's time on the clock, or when a kWaitForProgress is met. So
// a script can press Cancel while the program works and only pumps its messages between steps. A
// property sheet is matched by its caption; its pages are recorded as they are left.
void expect_dialog(const DialogMatch& match, std::vector<UserAction> actions);
// Queues the answer (IDOK, IDYES...) of the next message box whose text contains `text_part`.
// A message box without an answer takes the none host's default. `before_answer`, when given, runs
// on the box's thread while the box is up, before the answer is given (the user does something
// else first, such as closing another program); an exception from it is reported and ignored.
void expect_message_box(int answer, std::string text_part = {},
                        std::function<void()> before_answer = {});

struct ControlState {
  int id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::string text;
  UINT check = BST_UNCHECKED;
  std::vector<std::string> items;  // list and combo boxes
  int selection = -1;
  int progress_pos = 0, progress_min = 0, progress_max = 100;
  std::vector<int> progress_history;  // every position the bar showed, in order (no repeats)
  bool enabled = true;
  bool visible = true;
  // The colours of the control's last paint (CLR_INVALID before it was painted): its text, the text
  // background (SetTextColor/SetBkColor on the dialog's WM_CTLCOLOR* answer) and the brush that
  // filled the rest.
  COLORREF text_colour = CLR_INVALID;
  COLORREF background_colour = CLR_INVALID;
  COLORREF brush_colour = CLR_INVALID;
};

// What a dialog or message box showed when it closed (dialogs: before WM_DESTROY); a property
// page when it was left (before its PSN_WIZNEXT, PSN_WIZBACK, PSN_WIZFINISH or the sheet's end); a
// help viewer when it opened.
struct ShownWindow {
  enum class Kind { kModalDialog, kModelessDialog, kMessageBox, kPropertyPage, kHelpViewer };
  Kind kind = Kind::kModalDialog;
  int resource_id = 0;  // dialogs and pages
  std::string title;    // caption of a dialog or message box; a page's title
  std::vector<ControlState> controls;
  INT_PTR result = 0;          // EndDialog value / message box answer / PropertySheetA's result
  int clicked = 0;             // id of the last button clicked, 0 when none
  bool ended_by_host = false;  // closed by the host because nobody answered
  std::string text;            // message box text; the help viewer's file
  UINT type = 0;               // message box type
  DWORD wizard_buttons = 0;    // pages: the PSWIZB_* buttons the page had enabled
  const ControlState* control(int id) const;
};

// Everything shown under the scripted host since the last clear_script(), oldest first.
std::vector<ShownWindow> shown();
// Drops queued scripts and records.
void clear_script();
// Scripts not used yet (a test can check that every expected dialog came up).
std::size_t unused_scripts();

// --- Waiting with the message loop running ----------------------------------------------------

enum class PumpEnd { kDone, kQuit, kDeadline };

// Dispatches the calling thread's messages (sent, posted and timers, to any of its windows) until
// `done()` holds, as a thread does that waits for a call to another apartment. `done` is evaluated
// with sx::kernel::lock() held and must not lock; whoever changes what it looks at calls
// sx::kernel::notify_all() under that lock. kDone when done() held; kQuit when a WM_QUIT is pending
// (it stays queued for the thread's own loop); kDeadline when the clock reached `deadline_ms`
// (sx::clock::now_ms() basis; -1 waits without limit).
PumpEnd pump_until(const std::function<bool()>& done, std::int64_t deadline_ms = -1);

enum class WaitEnd { kDone, kInput, kDeadline };

// Waits, without dispatching anything, until `done()` holds (kDone), the calling thread has a
// message to take (posted, sent, WM_QUIT or a due timer: kInput), or the clock reaches
// `deadline_ms` (kDeadline), as MsgWaitForMultipleObjects does. `done` as for pump_until.
WaitEnd wait_for_input(const std::function<bool()>& done, std::int64_t deadline_ms = -1);

// False only when PeekMessage would find nothing for the calling thread: no message posted or sent,
// no WM_QUIT, no window to paint, no timer due, no mail from other processes to look at (and no
// console or script to serve). Cheaper than PeekMessage; a loop that serves calls between its
// messages uses it to skip looking.
bool input_may_wait();

// One thing drawn, recorded under the scripted host since the last clear_script() (the newest
// 100000). Coordinates are in the client area of `window`.
struct Drawing {
  enum class Kind {
    kErase,    // a background erased (WM_ERASEBKGND / WM_ICONERASEBKGND default): brush_colour
    kControl,  // a control painted itself: text, text_colour, background_colour, brush_colour
    kFill,     // FillRect: brush_colour
    kIcon,     // DrawIcon: text is the icon's name, rect its place
    kBitmap,   // DrawDibDraw: rect the destination, width/height/bit_count the source bitmap
    kPalette,  // RealizePalette: width is the number of entries realised
    kCursor,   // SetCursor: text is the cursor's name ("arrow", "wait", ...)
  };
  Kind kind = Kind::kFill;
  HWND window = nullptr;
  int control_id = 0;        // the control's id for a control of a dialog
  std::string window_title;  // the title of the top-level window it belongs to
  RECT rect{};
  std::string text;
  COLORREF text_colour = CLR_INVALID;
  COLORREF background_colour = CLR_INVALID;
  COLORREF brush_colour = CLR_INVALID;
  int width = 0, height = 0, bit_count = 0;
  bool background = false;  // kPalette: realised as a background palette
};
std::vector<Drawing> drawn();

// The name of the cursor SetCursor showed last ("arrow" before any call).
std::string current_cursor();
// GDI objects (brushes, bitmaps, palettes, device contexts, DrawDib handles) that were made and not
// yet deleted, stock objects not counted: a test can see that a program deleted what it made.
std::size_t live_gdi_objects();

// --- Console host helpers
// --------------------------------------------------------------------------

// ANSI escape sequences for a 24-bit background or text colour and for going back to normal.
std::string console_background(int r, int g, int b);
std::string console_foreground(int r, int g, int b);
inline constexpr const char* kConsoleReset = "\x1b[0m";
// What the console host draws for a dialog now (its menu, controls in their colours, the current
// page of a property sheet); empty for a window that is not a dialog.
std::string console_render(HWND dialog);

// Whether process `pid` of this machine has a top-level window listed (its user interface is up).
bool process_has_top_level_window(std::uint32_t pid);

}  // namespace sx::window
