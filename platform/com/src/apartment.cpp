// CoInitialize(Ex) / CoUninitialize: which apartment each thread is in; the queue of calls into an
// apartment and how its thread runs them; waiting for a call to another apartment.
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "apartment_internal.h"
#include "com/runtime.h"
#include "sx/clock.h"
#include "sx/waitable.h"
#include "sx/window.h"
#include "win32/sync.h"
#include "win32/window.h"

namespace sx::com::detail {
namespace {

// Posted to an apartment's window when calls wait for it.
constexpr UINT kIncomingCalls = WM_APP + 0x3C0;
constexpr char kWindowClass[] = "SxComApartment";

// Kernel lock held: the calls still queued for an apartment that ends are given up. Those nobody
// waits for are left in `detached`, for finish_detached_call once the lock is released.
void give_up_incoming(Apartment& apartment, std::vector<IncomingCall*>* detached) {
  for (IncomingCall* call : apartment.incoming) {
    call->dropped = true;
    if ((call->finish_state() & IncomingCall::kDetached) != 0) detached->push_back(call);
    // everyone waiting is notified below
  }
  apartment.incoming.clear();
}

void finish_detached(const std::vector<IncomingCall*>& detached) {
  for (IncomingCall* call : detached) finish_detached_call(call);
}

struct ThreadApartment {
  ApartmentKind kind = ApartmentKind::kNone;
  int count = 0;
  std::shared_ptr<Apartment> state;

