#include "outlook_assistant.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "com/bstr.h"
#include "com/com_error.h"
#include "com/errorinfo.h"
#include "com/runtime.h"
#include "hotsync/syncmgr.h"
#include "note_database.h"
#include "win32/registry.h"

namespace sx::conduit {
namespace {

constexpr char kCreateContext[] = "Error: Unable to create assistant.";
constexpr char kCommandContext[] = "Error Communicating with Outlook.";
constexpr DWORD kSliceMs = 100;
constexpr int kSlicesPerPreferenceRead = 100;

// Wait slices left before the next keep-alive read; shared by every wait of the process.
std::atomic<int> g_keep_alive{kSlicesPerPreferenceRead};
std::atomic<std::uint64_t> g_keep_alive_reads{0};

}  // namespace

void reset_keep_alive_counter() { g_keep_alive = kSlicesPerPreferenceRead; }
std::uint64_t keep_alive_reads() { return g_keep_alive_reads; }

OutlookAssistant::OutlookAssistant() {
  request_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  reply_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&start_lock_);
}

OutlookAssistant::~OutlookAssistant() {
  try {
    if (component_held_) (void)UnloadOutlook();
    Stop();
    join_worker();
  } catch (...) {
  }
  DeleteCriticalSection(&start_lock_);
  if (request_ != nullptr) CloseHandle(request_);
  if (reply_ != nullptr) CloseHandle(reply_);
}

// --- The run thread's side

void OutlookAssistant::start_worker() {
  // A quit posted by Stop may still wait in the request: the old worker takes it and ends first,
  // so that the next command cannot overwrite it.
  if (quit_posted_) join_worker();
  quit_posted_ = false;
  for (;;) {
    if (thread_ == nullptr) {
      running_ = 1;  // the worker's first act; set here too so that a Stop before it starts counts
      thread_ = CreateThread(nullptr, 0, &OutlookAssistant::worker_main, this, 0, nullptr);
      if (thread_ == nullptr) running_ = 0;
      return;
    }
    EnterCriticalSection(&start_lock_);
    const bool running = running_ == 1;
    LeaveCriticalSection(&start_lock_);
    if (running) return;
    join_worker();
  }
}

void OutlookAssistant::join_worker() {
  if (thread_ == nullptr) return;
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  // An ended worker's last reply answers nothing, and a request it never took (its component
  // could not be made) is posted again by the command that starts the next worker.
  ResetEvent(reply_);
  ResetEvent(request_);
}

void OutlookAssistant::post(int command, VARIANT* const* args, int count) {
  if (running_ != 1 || quit_posted_) start_worker();
  for (int i = 0; i < kSlots; ++i) slots_[i] = i < count ? args[i] : nullptr;
  command_ = command;
  ++commands_posted_;
  SetEvent(request_);
}

long OutlookAssistant::wait_reply() {
  for (;;) {
    if (--g_keep_alive < 0) {
      BYTE buffer[1000];
      DWORD size = sizeof buffer;
      (void)SyncReadAppPreference(kScribbixCreator, 0, FALSE, buffer, &size);
      g_keep_alive = kSlicesPerPreferenceRead;
      ++g_keep_alive_reads;
    }
    SyncYieldCycles(1);
    if (WaitForSingleObject(reply_, kSliceMs) == WAIT_OBJECT_0) break;
  }
  ResetEvent(reply_);
  return result_;
}

long OutlookAssistant::post_and_wait(int command, VARIANT* const* args, int count) {
  post(command, args, count);
  if (thread_ == nullptr) {
    // No thread could be started: nobody will answer.
    std::lock_guard lock(error_lock_);
    last_error_ = kCreateContext;
    return -1;
  }
  return wait_reply();
}

long OutlookAssistant::IsOutlookLoaded() { return post_and_wait(kIsOutlookLoaded); }
long OutlookAssistant::LoadOutlook() { return post_and_wait(kLoadOutlook); }
long OutlookAssistant::UnloadOutlook() { return post_and_wait(kUnloadOutlook); }
long OutlookAssistant::LogonOutlook(VARIANT* profile) {
  VARIANT* args[] = {profile};
  return post_and_wait(kLogonOutlook, args, 1);
}
long OutlookAssistant::GetScribbixFolder() { return post_and_wait(kGetScribbixFolder); }
long OutlookAssistant::BeginItem() { return post_and_wait(kBeginItem); }
long OutlookAssistant::NextItem() { return post_and_wait(kNextItem); }
long OutlookAssistant::EndItem() { return post_and_wait(kEndItem); }

