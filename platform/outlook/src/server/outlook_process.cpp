#include "server/outlook_process.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "objects/registry_values.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/profiles.h"
#include "sx/window.h"
#include "ui/ui.h"

namespace sx::outlook {

namespace {

// Posted to the main window while Outlook starts on a machine that asks for a profile: the
// chooser comes up after the creation has returned.
constexpr UINT kShowPromptAtStart = WM_APP + 1;
constexpr int kChooseProfileDialog = 8001;
constexpr char kPickProfileKey[] = "Software\\Microsoft\\Exchange\\Client\\Options";
constexpr char kPickProfileValue[] = "PickLogonProfile";
// How long Outlook started for the machine waits for its first creation.
constexpr DWORD kUnclaimedLimitMs = 60000;

HINSTANCE module_handle() {
  static const char tag = 0;
  return reinterpret_cast<HINSTANCE>(const_cast<char*>(&tag));
}

// The running Outlook of this process. Outlook's thread takes itself out of it as its last step,
// which may come while the process already runs its exit handlers: the record is never destroyed.
struct Current {
  std::mutex mutex;
  std::shared_ptr<OutlookProcess> process;  // guarded by mutex
  bool explorer_at_start = false;           // guarded by mutex: the next start opens one
};
Current& current() {
  static Current* const record = new Current();
  return *record;
}
thread_local OutlookProcess* t_process = nullptr;

// The class object of "Outlook.Application": every creation gets the one Application.
class OutlookFactory : public sx::com::ComObject<IClassFactory> {
 public:
  explicit OutlookFactory(OutlookProcess& process) : process_(process) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    SX_COM_CHECK_THREAD();
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (process_.ending()) return CO_E_SERVER_STOPPING;
    try {
      detail::check_fault("Application", "Create", nullptr);
    } catch (const OutlookError& e) {
      return sx::com::report_error(e.hr, e.source, e.description);
    }
    const HRESULT hr = process_.app().QueryInterface(iid, object);
    if (SUCCEEDED(hr)) process_.created();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  OutlookProcess& process_;
};

void register_window_and_dialog(WNDPROC window_proc) {
  static std::once_flag once;
  std::call_once(once, [&] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = module_handle();
    wc.lpszClassName = kMainWindowClass;
    RegisterClassA(&wc);

    using sx::window::ControlKind;
    sx::window::DialogTemplate t;
    t.id = kChooseProfileDialog;
    t.title = kChooseProfileTitle;
    t.class_name = kChooseProfileClass;
    t.cx = 220;
    t.cy = 70;
    t.style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.controls = {
        {IDC_STATIC, ControlKind::kStatic, "Profile Name:", 7, 12, 50, 8, 0},
        {kChooseProfileList, ControlKind::kComboBox, "", 60, 10, 153, 60, CBS_DROPDOWNLIST},
        {IDOK, ControlKind::kDefaultButton, "OK", 107, 48, 50, 14, 0},
        {IDCANCEL, ControlKind::kButton, "Cancel", 163, 48, 50, 14, 0},
    };
    sx::window::register_dialog(module_handle(), t);
  });
}

}  // namespace

HRESULT OutlookProcess::start() {
  std::shared_ptr<OutlookProcess> old;
  {
    std::lock_guard lock(current().mutex);
    old = current().process;
  }
  // Asked to start only when no class object is registered: an Outlook still here is ending. Its
  // thread may still give references back to this apartment, which therefore keeps serving.
  if (old) {
    HANDLE thread = old->thread_;
    DWORD index = 0;
    if (FAILED(CoWaitForMultipleHandles(0, INFINITE, 1, &thread, &index))) {
      WaitForSingleObject(thread, INFINITE);
    }
  }
  std::shared_ptr<OutlookProcess> process(new OutlookProcess());
  {
    std::lock_guard lock(current().mutex);
    process->explorer_at_start_ = std::exchange(current().explorer_at_start, false);
  }
  process->started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (process->started_ == nullptr) return E_OUTOFMEMORY;
  {
    std::lock_guard lock(current().mutex);
    current().process = process;
  }
  auto* handed = new std::shared_ptr<OutlookProcess>(process);
  process->thread_ = CreateThread(nullptr, 0, &OutlookProcess::thread_main, handed, 0, nullptr);
  if (process->thread_ == nullptr) {
    delete handed;
    std::lock_guard lock(current().mutex);
    current().process = nullptr;
    return CO_E_SERVER_EXEC_FAILURE;
  }
  WaitForSingleObject(process->started_, INFINITE);
  return process->start_result_;
}