  // A thread that ends inside its apartment: calls still queued for it are given up.
  ~ThreadApartment() {
    if (state && state->kind == ApartmentKind::kSingleThreaded) {
      std::vector<IncomingCall*> detached;
      {
        auto guard = sx::kernel::lock();
        state->alive = false;
        give_up_incoming(*state, &detached);
        sx::kernel::notify_all();
      }
      finish_detached(detached);
    }
  }
};

thread_local ThreadApartment t_apartment;

// A call across apartments is a handoff between two threads, and most answers (and most next
// calls of a caller walking a collection) come within microseconds. Going to sleep and being woken
// costs tens of microseconds, so both sides first watch for a little while without the lock.
constexpr auto kWatch = std::chrono::microseconds(50);
constexpr auto kWatchBeforeYield = std::chrono::microseconds(10);

// Watches `seen()` for up to kWatch; true when it came. Not on a single processor, where the
// thread watched for cannot run meanwhile.
template <class Seen>
bool watch_briefly(Seen seen) {
  static const bool several_cpus = std::thread::hardware_concurrency() > 1;
  if (!several_cpus) return seen();
  const auto start = std::chrono::steady_clock::now();
  for (unsigned i = 1;; ++i) {
    if (seen()) return true;
    if (i % 64 == 0) {
      const auto waited = std::chrono::steady_clock::now() - start;
      if (waited >= kWatch) return seen();
      // On a busy machine the thread watched for may be queued behind this one.
      if (waited >= kWatchBeforeYield) std::this_thread::yield();
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

// On the apartment's thread, after it served a call: watches for the next one for a moment, with
// its handoff slot open. Callers meanwhile need neither the kernel lock nor to wake it: a caller
// puts its call in the slot, and one that finds the slot closed queues its call and bumps
// `arrivals`. A call taken from the slot joins the queue behind those already there, as if it had
// been queued at that moment; whatever comes after the watch is found by the wait that follows,
// which looks at the queue first.
bool watch_for_next_call(Apartment& apartment) {
  std::uint64_t seen = 0;
  {
    auto guard = sx::kernel::lock();
    if (!apartment.alive) return false;
    if (has_runnable_incoming(apartment)) return true;
    apartment.watching = true;
    seen = apartment.arrivals.load(std::memory_order_relaxed);
  }
  apartment.handoff.store(handoff::kOpen, std::memory_order_release);
  RemoteCallWatch remote = begin_remote_call_watch();
  watch_briefly([&] {
    return apartment.handoff.load(std::memory_order_acquire) != handoff::kOpen ||
           apartment.arrivals.load(std::memory_order_acquire) != seen ||
           (remote.slots != nullptr && remote_call_came(remote));
  });
  const std::uintptr_t handed = apartment.handoff.exchange(handoff::kClosed);
  if (handed != handoff::kOpen) {
    auto guard = sx::kernel::lock();
    apartment.incoming.push_back(reinterpret_cast<IncomingCall*>(handed));
  }
  // What came in the call slot is queued behind it into its apartment: the references given back
  // first, as they were sent, then the call.
  end_remote_call_watch(remote);
  auto guard = sx::kernel::lock();
  apartment.watching = false;
  return has_runnable_incoming(apartment);
}

// A message that the serving loop takes from the queue. A wake-up for calls is not needed there
// (the loop runs the calls itself, in order) and would run calls that came after the messages
// behind it. Any other message may run a modal loop, which knows nothing of calls: calls waiting
// meanwhile get a wake-up queued behind it.
void dispatch_in_serving_loop(Apartment& apartment, const MSG& msg) {
  HWND wake = nullptr;
  {
    auto guard = sx::kernel::lock();
    if (msg.message == kIncomingCalls && msg.hwnd == apartment.window) {
      apartment.wake_posted = false;
      return;
    }
    if (has_runnable_incoming(apartment) && !apartment.wake_posted && apartment.window != nullptr) {
      apartment.wake_posted = true;
      wake = apartment.window;
    }
  }
  if (wake != nullptr) PostMessageA(wake, kIncomingCalls, 0, 0);
  DispatchMessageA(&msg);
}

// Stops watching `call`: true when it was finished already. Otherwise whoever finishes it sees that
// nobody watches and notifies the wait that follows.
bool unwatch(IncomingCall& call) {
  const unsigned state = call.state.fetch_and(~IncomingCall::kWatching, std::memory_order_acq_rel);
  return (state & IncomingCall::kDone) != 0;
}

// On the calling thread, after it queued `call` (made with kWatching set): watches for the answer
// for a moment, and stops early when a call comes into its own apartment (which it must serve
// meanwhile).
bool watch_for_answer(Apartment* me, IncomingCall& call) {
  const std::uint64_t arrivals = me != nullptr ? me->arrivals.load(std::memory_order_acquire) : 0;
  const bool answered = watch_briefly([&] {
    return call.done() ||
           (me != nullptr && me->arrivals.load(std::memory_order_acquire) != arrivals);
  });
  if (answered && call.done()) return true;  // finished: nobody touches `call` any more
  return unwatch(call);
}

std::shared_ptr<Apartment> multithreaded_apartment() {
  static auto* mta = new std::shared_ptr<Apartment>(
      std::make_shared<Apartment>(ApartmentKind::kMultiThreaded));  // lives as long as the process
  return *mta;
}

LRESULT CALLBACK apartment_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kIncomingCalls) {
    if (Apartment* apartment = current_apartment_raw()) serve_incoming(*apartment);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Ends a single-threaded apartment on its thread (the last CoUninitialize): calls still queued
// are given up, proxies it holds let go of their objects, proxies others hold to its objects are
// cut, and its window goes.
void end_apartment(Apartment& apartment) {
  std::vector<IncomingCall*> detached;
  {
    auto guard = sx::kernel::lock();
    apartment.alive = false;
    give_up_incoming(apartment, &detached);
    sx::kernel::notify_all();
  }
  finish_detached(detached);
  release_proxies_held_by(apartment);
  give_back_remote_references();
  disconnect_exports(apartment);
  apartment.on_last_release = nullptr;
  HWND window = nullptr;
  {
    auto guard = sx::kernel::lock();
    window = std::exchange(apartment.window, nullptr);
  }
  if (window != nullptr) DestroyWindow(window);
}

// While it lives, the apartment's thread waits in a loop that runs incoming calls by itself:
// callers need not post it a wake-up message, a notification will do. On leaving, calls that came
// in meanwhile and are still waiting get their message.
class Serving {
 public:
  explicit Serving(Apartment* apartment) : apartment_(apartment) {
    if (apartment_ == nullptr) return;
    auto guard = sx::kernel::lock();
    previous_ = std::exchange(apartment_->serving, true);
  }
  ~Serving() {
    if (apartment_ == nullptr) return;
    HWND wake = nullptr;
    {
      auto guard = sx::kernel::lock();
      apartment_->serving = previous_;
      if (!previous_ && !apartment_->wake_posted && apartment_->window != nullptr &&
          has_runnable_incoming(*apartment_)) {
        apartment_->wake_posted = true;
        wake = apartment_->window;
      }
    }
    if (wake != nullptr) PostMessageA(wake, kIncomingCalls, 0, 0);
  }
  Serving(const Serving&) = delete;
  Serving& operator=(const Serving&) = delete;

 private:
  Apartment* apartment_;
  bool previous_ = false;
};

// Dispatches the thread's messages until `ready()` holds, as pump_until does, but counts as
// serving its apartment only while it waits, not while a message is dispatched (which may run a
// modal loop that knows nothing of calls).
sx::window::PumpEnd pump_serving(Apartment* me, const std::function<bool()>& ready,
                                 std::int64_t deadline = sx::kernel::kNoDeadline) {
  for (;;) {
    sx::window::WaitEnd waited;
    {
      Serving serving(me);
      waited = sx::window::wait_for_input(ready, deadline);
    }
    if (waited == sx::window::WaitEnd::kDone) return sx::window::PumpEnd::kDone;
    if (waited == sx::window::WaitEnd::kDeadline) return sx::window::PumpEnd::kDeadline;
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) continue;  // a sent message, answered
    if (msg.message == WM_QUIT) return sx::window::PumpEnd::kQuit;  // left for the thread's loop
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

// Waits until `call` was answered; a single-threaded apartment keeps dispatching its messages and
// running the calls that come into it meanwhile.
void wait_for(Apartment* me, const IncomingCall& call) {
  const bool single = me != nullptr && me->kind == ApartmentKind::kSingleThreaded;
  auto ready = [&] { return call.done() || (single && has_runnable_incoming(*me)); };
  bool pumping = single;
  for (;;) {
    if (pumping && pump_serving(me, ready) == sx::window::PumpEnd::kQuit) pumping = false;
    if (!pumping) {
      auto guard = sx::kernel::lock();
      sx::kernel::wait_until(guard, ready, sx::kernel::kNoDeadline);
    }
    {
      auto guard = sx::kernel::lock();
      if (call.done()) return;
    }
    serve_incoming(*me);
  }
}

}  // namespace

std::shared_ptr<Apartment> current_apartment_state() { return t_apartment.state; }
Apartment* current_apartment_raw() { return t_apartment.state.get(); }

bool has_runnable_incoming(const Apartment& apartment) {
  if (apartment.hold == 0) return !apartment.incoming.empty();
  for (const auto& call : apartment.incoming) {
    if (call->references) return true;
  }
  return false;
}

namespace {

// Queues `call` for `target` and wakes its thread if need be; false when `target` has ended.
bool queue_call(Apartment& target, IncomingCall& call) {
  HWND wake = nullptr;
  {
    auto guard = sx::kernel::lock();
    if (!target.alive) return false;
    target.incoming.push_back(&call);
    target.arrivals.fetch_add(1, std::memory_order_release);
    if (!target.watching) {
      if (!target.serving && !target.wake_posted && target.window != nullptr) {
        target.wake_posted = true;
        wake = target.window;
      }
      sx::kernel::notify_all();
    }
  }
  if (wake != nullptr) PostMessageA(wake, kIncomingCalls, 0, 0);
  return true;
}

// Hands `call` to `target`'s thread and waits until it ran or was given up.
HRESULT hand_over(Apartment& target, IncomingCall& call) {
  Apartment* me = current_apartment_raw();
  std::uintptr_t open = handoff::kOpen;
  const bool handed = target.handoff.compare_exchange_strong(
      open, reinterpret_cast<std::uintptr_t>(&call), std::memory_order_acq_rel);
  if (!handed && !queue_call(target, call)) return RPC_E_DISCONNECTED;
  if (!watch_for_answer(me, call)) wait_for(me, call);
  return call.dropped ? RPC_E_DISCONNECTED : S_OK;
}

}  // namespace

bool post_detached(Apartment& target, IncomingCall& call) {
  std::uintptr_t open = handoff::kOpen;
  if (target.handoff.compare_exchange_strong(open, reinterpret_cast<std::uintptr_t>(&call),
                                             std::memory_order_acq_rel)) {
    return true;
  }
  return queue_call(target, call);
}

void wait_until_done(IncomingCall& call, bool watch_first) {
  Apartment* me = current_apartment_raw();
  if (watch_first ? watch_for_answer(me, call) : unwatch(call)) return;
  wait_for(me, call);
}

bool watch_briefly_for(FunctionRef<bool()> seen) { return watch_briefly(seen); }

namespace {

// The deferred releases of `me` whose home is `target`, taken out of its list.
std::vector<DeferredRelease> take_deferred_releases(Apartment& me, const Apartment* target) {
  std::vector<DeferredRelease> going;
  auto keep = me.deferred_releases.begin();
  for (auto& release : me.deferred_releases) {
    if (release.home.get() == target) {
      going.push_back(std::move(release));
    } else {
      *keep++ = std::move(release);
    }
  }
  me.deferred_releases.erase(keep, me.deferred_releases.end());
  return going;
}

// Whether the work running on this thread came from another process (a detached call), for
// in_call_from_another_process.
thread_local bool t_from_another_process = false;

// Runs `call` on the apartment's thread: the references given back first, then the work.
void run_incoming(Apartment& apartment, IncomingCall& call) {
  for (std::size_t i = 0; i < call.release_count; ++i) {
    const DeferredRelease& r = call.releases[i];
    release_export(apartment, r.identity, r.serial, r.connections);
  }
  struct Origin {
    bool before;
    ~Origin() { t_from_another_process = before; }
  } origin{t_from_another_process};
  t_from_another_process =
      (call.state.load(std::memory_order_relaxed) & IncomingCall::kDetached) != 0;
  if (call.object == nullptr) {
    call.work();
    return;
  }
  if (find_export(apartment, call.object, call.object_serial) == nullptr) {
    call.gone = true;
    return;
  }
  SetErrorInfo(0, nullptr);
  call.work();
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK) call.error = info;
}

// Runs `call` in `target`, at once when that is the caller's own apartment. References this
// apartment gave back to `target` go along, ahead of the work, in the order they were given back.
HRESULT call_in_apartment(const std::shared_ptr<Apartment>& target, IncomingCall& call) {
  Apartment* me = current_apartment_raw();
  if (target.get() == me) {
    run_incoming(*target, call);
    return S_OK;
  }
  std::vector<DeferredRelease> going;
  if (me != nullptr && !me->deferred_releases.empty()) {
    going = take_deferred_releases(*me, target.get());
    call.releases = going.data();
    call.release_count = going.size();
  }
  return hand_over(*target, call);
}

}  // namespace

HRESULT call_in(const std::shared_ptr<Apartment>& target, WorkRef work, bool references) {
  IncomingCall call(work, references, IncomingCall::kWatching);
  return call_in_apartment(target, call);
}

HRESULT call_object(const std::shared_ptr<Apartment>& target, IUnknown* object,
                    std::uint64_t serial, WorkRef work, ComPtr<IErrorInfo>* error) {
  IncomingCall call(work, false, IncomingCall::kWatching);
  call.object = object;
  call.object_serial = serial;
  const HRESULT delivered = call_in_apartment(target, call);
  if (call.error != nullptr) error->Attach(call.error);
  if (FAILED(delivered)) return delivered;
  return call.gone ? RPC_E_DISCONNECTED : S_OK;
}

void send_deferred_releases(Apartment& apartment) {
  while (!apartment.deferred_releases.empty()) {
    const std::shared_ptr<Apartment> next = apartment.deferred_releases.front().home;
    (void)call_in(
        next, [] {}, true);  // takes every release waiting for `next` along
    // None is left, unless that home ended meanwhile (its end cut them already).
    (void)take_deferred_releases(apartment, next.get());
  }
}

bool serve_next_incoming(Apartment& apartment) {
  IncomingCall* call = nullptr;
  {
    auto guard = sx::kernel::lock();
    auto next = apartment.incoming.begin();
    if (apartment.hold > 0) {  // held: only reference counting runs
      while (next != apartment.incoming.end() && !(*next)->references) ++next;
    }
    if (next == apartment.incoming.end()) {
      apartment.wake_posted = false;
      return false;
    }
    call = *next;
    apartment.incoming.erase(next);
  }
  try {
    run_incoming(apartment, *call);
  } catch (...) {
    // The work of a proxied call catches its own failures; nothing may pass a thread boundary.
  }
  // A caller still watching sees the answer by itself. Otherwise it is in (or about to enter) a
  // wait that looks at `done` under the lock, and must be notified; a call nobody waits for is
  // answered by its owner.
  const unsigned before = call->finish_state();
  if ((before & IncomingCall::kWatching) == 0) {
    if ((before & IncomingCall::kDetached) != 0) {
      finish_detached_call(call);
    } else {
      auto guard = sx::kernel::lock();
      sx::kernel::notify_all();
    }
  }
  return true;
}

void serve_incoming(Apartment& apartment) {
  while (serve_next_incoming(apartment)) {
  }
}

void ensure_window(Apartment& apartment) {
  {
    auto guard = sx::kernel::lock();
    if (apartment.window != nullptr) return;
  }
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = apartment_window_proc;
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
  });
  HWND window =
      CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  auto guard = sx::kernel::lock();
  apartment.window = window;
}

}  // namespace sx::com::detail

namespace sx::com {

bool in_call_from_another_process() { return detail::t_from_another_process; }

ApartmentKind current_apartment() { return detail::t_apartment.kind; }

void hold_incoming_calls() {
  if (detail::Apartment* me = detail::current_apartment_raw()) ++me->hold;
}

void release_incoming_calls() {
  detail::Apartment* me = detail::current_apartment_raw();
  if (me == nullptr || me->hold == 0) return;
  if (--me->hold == 0) detail::serve_incoming(*me);
}

void on_last_external_release(std::function<void()> handler) {
  if (detail::Apartment* me = detail::current_apartment_raw()) {
    me->on_last_release = std::move(handler);
  }
}

int run_message_loop() {
  detail::Apartment* me = detail::current_apartment_raw();
  if (me != nullptr && me->kind == ApartmentKind::kSingleThreaded) {
    auto ready = [me] { return detail::has_runnable_incoming(*me); };
    // One call or one message at a time. A call found waiting runs only when no message waits
    // after it was found: then no message came before it, and the order of the one queue a real
    // apartment's thread has is kept.
    bool served = false;
    for (;;) {
      // After a call the next one usually follows within microseconds, so the loop watches for it
      // first. Messages that came meanwhile still run before it: they are looked at below.
      bool runnable = std::exchange(served, false) && detail::watch_for_next_call(*me);
      if (!runnable) {
        auto guard = sx::kernel::lock();
        runnable = detail::has_runnable_incoming(*me);
      }
      MSG msg;
      // Looking costs more than asking whether there is anything to look at.
      if ((!runnable || sx::window::input_may_wait()) &&
          PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) break;  // left for the loop below
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
          detail::dispatch_in_serving_loop(*me, msg);
        continue;
      }
      if (runnable) {
        served = detail::serve_next_incoming(*me);
        continue;
      }
      if (detail::pump_serving(me, ready) == sx::window::PumpEnd::kQuit) break;
    }
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return static_cast<int>(msg.wParam);
}

void disconnect_objects() {
  if (detail::Apartment* me = detail::current_apartment_raw()) detail::disconnect_exports(*me);
}

}  // namespace sx::com

extern "C" HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD timeout, ULONG count,
                                            LPHANDLE handles, LPDWORD index) {
  using sx::sync::Waitable;
  if (index == nullptr || (count > 0 && handles == nullptr) || (flags & ~0x2u) != 0 ||
      count > MAXIMUM_WAIT_OBJECTS)
    return E_INVALIDARG;
  *index = 0;
  try {
    std::vector<std::shared_ptr<Waitable>> objects;
    for (ULONG i = 0; i < count; ++i) {
      auto object = sx::handles::get<Waitable>(handles[i]);
      if (!object) return E_HANDLE;
      objects.push_back(std::move(object));
    }
    sx::com::detail::Apartment* me = sx::com::detail::current_apartment_raw();
    const bool single = me != nullptr && me->kind == sx::com::ApartmentKind::kSingleThreaded;
    const std::int64_t deadline =
        timeout == INFINITE ? sx::kernel::kNoDeadline : sx::clock::now_ms() + timeout;
    DWORD signalled = 0;
    auto any_signalled = [&] {
      for (DWORD i = 0; i < objects.size(); ++i) {
        if (objects[i]->signalled_locked()) {
          signalled = i;
          return true;
        }
      }
      return false;
    };
    auto ready = [&] { return any_signalled() || (single && has_runnable_incoming(*me)); };
    bool pumping = single;
    for (;;) {
      {
        auto guard = sx::kernel::lock();
        if (any_signalled()) {
          objects[signalled]->consume_locked();
          *index = signalled;
          return S_OK;
        }
        if (deadline != sx::kernel::kNoDeadline && sx::clock::now_ms() >= deadline) {
          return RPC_S_CALLPENDING;
        }
      }
      if (pumping) {
        if (sx::com::detail::pump_serving(me, ready, deadline) == sx::window::PumpEnd::kQuit)
          pumping = false;
      } else {
        auto guard = sx::kernel::lock();
        sx::kernel::wait_until(guard, ready, deadline);
      }
      if (single) sx::com::detail::serve_incoming(*me);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace {

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

extern "C" {

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD coinit) {
  using sx::com::ApartmentKind;
  if ((coinit & ~kKnownFlags) != 0) return E_INVALIDARG;
  const ApartmentKind wanted = (coinit & COINIT_APARTMENTTHREADED) != 0
                                   ? ApartmentKind::kSingleThreaded
                                   : ApartmentKind::kMultiThreaded;
  auto& a = sx::com::detail::t_apartment;
  if (a.count > 0) {
    if (a.kind != wanted) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  try {
    a.state = wanted == ApartmentKind::kSingleThreaded
                  ? std::make_shared<sx::com::detail::Apartment>(wanted)
                  : sx::com::detail::multithreaded_apartment();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  a.kind = wanted;
  a.count = 1;
  return S_OK;
}

void CoUninitialize() {
  auto& a = sx::com::detail::t_apartment;
  if (a.count == 0) return;
  if (--a.count == 0) {
    if (a.kind == sx::com::ApartmentKind::kSingleThreaded) {
      try {
        sx::com::detail::end_apartment(*a.state);
      } catch (...) {
        // Leaving COM never fails.
      }
    }
    a.state = nullptr;
    a.kind = sx::com::ApartmentKind::kNone;
    sx::com::detail::drop_thread_error_info();
  }
}

}  // extern "C"