long OutlookAssistant::ReadItem(VARIANT* key, VARIANT* date, VARIANT* create, VARIANT* modify,
                                VARIANT* body, VARIANT* category, VARIANT* contact, VARIANT* sense,
                                VARIANT* flag) {
  VARIANT* args[] = {key, date, create, modify, body, category, contact, sense, flag};
  return post_and_wait(kReadItem, args, kSlots);
}

long OutlookAssistant::NewItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body,
                               VARIANT* category, VARIANT* contact, VARIANT* sense, VARIANT* flag) {
  VARIANT format;
  VariantInit(&format);
  format.vt = VT_R8;
  format.dblVal = format_mode_.load();
  VARIANT* args[] = {key, date, subject, body, category, contact, sense, flag, &format};
  const long result = post_and_wait(kNewItem, args, kSlots);
  com::throw_if_failed(VariantClear(&format));
  return result;
}

long OutlookAssistant::UpdateItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body,
                                  VARIANT* category, VARIANT* contact, VARIANT* sense,
                                  VARIANT* flag) {
  VARIANT format;
  VariantInit(&format);
  format.vt = VT_R8;
  format.dblVal = format_mode_.load();
  VARIANT* args[] = {key, date, subject, body, category, contact, sense, flag, &format};
  const long result = post_and_wait(kUpdateItem, args, kSlots);
  com::throw_if_failed(VariantClear(&format));
  return result;
}

long OutlookAssistant::DeleteItem(VARIANT* key) {
  VARIANT* args[] = {key};
  return post_and_wait(kDeleteItem, args, 1);
}

void OutlookAssistant::Stop() {
  if (running_ != 1 || thread_ == nullptr) return;
  command_ = kQuit;
  quit_posted_ = true;
  SetEvent(request_);
}

std::string OutlookAssistant::GetLastErrorText() const {
  std::lock_guard lock(error_lock_);
  return last_error_;
}

// --- The worker

DWORD WINAPI OutlookAssistant::worker_main(LPVOID self) {
  try {
    static_cast<OutlookAssistant*>(self)->worker();
  } catch (...) {
    // Nothing may leave the thread; the reply below is already given by worker() where it can be.
  }
  return 0;
}

void OutlookAssistant::worker() {
  running_ = 1;
  const HRESULT init = CoInitialize(nullptr);
  if (!create_component()) {
    // A command posted meanwhile is answered with -1, as the quit command answers.
    result_ = -1;
    EnterCriticalSection(&start_lock_);
    running_ = 0;
    LeaveCriticalSection(&start_lock_);
  }
  while (running_ == 1) {
    WaitForSingleObject(request_, INFINITE);
    const int command = command_;
    if (command < kIsOutlookLoaded || command > kDeleteItem) {
      result_ = -1;
      running_ = 0;
      break;
    }
    execute(command);
    SetEvent(reply_);
  }
  SetEvent(reply_);
  if (component_ != nullptr) {
    component_->Release();
    component_ = nullptr;
  }
  component_held_ = false;
  if (SUCCEEDED(init)) CoUninitialize();
}

// Whether a command's result (not its HRESULT) reports a failure.
bool OutlookAssistant::failed_result(int command, long result) const {
  switch (command) {
    case kUpdateItem:
      return result != 0;
    case kIsOutlookLoaded:
      return false;
    default:
      return result < 0;
  }
}

// The error the component kept for a failure it reports in its result (its error information).
void OutlookAssistant::take_component_error() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return;
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  char text[4096];
  std::snprintf(text, sizeof text, "Database Access Error: %s\nSource = %s\nDescription = %s\n",
                kCommandContext, com::bstr_to_utf8(source).c_str(),
                com::bstr_to_utf8(description).c_str());
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  std::lock_guard lock(error_lock_);
  last_error_ = text;
}

void OutlookAssistant::set_error(const char* context, HRESULT hr, const char* source,
                                 const char* description) {
  char text[4096];
  std::snprintf(text, sizeof text,
                "Database Access Error: %s\nCode = %08lx\nCode meaning = %s\nSource = %s\n"
                "Description = %s\n",
                context, static_cast<unsigned long>(static_cast<DWORD>(hr)),
                com::error_message(hr).c_str(), source != nullptr ? source : "",
                description != nullptr ? description : "");
  std::lock_guard lock(error_lock_);
  last_error_ = text;
}

