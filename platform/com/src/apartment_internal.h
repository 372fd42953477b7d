// Apartments inside the runtime: the calling thread's apartment, the queue of calls that other
// apartments make into it, and the tables of objects it lends out and proxies it holds
// (docs/com-apartments.md).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "com/errorinfo.h"
#include "com/guid.h"
#include "com/marshal.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "com/work_ref.h"
#include "win32/types.h"

namespace sx::com {
class ProxyManager;
class RemoteConnection;
}

namespace sx::com::detail {

class Apartment;

struct DeferredRelease;
class CallSlots;

// A call from another apartment, waiting to run on the apartment's thread. It lives on the caller's
// stack: the caller waits until it is finished, and whoever finishes it (the thread that ran it, or
// the end of the apartment that gives it up) touches it no more after `finish`.
//
// Everything the running thread needs to start the call lies in this one object, so that a call
// costs as few trips of memory between the two threads' caches as can be: the work, the references
// given back ahead of it, and for a call to an object the object's identity to check first. It
// fills one cache line.
struct alignas(64) IncomingCall {
  static constexpr unsigned kDone = 1;      // ran or was given up
  static constexpr unsigned kWatching = 2;  // the caller watches `state` without the kernel lock
  // Nobody waits for it (a call from another process): whoever finishes it hands it to
  // finish_detached_call, outside the kernel lock.
  static constexpr unsigned kDetached = 4;

  // A caller that will watch for its answer says so before the call is handed over, so that the
  // thread running it finds the flag already set and `state` changes hands only once each way.
  IncomingCall(WorkRef work, bool references, unsigned initial_state = 0)
      : work(work), references(references), state(initial_state) {}

  const WorkRef work;
  const bool references;  // only counts references: runs even while the apartment holds calls
  bool dropped = false;   // written before kDone: the apartment ended first
  bool gone = false;      // written before kDone: `object` was no longer lent out
  std::atomic<unsigned> state;

  // A call to an object lent out by the apartment (null for any other work): it runs only while
  // the object is still lent out, and carries back the object's error information.
  IUnknown* object = nullptr;
  std::uint64_t object_serial = 0;
  IErrorInfo* error = nullptr;  // owned by the caller once the call is done

  // References given back to this apartment, run ahead of the work.
  const DeferredRelease* releases = nullptr;
  std::size_t release_count = 0;

  bool done() const { return (state.load(std::memory_order_acquire) & kDone) != 0; }
  // Marks the call done, last thing; the state before.
  [[nodiscard]] unsigned finish_state() { return state.fetch_or(kDone, std::memory_order_acq_rel); }
  // Marks the call done, last thing; true when the caller was not watching and must be notified.
  [[nodiscard]] bool finish() { return (finish_state() & kWatching) == 0; }
};

// A detached call that ran or was given up (`dropped`); it is the finisher's to answer and free
// (remote.cpp).
void finish_detached_call(IncomingCall* call);

// The slot through which a caller hands its call straight to an apartment's thread that is
// watching for its next call: closed, open, or the call (an IncomingCall*) put there.
namespace handoff {
constexpr std::uintptr_t kClosed = 0;
constexpr std::uintptr_t kOpen = 1;
}  // namespace handoff

// References that a proxy manager gave back while its apartment still held other proxies into the
// same home: they go home with the next call there (see ProxyManager::Release).
struct DeferredRelease {
  std::shared_ptr<Apartment> home;
  IUnknown* identity = nullptr;
  std::uint64_t serial = 0;
  std::size_t connections = 0;
};

// An object of this apartment that proxies elsewhere use. Holds the references.
struct ExportEntry {
  ComPtr<IUnknown> identity;
  // Every interface with a registered proxy that the object has, asked for once when the object
  // is first lent out, so that its proxies need not ask across apartments.
  std::map<IID, ComPtr<IUnknown>, GuidLess> interfaces;
  std::size_t connections = 0;  // how many references proxy managers elsewhere own
  std::uint64_t serial = 0;     // tells a new object at a reused address from an old one
};

// Aligned to a cache line of its own: the reference count that make_shared puts just before it is
// changed by proxies on other threads, and the fields below are read by its thread at every call.
class alignas(64) Apartment {
 public:
  explicit Apartment(ApartmentKind kind) : kind(kind), owner(std::this_thread::get_id()) {}