bool OutlookProcess::running() {
  std::lock_guard lock(current().mutex);
  return current().process != nullptr;
}

void OutlookProcess::wait_until_ended(DWORD unclaimed_limit_ms) {
  std::shared_ptr<OutlookProcess> process;
  {
    std::lock_guard lock(current().mutex);
    process = current().process;
  }
  if (!process) return;
  if (WaitForSingleObject(process->thread_, unclaimed_limit_ms) == WAIT_OBJECT_0) return;
  if (!process->ever_created_) PostMessageA(process->window_to_close_, WM_CLOSE, 0, 0);
  WaitForSingleObject(process->thread_, INFINITE);
}

OutlookProcess::~OutlookProcess() {
  if (thread_ != nullptr) CloseHandle(thread_);
  if (started_ != nullptr) CloseHandle(started_);
}

DWORD WINAPI OutlookProcess::thread_main(LPVOID handed) {
  std::shared_ptr<OutlookProcess> self = *static_cast<std::shared_ptr<OutlookProcess>*>(handed);
  delete static_cast<std::shared_ptr<OutlookProcess>*>(handed);
  t_process = self.get();
  try {
    self->run();
  } catch (...) {
    // Nothing passes the thread's boundary; Outlook simply ends.
  }
  t_process = nullptr;
  std::lock_guard lock(current().mutex);
  if (current().process == self) current().process = nullptr;
  return 0;
}

void OutlookProcess::run() {
  CoInitialize(nullptr);
  try {
    start_result_ = start_on_thread();
  } catch (const std::bad_alloc&) {
    start_result_ = E_OUTOFMEMORY;
  } catch (...) {
    start_result_ = CO_E_SERVER_EXEC_FAILURE;
  }
  SetEvent(started_);
  if (SUCCEEDED(start_result_)) sx::com::run_message_loop();
  quit();
  addins_.reset();
  app_ = nullptr;
  CoUninitialize();
}

HRESULT OutlookProcess::start_on_thread() {
  register_window_and_dialog(&OutlookProcess::main_window_proc);
  main_window_ = CreateWindowExA(0, kMainWindowClass, kMainWindowTitle, WS_OVERLAPPEDWINDOW,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 nullptr, nullptr, module_handle(), nullptr);
  if (main_window_ == nullptr) return CO_E_SERVER_EXEC_FAILURE;
  window_to_close_ = main_window_;
  app_ = sx::com::make_object<ApplicationImpl>(*this);
  app_->session().on_logon = [this] { logged_on(); };
  addins_ = std::make_unique<AddInHost>(*app_);
  // The add-ins and their "LoadBehavior" are read now, inside the creation, and never again.
  addins_->read_registry();
  auto factory = sx::com::make_object<OutlookFactory>(*this);
  if (const HRESULT hr = CoRegisterClassObject(
          CLSID_OutlookApplication, static_cast<IClassFactory*>(factory.Get()), CLSCTX_LOCAL_SERVER,
          REGCLS_MULTIPLEUSE, &class_cookie_);
      FAILED(hr)) {
    return hr;
  }
  // Started by automation, Outlook ends with its last client; with an explorer open, it ends
  // when the last explorer closes.
  sx::com::on_last_external_release([this] {
    if (app_->ui().explorers().empty()) quit();
  });
  if (prompts_for_profile()) {
    prompt_at_start_ = true;  // once the creation has returned
  } else {
    complete_startup();
  }
  return S_OK;
}

void OutlookProcess::created() {
  ever_created_ = true;
  // Posted now, it comes up after the creation's answer is on its way: the creator is not kept
  // waiting by the chooser, but every later call is, until it is answered.
  if (std::exchange(prompt_at_start_, false)) PostMessageA(main_window_, kShowPromptAtStart, 0, 0);
}