bool OutlookAssistant::create_component() {
  try {
    CLSID clsid{};
    const std::u16string progid = com::utf8_to_u16(scribbixout::kClass1ProgId);
    com::throw_if_failed(CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progid.c_str()), &clsid));
    com::ComPtr<IUnknown> object;
    com::throw_if_failed(
        CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IUnknown::kIid, object.PutVoid()));
    com::throw_if_failed(OleRun(object.Get()));
    void* found = nullptr;
    const HRESULT hr = object->QueryInterface(_Class1::kIid, &found);
    if (FAILED(hr) && hr != E_NOINTERFACE) com::issue_error(hr);
    component_ = static_cast<_Class1*>(found);
  } catch (const com::ComError& e) {
    set_error(kCreateContext, e.Error(), e.Source(), e.Description());
  } catch (...) {
    set_error(kCreateContext, E_UNEXPECTED, nullptr, nullptr);
  }
  if (component_ == nullptr) {
    if (GetLastErrorText().empty()) {
      std::lock_guard lock(error_lock_);
      last_error_ = kCreateContext;
    }
    return false;
  }
  component_held_ = true;
  return true;
}

void OutlookAssistant::execute(int command) {
  LONG out = 0;
  VARIANT** s = slots_;
  // The text of the last error is this command's: an older one would name a failure that has
  // nothing to do with it.
  {
    std::lock_guard lock(error_lock_);
    last_error_.clear();
  }
  SetErrorInfo(0, nullptr);
  try {
    if (component_ == nullptr) com::issue_error(E_POINTER);
    HRESULT hr = S_OK;
    switch (command) {
      case kIsOutlookLoaded:
        hr = component_->IsOutlookLoaded(&out);
        break;
      case kLoadOutlook:
        hr = component_->LoadOutlook(&out);
        break;
      case kUnloadOutlook:
        hr = component_->UnloadOutlook(&out);
        break;
      case kLogonOutlook:
        hr = component_->LogonOutlook(s[0], &out);
        break;
      case kGetScribbixFolder:
        hr = component_->GetScribbixFolder(&out);
        break;
      case kBeginItem:
        hr = component_->BeginItem(&out);
        break;
      case kNextItem:
        hr = component_->NextItem(&out);
        break;
      case kEndItem:
        hr = component_->EndItem(&out);
        break;
      case kReadItem:
        hr = component_->ReadItem(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], &out);
        break;
      case kNewItem:
        hr = component_->NewItem(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], &out);
        break;
      case kUpdateItem:
        hr = component_->UpdateItem(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], &out);
        break;
      case kDeleteItem:
        hr = component_->DeleteItem(s[0], &out);
        break;
      default:
        break;
    }
    com::throw_if_failed(hr);
    result_ = out;
    if (command == kLoadOutlook && out == 0) format_probe();
    if (failed_result(command, out)) take_component_error();
  } catch (const com::ComError& e) {
    set_error(kCommandContext, e.Error(), e.Source(), e.Description());
    result_ = -1;
  } catch (...) {
    set_error(kCommandContext, E_UNEXPECTED, nullptr, nullptr);
    result_ = -1;
  }
}

void OutlookAssistant::format_probe() {
  HKEY install = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, KEY_ALL_ACCESS,
                    &install) != ERROR_SUCCESS) {
    install = nullptr;
  }
  VARIANT version;
  VariantInit(&version);
  LONG major = 0;
  const HRESULT hr = component_->OutlookVersionString(&version, &major);
  VariantClear(&version);
  if (SUCCEEDED(hr) && major > 9) {
    DWORD preference = 0;
    bool read = false;
    HKEY mail = nullptr;
    if (RegOpenKeyExA(HKEY_USERS,
                      ".Default\\Software\\Microsoft\\Office\\10.0\\Outlook\\Options\\Mail", 0,
                      KEY_READ, &mail) == ERROR_SUCCESS) {
      DWORD size = sizeof preference, type = 0;
      read = RegQueryValueExA(mail, "EditorPreferences", nullptr, &type,
                              reinterpret_cast<BYTE*>(&preference), &size) == ERROR_SUCCESS &&
             type == REG_DWORD;
      RegCloseKey(mail);
    }
    // Outlook 10 without a recorded editor choice writes plain text and HTML, as "other" does.
    const int mode = !read ? 2 : preference == 1 ? -1 : preference == 0x20003 ? 3 : 2;
    format_mode_ = mode;
    if (install != nullptr) {
      const DWORD value = static_cast<DWORD>(mode);
      RegSetValueExA(install, "FormatMode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
    }
  }
  if (install != nullptr) RegCloseKey(install);
  if (FAILED(hr)) com::issue_error(hr);
}

}  // namespace sx::conduit
