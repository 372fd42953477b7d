// The COM runtime: apartments, class lookup by ProgID and CLSID through HKEY_CLASSES_ROOT, and
// object creation.
//
// Apartments: each thread that uses COM calls CoInitialize(Ex) first and CoUninitialize as often at
// the end. An apartment-threaded object belongs to the thread that created it; its methods fail
// with RPC_E_WRONG_THREAD when called from another thread (see com/object.h).
//
// Creation (CoCreateInstance / CoGetClassObject), needs COM on the calling thread
// (CO_E_NOTINITIALIZED otherwise):
// - In-process servers: HKCR\CLSID\{clsid}\InprocServer32's default value is the Windows path of a
//   library; it is loaded with LoadLibraryA and asked for the class through its exported
//   DllGetClassObject. A loaded server stays loaded for the life of the process.
// - Local servers: a class with a LocalServer32 key is served inside this process by the factory a
//   stand-in registered for it with register_local_server (Outlook's stand-in does so for
//   "Outlook.Application"); the first creation starts it, later ones reach the same server.
// - REGDB_E_CLASSNOTREG when the class has neither key (or none of the contexts asked for),
//   CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when the library cannot be loaded or has no
//   DllGetClassObject, CO_E_SERVER_EXEC_FAILURE when no stand-in serves a local server class.
// All functions are thread-safe and never throw.
#pragma once

#include <functional>

#include "com/guid.h"
#include "com/hresult.h"
#include "com/unknown.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)

extern "C" {
// CoInitializeEx(reserved, COINIT_APARTMENTTHREADED).
HRESULT CoInitialize(LPVOID reserved);
// Enters COM on this thread: S_OK the first time, S_FALSE when already in the same kind of
// apartment (the count goes up either way), RPC_E_CHANGED_MODE (count unchanged) when the thread
// is already in the other kind. E_INVALIDARG for unknown flags.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
// Undoes one successful CoInitialize(Ex); the last one leaves COM on this thread and drops the
// thread's error information. Extra calls do nothing.
void CoUninitialize();

// HKCR\<progid>\CLSID's default value as a class id: CO_E_CLASSSTRING when the ProgID or its CLSID
// value is absent or malformed, E_INVALIDARG for null pointers. A text in braces is read as a
// class id directly.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
// HKCR\CLSID\{clsid}\ProgID's default value, in memory from CoTaskMemAlloc (the caller frees it).
// REGDB_E_CLASSNOTREG when absent.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);
// The class id's text in memory from CoTaskMemAlloc.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);

// The class factory of `clsid` (queried for `iid`), found as described above.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, LPVOID server_info, REFIID iid,
                         LPVOID* object);
// One new object of class `clsid`, its interface `iid` in *object (null on failure). A non-null
// `outer` (aggregation) gives CLASS_E_NOAGGREGATION.
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsctx, REFIID iid, LPVOID* object);
// Puts an object in the running state: our objects always run, so S_OK (E_INVALIDARG for null).
HRESULT OleRun(LPUNKNOWN object);

LPVOID CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(LPVOID memory);
}

namespace sx::com {

enum class ApartmentKind { kNone, kSingleThreaded, kMultiThreaded };

// The kind of apartment the calling thread is in.
ApartmentKind current_apartment();

// Starts the in-process stand-in of a local server class and returns its factory (AddRef'd into
// *factory). Called at most once per registration, on the first creation, on the creating thread.
using LocalServerStarter = std::function<HRESULT(IClassFactory** factory)>;

// Serves the local server class `clsid` in this process. Replaces an earlier registration.
void register_local_server(REFCLSID clsid, LocalServerStarter starter);
// Serves it with a factory that already runs (AddRef'd here).
void register_local_server(REFCLSID clsid, IClassFactory* factory);
// Forgets the registration and releases its factory (for tests and for a stand-in that shuts down).
void unregister_local_server(REFCLSID clsid);

}  // namespace sx::com
