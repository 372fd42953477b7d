// Internal: the process's windows, the per-thread message queues and message delivery.
//
// All state here is guarded by the kernel lock (sx::kernel::lock()), the one lock of every waitable
// object, so that waiting for messages and timers goes through sx::kernel::wait_until and the
// clock. Window procedures, dialog procedures and timer procedures are always called with no lock
// held.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sx/clock.h"
#include "sx/window.h"
#include "win32/winuser.h"

namespace sx::window::detail {

struct SentMessage {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  LRESULT result = 0;
  bool done = false;
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT elapse_ms = 0;
  std::int64_t due_ms = 0;
  TIMERPROC proc = nullptr;
};

// One per thread that used windows or messages; lives while the thread or a window of it lives.
struct ThreadQueue {
  std::vector<HWND> scripted;  // modeless dialogs of this thread with a script (scripted host)
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;  // from other threads, waiting for our reply
  std::vector<Timer> timers;
  std::vector<HWND> unpainted;  // windows of this thread that were invalidated, oldest first
  bool quit = false;
  int quit_code = 0;
  bool alive = true;  // false once the thread has ended
  UINT_PTR next_thread_timer_id = 0x7FF0;
};

enum class WindowKind { kDialog, kControl, kClassWindow };

struct Window {
  HWND hwnd = nullptr;
  WindowKind kind = WindowKind::kClassWindow;
  std::shared_ptr<ThreadQueue> owner;  // the thread the window belongs to
  HWND parent = nullptr;               // parent of a child, owner of a top-level window
  bool child = false;
  bool message_only = false;   // created with HWND_MESSAGE as parent: never listed nor found
  std::vector<HWND> children;  // in creation (tab) order
  std::string class_name;
  std::string text;
  DWORD style = 0;
  DWORD ex_style = 0;
  int id = 0;
  bool visible = false;
  bool enabled = true;
  bool destroyed = false;
  bool dirty = true;      // changed since the console host last drew it
  LONG_PTR userdata = 0;  // GWLP_USERDATA

  // Geometry: screen coordinates for a top-level window, the parent's client coordinates for a
  // child.
  RECT rect{};
  bool iconic = false;

  // Painting: the update rectangle (client coordinates) while `needs_paint`.
  bool needs_paint = false;
  bool needs_erase = false;
  RECT update{};
  bool validated_in_paint = false;  // BeginPaint or ValidateRect ran during the current WM_PAINT

  // Menus and icons.
  HMENU menu = nullptr;         // menu bar, destroyed with the window
  HMENU system_menu = nullptr;  // the program's copy of the window menu
  HICON big_icon = nullptr, small_icon = nullptr;
  HBRUSH class_background = nullptr;
  HCURSOR class_cursor = nullptr;

  // The colours of a control's last paint (sx::window::ControlState).
  COLORREF text_colour = CLR_INVALID, background_colour = CLR_INVALID, brush_colour = CLR_INVALID;
  bool custom_colours = false;  // the dialog chose them (its WM_CTLCOLOR* answer)

  // Scripted host: the actions of a modeless dialog, delivered from its thread's message loop.
  std::deque<UserAction> script;
  std::int64_t script_due_ms = -1;  // when the current kWait started counting: its deadline
  bool script_posted = false;       // the next action is queued as a message
  bool script_checked = false;      // looked for its script (when first shown)

  // Class windows.
  WNDPROC wndproc = nullptr;

  // Dialogs.
  DLGPROC dlgproc = nullptr;
  int resource_id = 0;
  bool modal = false;
  bool ended = false;
  bool ended_by_host = false;
  INT_PTR end_result = 0;
  int last_clicked = 0;
  LONG_PTR msg_result = 0;   // DWLP_MSGRESULT
  LONG_PTR dialog_user = 0;  // DWLP_USER
  bool is_message_box = false;
  HWND disabled_owner = nullptr;  // owner that a modal dialog disabled, enabled again at its end
  UINT message_box_type = 0;

  // Controls.
  ControlKind control = ControlKind::kStatic;
  UINT check = BST_UNCHECKED;
  std::vector<std::string> items;
  int selection = -1;
  int range_min = 0, range_max = 100, pos = 0, step = 10;
  std::vector<int> progress_history;
  std::size_t limit = 30000;

