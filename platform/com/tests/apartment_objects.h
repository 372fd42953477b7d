// Objects and threads for the tests of calls between apartments: a counter interface declared from
// a member list (so it has a proxy), its apartment-threaded implementation, and a server thread
// that runs a message loop in its own apartment.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "comdef.h"
#include "sx/clock.h"
#include "win32/sync.h"
#include "win32/window.h"

struct ICounter;

#define SX_TEST_COUNTER_MEMBERS(M)                                           \
  M(Add, (LONG, amount), (LONG*, total))                                     \
  M(get_Name, (BSTR*, name))                                                 \
  M(Echo, (VARIANT, value), (VARIANT*, echoed))                              \
  /* A new counter of this apartment. */                                     \
  M(MakeChild, (ICounter**, child))                                          \
  /* Calls `other`'s Add(1) once and tells the total it answered. */         \
  M(CallBack, (ICounter*, other), (LONG*, total))                            \
  /* Whether `other` is this very object (compared as the object itself). */ \
  M(IsSelf, (IUnknown*, other), (VARIANT_BOOL*, same))                       \
  /* Fails with E_FAIL and error information "Counter"/"It failed." */       \
  M(Fail)                                                                    \
  /* Blocks for `ms` on the clock, for the tests of serialised calls. */     \
  M(Busy, (LONG, ms))                                                        \
  /* Ends the message loop of the thread it lives on. */                     \
  M(Quit)

struct ICounter : IUnknown {
  static constexpr IID kIid = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E31}");
  using Base = IUnknown;
  SX_COM_MEMBERS(SX_TEST_COUNTER_MEMBERS)

 protected:
  ~ICounter() = default;
};

// An interface without a registered proxy.
struct IUnproxied : IUnknown {
  static constexpr IID kIid = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E32}");
  using Base = IUnknown;
  STDMETHOD(Nothing)() = 0;

 protected:
  ~IUnproxied() = default;
};

namespace apartment_test {

struct Trace {
  std::atomic<int> running{0};       // calls inside the object right now
  std::atomic<int> most_running{0};  // the most at once
  std::atomic<int> destroyed{0};
  std::atomic<int> destroyed_when_added{-1};  // `destroyed` as the last Add began
  std::thread::id destroyed_on;
  HWND post_on_add = nullptr;  // Add posts WM_APP here, as a server posts itself work for later
};

class Counter : public sx::com::ComObject<ICounter, IUnproxied> {
 public:
  explicit Counter(Trace* trace = nullptr, std::string name = "counter")
      : trace_(trace), name_(std::move(name)) {}
  ~Counter() override {
    if (trace_ != nullptr) {
      trace_->destroyed_on = std::this_thread::get_id();
      ++trace_->destroyed;
    }
  }

  STDMETHODIMP Add(LONG amount, LONG* total) override {
    SX_COM_CHECK_THREAD();
    threads.push_back(std::this_thread::get_id());
    if (trace_ != nullptr) trace_->destroyed_when_added = trace_->destroyed.load();
    total_ += amount;
    if (total != nullptr) *total = total_;
    if (trace_ != nullptr && trace_->post_on_add != nullptr)
      PostMessageA(trace_->post_on_add, WM_APP, 0, 0);
    return S_OK;
  }
  STDMETHODIMP get_Name(BSTR* name) override {
    SX_COM_CHECK_THREAD();
    *name = sx::com::Bstr::from_utf8(name_).detach();
    return S_OK;
  }
  STDMETHODIMP Echo(VARIANT value, VARIANT* echoed) override {
    SX_COM_CHECK_THREAD();
    VariantInit(echoed);
    return VariantCopy(echoed, &value);
  }
  STDMETHODIMP MakeChild(ICounter** child) override {
    SX_COM_CHECK_THREAD();
    *child = sx::com::make_object<Counter>(trace_, name_ + ".child").Detach();
    return S_OK;
  }
  STDMETHODIMP CallBack(ICounter* other, LONG* total) override {
    SX_COM_CHECK_THREAD();
    return other->Add(1, total);
  }
  STDMETHODIMP IsSelf(IUnknown* other, VARIANT_BOOL* same) override {
    SX_COM_CHECK_THREAD();
    *same = other == identity() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP Fail() override {
    SX_COM_CHECK_THREAD();
    return sx::com::report_error(E_FAIL, "Counter", "It failed.");
  }
  STDMETHODIMP Busy(LONG ms) override {
    SX_COM_CHECK_THREAD();
    if (trace_ != nullptr) {
      const int now = ++trace_->running;
      int most = trace_->most_running;
      while (now > most && !trace_->most_running.compare_exchange_weak(most, now)) {
      }
    }
    Sleep(static_cast<DWORD>(ms));
    if (trace_ != nullptr) --trace_->running;
    return S_OK;
  }
  STDMETHODIMP Quit() override {
    SX_COM_CHECK_THREAD();
    PostQuitMessage(0);
    return S_OK;
  }
  STDMETHODIMP Nothing() override { return S_OK; }

  std::vector<std::thread::id> threads;

 private:
  Trace* trace_;
  std::string name_;
  LONG total_ = 0;
};

// A thread in an apartment of its own (STA) with a message loop: `setup` runs first on it (to
// make its objects), then the loop runs until the thread gets WM_QUIT, then `teardown`.
class ServerThread {
 public:
  // `serving_loop`: the thread runs sx::com::run_message_loop rather than a plain GetMessage loop.
  explicit ServerThread(std::function<void()> setup, std::function<void()> teardown = {},
                        bool serving_loop = false)
      : setup_(std::move(setup)), teardown_(std::move(teardown)), serving_loop_(serving_loop) {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &ServerThread::run, this, 0, &id_);
    WaitForSingleObject(ready_, INFINITE);
  }
  ~ServerThread() { join(); }
  void join() {
    if (thread_ == nullptr) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(ready_);
    thread_ = nullptr;
  }
  std::thread::id id() const { return thread_id_; }

 private:
  static DWORD WINAPI run(LPVOID self_pointer) {
    auto* self = static_cast<ServerThread*>(self_pointer);
    CoInitialize(nullptr);
    self->thread_id_ = std::this_thread::get_id();
    self->setup_();
    SetEvent(self->ready_);
    if (self->serving_loop_) {
      sx::com::run_message_loop();
    } else {
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    }
    if (self->teardown_) self->teardown_();
    CoUninitialize();
    return 0;
  }

  std::function<void()> setup_;
  std::function<void()> teardown_;
  bool serving_loop_ = false;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
  std::thread::id thread_id_;
};

// A thread of its own (a participant of virtual time) running `body`; join() waits on the clock,
// so that time can pass for the others meanwhile.
class ClientThread {
 public:
  explicit ClientThread(std::function<void()> body) : body_(std::move(body)) {
    thread_ = CreateThread(nullptr, 0, &ClientThread::run, this, 0, nullptr);
  }
  ~ClientThread() { join(); }
  void join() {
    if (thread_ == nullptr) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }

 private:
  static DWORD WINAPI run(LPVOID self) {
    static_cast<ClientThread*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  HANDLE thread_ = nullptr;
};

}  // namespace apartment_test