void OutlookProcess::complete_startup() {
  startup_done_ = true;
  // The explorer is there before the add-ins connect: they find it as the ActiveExplorer.
  if (explorer_at_start_) app_->ui().open_explorer(std::nullopt, true);
  addins_->start_up();
}

void OutlookProcess::logged_on() {
  if (!startup_done_ && !ending_) complete_startup();
}

bool OutlookProcess::choose_profile() {
  if (prompt_ != nullptr || ending_) return app_->session().logged_on();
  sx::com::hold_incoming_calls();
  chosen_profile_.clear();
  const INT_PTR answer =
      DialogBoxParamA(module_handle(), MAKEINTRESOURCEA(kChooseProfileDialog), nullptr,
                      &OutlookProcess::prompt_proc, reinterpret_cast<LPARAM>(this));
  prompt_ = nullptr;
  if (quit_after_prompt_) {
    quit();
  } else if (answer == IDOK && !chosen_profile_.empty()) {
    try {
      app_->session().logon(chosen_profile_);
    } catch (const OutlookError& e) {
      std::fprintf(stderr, "Outlook: %s\n", e.description.c_str());
    }
  }
  const bool logged_on = app_->session().logged_on();
  sx::com::release_incoming_calls();
  return logged_on;
}

void OutlookProcess::quit() {
  if (prompt_ != nullptr) {  // the chooser's loop ends first, then Outlook
    quit_after_prompt_ = true;
    EndDialog(prompt_, IDCANCEL);
    return;
  }
  if (ending_) return;
  ending_ = true;
  if (addins_) addins_->shut_down();
  if (app_) {
    app_->session().logoff();
    // Now, while the client whose call ends Outlook is still waiting (and serving its apartment).
    app_->session().drop_sinks();
    app_->ui().shut_down();
  }
  if (class_cookie_ != 0) CoRevokeClassObject(std::exchange(class_cookie_, 0));
  // The next Outlook of this process (a test's, on another machine) serves the machine only if
  // that machine asks for it.
  sx::com::stop_serving_for_machine(CLSID_OutlookApplication);
  sx::com::on_last_external_release(nullptr);
  sx::com::disconnect_objects();
  if (main_window_ != nullptr) DestroyWindow(std::exchange(main_window_, nullptr));
  PostQuitMessage(0);
}

