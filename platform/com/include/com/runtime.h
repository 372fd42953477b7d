// The COM runtime: apartments, class lookup by ProgID and CLSID through HKEY_CLASSES_ROOT, and
// object creation.
//
// Apartments: each thread that uses COM calls CoInitialize(Ex) first and CoUninitialize as often at
// the end. An apartment-threaded object belongs to the thread that created it; its methods fail
// with RPC_E_WRONG_THREAD when called from another thread (see com/object.h). Other apartments
// reach it through proxies (com/marshal.h). The last CoUninitialize of a single-threaded apartment
// gives up the calls still queued for it, releases the proxies it holds and cuts the proxies others
// hold to its objects.
//
// Creation (CoCreateInstance / CoGetClassObject), needs COM on the calling thread
// (CO_E_NOTINITIALIZED otherwise):
// - In-process servers: HKCR\CLSID\{clsid}\InprocServer32's default value is the Windows path of a
//   library; it is loaded with LoadLibraryA and asked for the class through its exported
//   DllGetClassObject. It stays loaded until CoFreeUnusedLibraries unloads it.
// - Local servers: a class with a LocalServer32 key is served inside this process, as if by a
//   process of its own. A stand-in says how to start it with register_local_server (Outlook's
//   stand-in does so for "Outlook.Application"); the started server registers its class object with
//   CoRegisterClassObject on its own thread (or the starter hands back a factory). Creations reach
//   the running server's class object through a proxy when it lives in another apartment; after it
//   revoked its class object, the next creation starts it again. A class object registered in a
//   single-threaded apartment of a class with a LocalServer32 key, by a process that has no
//   stand-in of that class, is also registered for the whole machine: a creation in another
//   process of the machine reaches it through a proxy between processes (com/wire.h,
//   docs/com-apartments.md), before any stand-in of its own is started. With no such
//   registration, a LocalServer32 command line that names a program of the machine (an executable
//   file) starts that program with "/embedding" and waits (20 s at most) until it has registered
//   its class object for the machine; one process of the machine starts it, the others wait for
//   it. CO_E_SERVER_EXEC_FAILURE when it cannot start or never registers.
// - REGDB_E_CLASSNOTREG when the class has neither key (or none of the contexts asked for),
//   CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when the library cannot be loaded or has no
//   DllGetClassObject, CO_E_SERVER_EXEC_FAILURE when no stand-in serves a local server class.
// All functions are thread-safe and never throw.
#pragma once

#include <functional>
#include <string>

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

#define COWAIT_WAITALL 0x1
#define COWAIT_ALERTABLE 0x2

// Waits until one of `handles` is signalled (its index in *index; an auto-reset event is reset)
// while the calling single-threaded apartment goes on dispatching its window messages and running
// the calls that come into it, as a thread must that waits in an apartment others call into.
// RPC_S_CALLPENDING when `timeout` (ms, INFINITE for none) runs out; E_HANDLE for a handle that is
// not open; COWAIT_WAITALL is not supported (E_INVALIDARG).
HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD timeout, ULONG count, LPHANDLE handles,
                                 LPDWORD index);

#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1

// A running local server makes its class object known (on the thread of the apartment it lives in;
// a free-threaded one serves every apartment directly). The cookie is for CoRevokeClassObject.
HRESULT CoRegisterClassObject(REFCLSID clsid, LPUNKNOWN factory, DWORD clsctx, DWORD flags,
                              LPDWORD cookie);
// Takes it back (a server that ends). E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);

// Unloads every in-process server whose exported DllCanUnloadNow answers S_OK (no objects of it
// live and nobody locked it): its library is freed and its globals destroyed. A server without
// DllCanUnloadNow stays loaded. The next creation of one of its classes loads it again.
void CoFreeUnusedLibraries();

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
// Forgets the registration and the running class object (for tests).
void unregister_local_server(REFCLSID clsid);
// This process is the program of the local server class `clsid`, started for the machine (with
// "/embedding"): the class objects of `clsid` it registers are registered for the whole machine,
// although a stand-in of the class is linked in. Until the process ends.
// A process that is the class's program starts no other one: it serves the class itself, through
// its stand-in, with its registration published.
void serve_for_machine(REFCLSID clsid);
// Ends serve_for_machine: the class objects of `clsid` this process registers later are its own
// again (a server that ended and whose process goes on, as a test's).
void stop_serving_for_machine(REFCLSID clsid);
// Whether another live process of the machine has registered a class object of `clsid` for the
// machine (a creation would reach it).
bool served_on_machine(REFCLSID clsid);
// Whether the calling thread runs a call that came from another process of the machine (and what
// it calls in its own apartment meanwhile): a server tells its own doings from another program's.
bool in_call_from_another_process();

// What regsvr32 does: loads the in-process server at `windows_path` (a Windows path of the machine,
// or a host path), calls its DllRegisterServer (DllUnregisterServer when `unregister`) and unloads
// it. The entry point's own result; HRESULT_FROM_WIN32 of the loader's error when the library
// cannot be loaded; HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it lacks the entry point.
HRESULT register_server_module(const std::string& windows_path, bool unregister = false);

}  // namespace sx::com