  const ApartmentKind kind;
  const std::thread::id owner;  // the thread of a single-threaded apartment

  // Guarded by the kernel lock (sx::kernel::lock()).
  bool alive = true;
  std::deque<IncomingCall*> incoming;
  bool wake_posted = false;  // a wake-up message is on its way to `window`
  bool serving = false;      // its thread waits in a loop that notices incoming calls itself
  bool watching = false;     // its thread watches for its next call (`arrivals`, `handoff`)
  std::atomic<std::uint64_t> arrivals{0};  // bumped (under the kernel lock) by every call queued
  HWND window = nullptr;  // message-only window that wakes the thread's message loop

  // Open only while the thread watches for its next call (watch_for_next_call); a caller that
  // finds it open puts its call there instead of queueing it under the kernel lock.
  std::atomic<std::uintptr_t> handoff{handoff::kClosed};

  // Used on the apartment's own thread only.
  int hold = 0;
  std::unordered_map<IUnknown*, ExportEntry> exports;
  std::size_t connections = 0;  // sum over `exports`
  std::function<void()> on_last_release;
  std::vector<DeferredRelease> deferred_releases;  // of a single-threaded apartment

  // Proxy managers living in this apartment, by (home apartment, object identity).
  std::mutex proxies_mutex;
  std::map<std::pair<const Apartment*, IUnknown*>, ProxyManager*> proxies;
};

// The calling thread's apartment; null outside COM.
std::shared_ptr<Apartment> current_apartment_state();
Apartment* current_apartment_raw();

// Runs `work` on the thread of `target` and waits for it (see com/marshal.h for how the waiting
// thread keeps serving its own apartment). Runs it at once when `target` is the caller's own
// apartment. RPC_E_DISCONNECTED when `target` has ended, or ends before the call ran. Work that
// only takes or gives back references (`references`) runs even while `target` holds its calls.
HRESULT call_in(const std::shared_ptr<Apartment>& target, WorkRef work, bool references = false);
// The same for a call to `object`, lent out by `target` as `serial`: RPC_E_DISCONNECTED when it is
// no longer lent out. `work` runs with the thread's error information cleared, and what it leaves
// there comes back in `error`.
HRESULT call_object(const std::shared_ptr<Apartment>& target, IUnknown* object,
                    std::uint64_t serial, WorkRef work, ComPtr<IErrorInfo>* error);

// Queues `call` (made with kDetached) for `target` without waiting for it; false when `target`
// has ended (the call was not taken). Never blocks on work.
bool post_detached(Apartment& target, IncomingCall& call);

// Waits as a caller waits for its call into another apartment (watching first, then serving its
// own apartment meanwhile) until `call` (made with kWatching) is done. A caller that watched for
// its answer another way already does not watch again (`watch_first` false).
void wait_until_done(IncomingCall& call, bool watch_first = true);

// Watches `seen()` without the lock for the short while a caller or a serving thread watches for
// the other side; true when it came (at once false on a single processor).
bool watch_briefly_for(FunctionRef<bool()> seen);

// Whether an incoming call may run now (kernel lock held).
bool has_runnable_incoming(const Apartment& apartment);

// On the apartment's thread: runs the waiting incoming calls (not while held), or the next one.
void serve_incoming(Apartment& apartment);
bool serve_next_incoming(Apartment& apartment);
// On the apartment's thread: makes the window that wakes its message loop for incoming calls.
void ensure_window(Apartment& apartment);

// marshal.cpp, on the apartment's thread.
ExportEntry* find_export(Apartment& apartment, IUnknown* identity, std::uint64_t serial);
void release_export(Apartment& apartment, IUnknown* identity, std::uint64_t serial,
                    std::size_t connections);
void disconnect_exports(Apartment& apartment);
void release_proxies_held_by(Apartment& apartment);
// On the apartment's thread: gives back every reference waiting in it (see DeferredRelease).
void send_deferred_releases(Apartment& apartment);

// An object of this process as other processes reach it: the apartment it lives in and its
// identity there, owning one of the references counted in the apartment's exports (see
// ExportEntry); or, for a free-threaded object, the object itself, served in `home` all the same.
struct HomeReference {
  std::shared_ptr<Apartment> home;
  IUnknown* identity = nullptr;
  std::uint64_t serial = 0;
  ComPtr<IUnknown> agile;
};
// On a thread that may call `object`: its home reference, with a reference counted at home.
// CO_E_NOT_SUPPORTED outside a single-threaded apartment (unless the object is free-threaded).
HRESULT export_home(IUnknown* object, REFIID iid, HomeReference* out);
// On any thread in COM: the object as interface `iid` for this apartment (the object itself at
// home, else an in-process proxy with a reference of its own). RPC_E_DISCONNECTED when it is no
// longer lent out at home.
HRESULT unmarshal_home(const HomeReference& reference, REFIID iid, void** out);
// On a thread that may wait (not a connection's reader): gives back the reference `reference` owns.
void release_home(HomeReference& reference);
// On the home apartment's thread: the object's interface `iid` (not AddRef'd; valid while it is
// lent out), asked for once and kept with the export. Null with *hr set when it is gone
// (RPC_E_DISCONNECTED) or lacks the interface.
IUnknown* interface_at_home(const HomeReference& reference, REFIID iid, HRESULT* hr);

// remote.cpp: class objects for every process of the machine. On the registering thread, after
// CoRegisterClassObject: a class with a LocalServer32 key registered in a single-threaded apartment
// is published for the machine. CoRevokeClassObject takes it back.
void publish_class_object(REFCLSID clsid, DWORD cookie, IUnknown* factory);
void unpublish_class_object(DWORD cookie);
// The class object of `clsid` registered by another live process of the machine, as `iid`: true
// with the outcome in *result, or false when no other process serves it.
bool machine_class_object(REFCLSID clsid, REFIID iid, void** object, HRESULT* result);
// When no process of the machine serves `clsid`: starts the program its LocalServer32 command line
// names, with "/embedding" added, as Windows does, and waits (kServerStartLimit of real time at
// most) until it has registered its class object for the machine. One process of the machine
// starts a class's server at a time; the others wait and find it registered. S_OK when a server of
// another process is registered now; S_FALSE when the command names no program of the machine (a
// missing file, or a stand-in file that cannot run) or this process serves the class: today's
// in-process stand-in serves it then; CO_E_SERVER_EXEC_FAILURE when the program could not start,
// ended first or never registered (it is killed then).
inline constexpr std::chrono::seconds kServerStartLimit{20};
// The pid of the live process the machine's registration of `clsid` names (this one's too); 0 when
// none.
long registered_pid(REFCLSID clsid);
HRESULT start_machine_server(REFCLSID clsid);

// remote.cpp: while an apartment's thread watches for its next call, it also watches the call
// slot of the connection whose call it answered last, so that the next call from that process
// reaches it without the socket.
struct RemoteCallWatch {
  std::shared_ptr<RemoteConnection> connection;
  CallSlots* slots = nullptr;  // open while set
};
RemoteCallWatch begin_remote_call_watch();
bool remote_call_came(const RemoteCallWatch& watch);
// Ends the watch; a call put in the slot meanwhile is queued into its object's apartment.
void end_remote_call_watch(RemoteCallWatch& watch);
// Sends the references this process's proxies gave back that wait for a next call (an ending
// single-threaded apartment does not leave them waiting).
void give_back_remote_references();

// Empties the calling thread's error information (when it leaves COM).
void drop_thread_error_info();

}  // namespace sx::com::detail