LRESULT CALLBACK OutlookProcess::main_window_proc(HWND hwnd, UINT msg, WPARAM wparam,
                                                  LPARAM lparam) {
  OutlookProcess* self = t_process;
  if (self != nullptr) {
    if (msg == WM_CLOSE) {
      self->quit();
      return 0;
    }
    if (msg == kShowPromptAtStart) {
      self->choose_profile();
      return 0;
    }
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

INT_PTR CALLBACK OutlookProcess::prompt_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<OutlookProcess*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    self->prompt_ = hwnd;
    const std::vector<std::string> names = profiles::list();
    const std::optional<std::string> preferred = profiles::default_profile();
    int selected = names.empty() ? -1 : 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      SendDlgItemMessageA(hwnd, kChooseProfileList, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(names[i].c_str()));
      if (preferred && names[i] == *preferred) selected = static_cast<int>(i);
    }
    SendDlgItemMessageA(hwnd, kChooseProfileList, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    return TRUE;
  }
  auto* self = reinterpret_cast<OutlookProcess*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (msg != WM_COMMAND || self == nullptr) return FALSE;
  switch (LOWORD(wparam)) {
    case IDOK: {
      const LRESULT at = SendDlgItemMessageA(hwnd, kChooseProfileList, CB_GETCURSEL, 0, 0);
      const LRESULT length =
          at < 0 ? CB_ERR : SendDlgItemMessageA(hwnd, kChooseProfileList, CB_GETLBTEXTLEN, at, 0);
      if (length >= 0) {
        std::string name(static_cast<std::size_t>(length) + 1, '\0');
        SendDlgItemMessageA(hwnd, kChooseProfileList, CB_GETLBTEXT, static_cast<WPARAM>(at),
                            reinterpret_cast<LPARAM>(name.data()));
        name.resize(std::strlen(name.c_str()));
        self->chosen_profile_ = name;
      }
      EndDialog(hwnd, IDOK);
      return TRUE;
    }
    case IDCANCEL:
      EndDialog(hwnd, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

// --- The public face (sx/outlook/outlook_process.h) --------------------------------------------

bool prompts_for_profile() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPickProfileKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  const auto value = registry::read_text(key, kPickProfileValue);
  RegCloseKey(key);
  return value && *value == "1";
}

bool set_prompt_for_profile(bool prompt, std::string* why) {
  if (registry::write_text(kPickProfileKey, kPickProfileValue, prompt ? "1" : "0")) return true;
  if (why) *why = "cannot write the profile setting";
  return false;
}

int close_running_outlooks() {
  int asked = 0;
  HWND last = nullptr;
  for (int round = 0; round < 64; ++round) {
    HWND window = FindWindowA(kMainWindowClass, nullptr);
    if (window == nullptr) break;
    if (window != last) {
      PostMessageA(window, WM_CLOSE, 0, 0);
      ++asked;
      last = window;
    }
    for (int wait = 0; wait < 100 && IsWindow(window); ++wait) Sleep(50);
    if (IsWindow(window)) break;  // it does not close: give up rather than hang
  }
  return asked;
}

bool outlook_running_here() { return OutlookProcess::running(); }

HRESULT start_with_explorer(_Application** application) {
  if (application == nullptr) return E_POINTER;
  *application = nullptr;
  // A person's OUTLOOK.EXE on a machine that runs one Outlook process is that process when none
  // runs yet: its explorer is up before the add-ins connect, as in a process of its own.
  if (outlook_process_on() && !sx::com::served_on_machine(CLSID_OutlookApplication)) {
    sx::com::serve_for_machine(CLSID_OutlookApplication);
  }
  {
    std::lock_guard lock(current().mutex);
    current().explorer_at_start = true;
  }
  const HRESULT hr = CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                                      _Application::kIid, reinterpret_cast<void**>(application));
  bool started_now = false;
  {
    std::lock_guard lock(current().mutex);
    started_now = !std::exchange(current().explorer_at_start, false);
  }
  if (FAILED(hr) || started_now) return hr;
  // Outlook ran already: a new explorer on its default folder.
  sx::com::ComPtr<_NameSpace> ns;
  sx::com::ComPtr<MAPIFolder> inbox;
  sx::com::ComPtr<_Explorers> explorers;
  sx::com::ComPtr<_Explorer> explorer;
  sx::com::Bstr mapi = sx::com::Bstr::from_utf8("MAPI");
  VARIANT folder;
  VariantInit(&folder);
  HRESULT step = (*application)->GetNamespace(mapi.get(), ns.GetAddressOf());
  if (SUCCEEDED(step)) step = ns->GetDefaultFolder(olFolderInbox, inbox.GetAddressOf());
  if (SUCCEEDED(step)) step = (*application)->get_Explorers(explorers.GetAddressOf());
  if (SUCCEEDED(step)) {
    folder.vt = VT_DISPATCH;
    folder.pdispVal = inbox.Get();
    step = explorers->Add(folder, olFolderDisplayNormal, explorer.GetAddressOf());
  }
  if (SUCCEEDED(step)) step = explorer->Display();
  if (FAILED(step)) {
    (*application)->Release();
    *application = nullptr;
  }
  return step;
}

int serve_for_machine() {
  // Started for the machine, it serves every process of it: its class object is published
  // although the stand-in of every process is linked in here too.
  sx::com::serve_for_machine(CLSID_OutlookApplication);
  if (FAILED(OutlookProcess::start())) return 1;
  // The process that started it connects at once; one that died before it could leaves an
  // Outlook nobody will ever let go of, which ends after a while instead.
  OutlookProcess::wait_until_ended(kUnclaimedLimitMs);
  return 0;
}

void register_server() {
  sx::com::register_local_server(CLSID_OutlookApplication, [](IClassFactory** factory) {
    *factory = nullptr;  // the started Outlook registers its class object itself
    return OutlookProcess::start();
  });
}

namespace {
const bool registered_at_load = (register_server(), true);
}  // namespace

}  // namespace sx::outlook