  std::filesystem::path published;  // machine-wide registry entry of a top-level window
};

using Guard = std::unique_lock<std::mutex>;

// --- Table (lock held) ---
std::shared_ptr<ThreadQueue> current_queue();     // no lock needed
bool is_current_queue(const ThreadQueue* queue);  // no lock needed
std::shared_ptr<Window> find_locked(HWND hwnd);
HWND insert_locked(const std::shared_ptr<Window>& window);
std::vector<std::shared_ptr<Window>> children_locked(const Window& window);
std::shared_ptr<Window> find_item_locked(HWND dialog, int id);
std::vector<std::shared_ptr<Window>> all_windows_locked();

// Looks up a window, setting ERROR_INVALID_WINDOW_HANDLE on a miss. Takes the lock.
std::shared_ptr<Window> find(HWND hwnd);

// Runs `body(window)` with the lock held on the window `hwnd`; `failure` with
// ERROR_INVALID_WINDOW_HANDLE when there is none. Takes the lock.
template <class R, class F>
R with_window(HWND hwnd, R failure, F&& body) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return failure;
  }
  return body(*w);
}

// Destroys a window on its owner thread (WM_DESTROY, children, owned windows, timers, registry).
bool destroy(HWND hwnd);

// --- Delivery ---
// Calls the window's procedure on the calling thread (which must own it); catches exceptions.
LRESULT dispatch(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT send(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
bool post(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

enum class PumpResult { kDone, kDeadline, kIdle, kQuit };
// Dispatches the calling thread's messages (every message goes to its window; dialogs need no
// IsDialogMessage here) until `done()` holds, `deadline_ms` passes, a WM_QUIT is pending (left in
// the queue), or, with `stop_when_idle`, nothing is queued and no timer of the thread is left.
// `done` is evaluated with the kernel lock held and must not lock.
PumpResult pump(const std::function<bool()>& done, std::int64_t deadline_ms, bool stop_when_idle);

// Whether the queue has something to deliver now: a sent or posted message, a quit, a paint.
bool has_messages_locked(ThreadQueue& queue);
// When the queue's next timer or scripted wait is due (kNoDeadline: never). Lock held.
std::int64_t next_deadline_locked(const ThreadQueue& queue);

// Takes (or peeks) the next message of `queue` for GetMessage/PeekMessage; handles incoming sent
// messages first. Order: posted messages, WM_QUIT, WM_PAINT, WM_TIMER. Lock held on entry and exit
// (released while sent messages are dispatched).
bool take_message_locked(Guard& guard, ThreadQueue& queue, MSG* out, HWND filter, UINT min,
                         UINT max, bool remove);

// --- Procedures of the built-in window kinds (no lock held) ---
LRESULT dialog_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT control_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);
// WM_SETTEXT / WM_GETTEXT / WM_GETTEXTLENGTH / WM_CLOSE for any window; 0 for the rest.
LRESULT default_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);

// Copies `text` into `buffer` of `capacity` chars: at most capacity-1 chars and a NUL.
int copy_text(const std::string& text, char* buffer, std::size_t capacity);

// --- Painting (paint.cpp) ---
// Marks `rect` (client coordinates; null: all of it) as needing paint and the window as changed for
// the console host. Lock held.
void invalidate_locked(Window& window, const RECT* rect, bool erase);
// The window and all its descendants (shown, sized).
void invalidate_tree_locked(Window& window);
// The next window of `queue` to get WM_PAINT: shown, needing paint, within `filter` (a window and
// its descendants; null for all), ancestors first. Null when none. Lock held.
HWND next_to_paint_locked(ThreadQueue& queue, HWND filter);
// Whether the window and its ancestors are visible. Lock held.
bool shown_locked(const Window& window);
// WM_PAINT through the window's procedure; empties the update region when the procedure did not.
LRESULT dispatch_paint(const std::shared_ptr<Window>& window, WPARAM wparam, LPARAM lparam);
// A control paints itself: asks its dialog for colours (WM_CTLCOLOR*) and records what it drew.
void paint_control(const std::shared_ptr<Window>& control);
// The default handling of the paint, colour, icon and system-command messages; false for others.
bool default_paint_message(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam,
                           LPARAM lparam, LRESULT* result);

// --- Geometry (geometry.cpp) ---
// Pixels of dialog units (base units 6 x 13).
int dialog_x_to_pixels(int units);
int dialog_y_to_pixels(int units);
// The window's client area as (0, 0, width, height). Lock held.
RECT client_rect_locked(const Window& window);
// The screen position of the window's client area origin. Lock held.
POINT client_origin_locked(const Window& window);
// Sets a dialog's rectangle from its template (size, DS_CENTER or position from the owner). Lock
// held.
void place_dialog_locked(Window& dialog, const DialogTemplate& dialog_template,
                         const Window* owner);

// --- Menus (menus.cpp) ---
// Whether `id` is an enabled command item of `menu` or its submenus.
bool menu_command_enabled(HMENU menu, UINT id);
// The window menu in effect for a top-level window (the program's copy, else the standard one).
HMENU system_menu_for(HWND hwnd);
void destroy_window_menus(HMENU menu_bar, HMENU system_menu);
// One line per popup of a menu bar for the console: "Options: m1 Configure Outlook... | m2 ...";
// `number` counts the command items across lines and `ids` receives their ids in that order.
std::vector<std::string> describe_menu(HMENU menu, const std::string& key_prefix,
                                       std::vector<UINT>* ids);

// --- Dialogs ---
// Creates a dialog from a template (with its menu bar from `module`'s menus) and sends
// WM_INITDIALOG. A template with WS_CHILD gives a child dialog of `owner`.
HWND create_dialog(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param, bool modal,
                   int resource_id, HINSTANCE module = nullptr);
ShownWindow snapshot_locked(const Window& dialog);
// Shows a created modal dialog, runs the host's modal loop, records it, destroys it; EndDialog
// value.
INT_PTR run_dialog_box(HWND dialog);

// --- Hosts (host.cpp, scripted.cpp, console_host.cpp) ---
// Runs the modal part of a dialog or message box after WM_INITDIALOG until it has ended.
void run_modal(const std::shared_ptr<Window>& dialog);
void run_modal_none(const std::shared_ptr<Window>& dialog);
void run_modal_scripted(const std::shared_ptr<Window>& dialog);
void run_modal_console(const std::shared_ptr<Window>& dialog);
void run_modal_answers(const std::shared_ptr<Window>& dialog);
// The web host (web_host.cpp): the modal loop; a modeless dialog shown, changed (looked at from its
// thread's deliveries, at most every 50 ms) and gone.
void run_modal_web(const std::shared_ptr<Window>& dialog);
void web_show_modeless(const std::shared_ptr<Window>& dialog);
void web_refresh(const ThreadQueue& queue);
void web_window_gone(HWND hwnd);
// The answers host's button for a message box titled `title` with these buttons (id, text): the
// id of the first step of its answer that names one of them; nothing (said on stderr) when the list
// names none.
std::optional<int> answer_message_box(const std::string& title,
                                      const std::vector<std::pair<int, std::string>>& buttons);
void record(ShownWindow shown);  // scripted host: remember what was shown
// The scripted host's actions: one action done to a dialog (or its current property page).
void perform_user_action(const std::shared_ptr<Window>& dialog, const UserAction& action);
// A click, typing, a check or a selection done to one control; its parent hears the notification.
void act_on_control(HWND control, const UserAction& action);
bool progress_reached_locked(HWND dialog, int id, int position);
std::vector<UserAction> take_dialog_script(const std::string& title, int resource_id);

// --- Scripted modeless dialogs (scripted_modeless.cpp) ---
// The private message that carries a modeless dialog's next scripted action through its queue.
inline constexpr UINT kScriptedActionMessage = 0x03F7;
// Gives a modeless dialog shown for the first time the script queued for it, if any.
void attach_modeless_script(const std::shared_ptr<Window>& dialog);
// Posts the next action of every scripted modeless dialog of `queue` whose action is due. Lock
// held.
void queue_due_script_actions_locked(ThreadQueue& queue);
// The earliest clock time a scripted wait of `queue` ends (kNoDeadline when none). Lock held.
std::int64_t next_script_deadline_locked(const ThreadQueue& queue);
// Performs the dialog's next scripted action (kScriptedActionMessage arrived).
LRESULT perform_scripted_action(const std::shared_ptr<Window>& dialog);
// The scripted answer of a message box with `text`, and what the user does before answering.
bool take_message_box_answer(const std::string& text, int* answer,
                             std::function<void()>* before_answer);
void console_show_modeless(const std::shared_ptr<Window>& dialog);
void console_refresh(const ThreadQueue& queue);  // redraws changed modeless dialogs; no lock held

// --- Machine-wide registry of top-level windows (machine_windows.cpp) ---
void publish(Window& window);  // no lock held; writes/updates the entry
void withdraw(const std::filesystem::path& entry);
HWND find_foreign(const char* class_name, const char* title);
bool foreign_window_exists(HWND hwnd);
bool post_foreign(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Sends to another process's window and waits (in real time) for its answer; 0 when it cannot.
LRESULT send_foreign(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
void deliver_foreign_mail();  // moves mail for this process into the queues; no lock held
bool foreign_mail_due();      // deliver_foreign_mail would look at the mailbox now
bool is_own_handle(HWND hwnd);
HWND make_handle(std::uint64_t counter);

bool equal_ignoring_case(const std::string& a, const char* b);
void report(const char* format, ...);  // one line on stderr, prefixed "sxwin32: "

}  // namespace sx::window::detail
