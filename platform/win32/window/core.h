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
#include <string>
#include <vector>

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
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;  // from other threads, waiting for our reply
  std::vector<Timer> timers;
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
  std::size_t limit = 30000;

  std::filesystem::path published;  // machine-wide registry entry of a top-level window
};

using Guard = std::unique_lock<std::mutex>;

// --- Table (lock held) ---
std::shared_ptr<ThreadQueue> current_queue();  // no lock needed
std::shared_ptr<Window> find_locked(HWND hwnd);
HWND insert_locked(const std::shared_ptr<Window>& window);
std::vector<std::shared_ptr<Window>> children_locked(const Window& window);
std::shared_ptr<Window> find_item_locked(HWND dialog, int id);
std::vector<std::shared_ptr<Window>> all_windows_locked();

// Looks up a window, setting ERROR_INVALID_WINDOW_HANDLE on a miss. Takes the lock.
std::shared_ptr<Window> find(HWND hwnd);

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

// Takes (or peeks) the next message of `queue` for GetMessage/PeekMessage; handles incoming sent
// messages first. Lock held on entry and exit (released while sent messages are dispatched).
bool take_message_locked(Guard& guard, ThreadQueue& queue, MSG* out, HWND filter, UINT min,
                         UINT max, bool remove);

// --- Procedures of the built-in window kinds (no lock held) ---
LRESULT dialog_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT control_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);
// WM_SETTEXT / WM_GETTEXT / WM_GETTEXTLENGTH / WM_CLOSE for any window; 0 for the rest.
LRESULT default_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam, LPARAM lparam);

// Copies `text` into `buffer` of `capacity` chars: at most capacity-1 chars and a NUL.
int copy_text(const std::string& text, char* buffer, std::size_t capacity);

// --- Dialogs ---
HWND create_dialog(const DialogTemplate& dialog, HWND owner, DLGPROC proc, LPARAM param, bool modal,
                   int resource_id);
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
void record(ShownWindow shown);  // scripted host: remember what was shown
bool take_message_box_answer(const std::string& text, int* answer);
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
bool is_own_handle(HWND hwnd);
HWND make_handle(std::uint64_t counter);

bool equal_ignoring_case(const std::string& a, const char* b);
void report(const char* format, ...);  // one line on stderr, prefixed "sxwin32: "

}  // namespace sx::window::detail
