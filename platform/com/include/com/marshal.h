// Apartments talking to each other: interface pointers handed from one apartment to another
// become proxies, and a call through a proxy runs in the object's own apartment while the caller
// waits, as COM does between apartments and processes (docs/com-apartments.md).
//
// - An apartment-threaded object lives in the single-threaded apartment (STA) of the thread that
//   made it. Handing it to another apartment (CoMarshalInterThreadInterfaceInStream, a proxied
//   call's arguments and results) gives that apartment a proxy. A proxy is called only from the
//   apartment it was handed to (else RPC_E_WRONG_THREAD). Its call is queued to the object's
//   thread and runs there when that thread looks at its messages (its message loop, a modal dialog,
//   or its own wait for a call); calls into one apartment run one at a time, in order.
// - While a thread of an STA waits for its call it dispatches its own window messages and runs the
//   calls that come into its apartment meanwhile (a callback, an event sink), so two apartments
//   that call each other go on. A thread of the multithreaded apartment just waits.
// - Error information set by the object travels back to the caller's thread with the result.
// - Free-threaded objects (IAgileObject) and the object's own apartment get the object itself.
// - One proxy identity per object and apartment: QueryInterface(IID_IUnknown) on two proxies of one
//   object gives the same pointer. Interfaces without a registered proxy (com/proxy.h) are refused
//   with E_NOINTERFACE.
// - Lifetime: the object stays alive while proxies of it exist. When its apartment ends
//   (CoUninitialize, or disconnect_objects), its proxies fail with RPC_E_DISCONNECTED.
//
// Objects of the multithreaded apartment cannot be handed to other apartments (CO_E_NOT_SUPPORTED);
// its threads can call proxies of STA objects.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/unknown.h"

// Marks an object that may be called from any thread: apartments hand it over as it is. ComObjects
// made with Threading::kFree answer it.
struct IAgileObject : IUnknown {
  static constexpr IID kIid = sx::com::guid("{94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}");
  using Base = IUnknown;

 protected:
  ~IAgileObject() = default;
};

namespace sx::com {
// A part of objects that can tell the interfaces they implement (every ComObject has it): the
// runtime lends such an object out with those of them that have proxies, instead of asking it for
// every interface that has one. An interface it answers beyond its list is still found: a proxy
// then asks for it in the object's apartment. QueryInterface for kIid hands out this part,
// AddRef'd as an interface is; the reference is given back through the object's IUnknown.
class ListsInterfaces {
 public:
  static constexpr IID kIid = guid("{3C1F5E4A-8B2D-4E77-9A61-0D5C2B7E4F18}");
  // The interfaces and those they derive from, IUnknown excepted; the array lives as long as the
  // object's code.
  virtual const IID* listed_interfaces(std::size_t* count) = 0;

 protected:
  ~ListsInterfaces() = default;
};
}  // namespace sx::com

// Here only the carrier of one marshaled interface between CoMarshalInterThreadInterfaceInStream
// and CoGetInterfaceAndReleaseStream; it offers no stream methods.
struct IStream : IUnknown {
  static constexpr IID kIid = sx::com::guid("{0000000C-0000-0000-C000-000000000046}");
  using Base = IUnknown;

 protected:
  ~IStream() = default;
};
using LPSTREAM = IStream*;

inline constexpr IID IID_IAgileObject = IAgileObject::kIid;
inline constexpr IID IID_IStream = IStream::kIid;

extern "C" {
// On a thread that may call `object`: packs its interface `iid` for another apartment of this
// process. The stream is used once, by CoGetInterfaceAndReleaseStream; releasing it unused gives
// the reference back. E_NOINTERFACE when the object lacks `iid`, CO_E_NOTINITIALIZED without COM.
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID iid, LPUNKNOWN object, LPSTREAM* stream);
// On the receiving thread: the interface as this apartment may use it (a proxy, or the object
// itself in its own apartment), and the stream released.
HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM stream, REFIID iid, LPVOID* object);
}

namespace sx::com {

class MarshaledInterface;
namespace detail {
struct MarshalAccess;
}

// Packs `object` (as its interface `iid`) on a thread that may call it. Null packs as null.
HRESULT marshal_interface(IUnknown* object, REFIID iid, MarshaledInterface* out);
// Unpacks on the receiving thread into *out (AddRef'd interface `iid`, or null; an empty
// MarshaledInterface unpacks as null).
HRESULT unmarshal_interface(MarshaledInterface&& in, REFIID iid, void** out);

// An interface reference on its way between apartments. Move-only; dropping it unused gives the
// reference back to the object's apartment (waiting for it, like a call).
class MarshaledInterface {
 public:
  MarshaledInterface();
  ~MarshaledInterface();
  MarshaledInterface(MarshaledInterface&&) noexcept;
  MarshaledInterface& operator=(MarshaledInterface&&) noexcept;
  MarshaledInterface(const MarshaledInterface&) = delete;
  MarshaledInterface& operator=(const MarshaledInterface&) = delete;

  struct State;

 private:
  friend HRESULT marshal_interface(IUnknown*, REFIID, MarshaledInterface*);
  friend HRESULT unmarshal_interface(MarshaledInterface&&, REFIID, void**);
  friend struct detail::MarshalAccess;
  std::unique_ptr<State> state_;
};

// --- Services for the thread that serves an apartment (a local server's thread) ---------------

// The message loop of a thread that serves its apartment: dispatches its window messages and runs
// the calls that come into it, until WM_QUIT; returns the quit message's exit code. (A plain
// GetMessage loop serves calls as well, through a message each; this one answers them sooner.)
int run_message_loop();

// While held (calls nest), calls from other apartments into the calling thread's apartment wait in
// its queue instead of running, as a server busy with a modal dialog holds them; they run in order
// once the last hold is released. Proxies made or released meanwhile still take and give back their
// references at once. The calling thread's own calls out are not affected.
void hold_incoming_calls();
void release_incoming_calls();

// Called on the apartment's thread when the last proxy that other apartments hold to any object of
// the calling thread's apartment has been released (a local server ends then). Replaces an earlier
// handler; an empty function removes it.
void on_last_external_release(std::function<void()> handler);

// Cuts every proxy that other apartments hold to objects of the calling thread's apartment: their
// references are released here, now, and their calls fail with RPC_E_DISCONNECTED from then on (a
// local server that quits does so). The handler above is not called.
void disconnect_objects();

// The object behind a proxy (the identity of the object in its own apartment), or the identity of
// `object` itself when it is not a proxy. Not AddRef'd: for comparing addresses only.
IUnknown* object_identity(IUnknown* object);

}  // namespace sx::com
