// Outlook as a process of its own inside this one (docs/outlook.md): a thread with a message loop
// that owns the Application, the add-in host and Outlook's windows, serves its objects to the
// other apartments through proxies, and ends when asked to or when its last client lets go.
#pragma once

#include <atomic>
#include <memory>

#include "comdef.h"
#include "objects/objects.h"
#include "server/addin_host.h"
#include "win32/sync.h"
#include "win32/window.h"

namespace sx::outlook {

class OutlookProcess {
 public:
  // Starts Outlook (any thread; the local server starter of "Outlook.Application"): its thread
  // reads the add-ins while it starts and registers its class object before this returns. Waits
  // for an Outlook that is ending to be gone first.
  static HRESULT start();
  // Whether an Outlook runs in this process (any thread).
  static bool running();
  // Waits (any thread but Outlook's) until this process's Outlook has ended. When no creation of
  // it has succeeded within `unclaimed_limit_ms`, closes it first.
  static void wait_until_ended(DWORD unclaimed_limit_ms);

  ~OutlookProcess();
  OutlookProcess(const OutlookProcess&) = delete;
  OutlookProcess& operator=(const OutlookProcess&) = delete;

  // The rest is for Outlook's thread only.
  ApplicationImpl& app() { return *app_; }
  AddInHost& addins() { return *addins_; }
  bool ending() const { return ending_; }

  // Shows "Choose Profile" modally; calls from other apartments wait meanwhile. Logs on to the
  // profile chosen; true when a session exists afterwards.
  bool choose_profile();
  // The session logged on: the first logon ends a start-up that waited for a profile.
  void logged_on();
  // A creation of the Application succeeded: on a machine that asks for a profile, the first one
  // brings up "Choose Profile".
  void created();
  // Ends Outlook: add-ins disconnected, session logged off, class object revoked, every proxy cut
  // off, windows destroyed, the thread's loop ended. Calling it again does nothing.
  void quit();

 private:
  OutlookProcess() = default;
  static DWORD WINAPI thread_main(LPVOID self);
  static LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK prompt_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  HRESULT start_on_thread();
  void run();
  void complete_startup();

  HANDLE thread_ = nullptr;
  HANDLE started_ = nullptr;  // set once start_on_thread has run
  HRESULT start_result_ = E_UNEXPECTED;

  sx::com::ComPtr<ApplicationImpl> app_;
  std::unique_ptr<AddInHost> addins_;
  HWND main_window_ = nullptr;
  DWORD class_cookie_ = 0;
  bool startup_done_ = false;
  bool prompt_at_start_ = false;
  bool ending_ = false;
  HWND prompt_ = nullptr;       // "Choose Profile" while it is shown
  std::string chosen_profile_;  // what its OK chose
  bool quit_after_prompt_ = false;
  bool explorer_at_start_ = false;              // started as a person's Outlook: an explorer opens
  std::atomic<bool> ever_created_{false};       // a creation of the Application has succeeded
  std::atomic<HWND> window_to_close_{nullptr};  // main_window_, for other threads
};

}  // namespace sx::outlook
