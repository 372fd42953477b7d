// Calls between apartments: proxies, the thread a call runs on, serialised calls, callbacks,
// identity, error information, lifetime and disconnection, held calls, and local servers.
#include <gtest/gtest.h>

#include <algorithm>

#include "apartment_objects.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"

SX_COM_PROXY(ICounter, SX_TEST_COUNTER_MEMBERS);

namespace apartment_test {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

// Hands `object` (living in the calling thread's apartment) to whoever unpacks the stream.
IStream* pack(IUnknown* object) {
  IStream* stream = nullptr;
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(ICounter::kIid, object, &stream), S_OK);
  return stream;
}

ComPtr<ICounter> unpack(IStream* stream) {
  ComPtr<ICounter> counter;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, ICounter::kIid, counter.PutVoid()), S_OK);
  return counter;
}

// A thread in its own apartment that runs `body` and leaves COM.
template <class F>
void in_apartment(F body) {
  ClientThread([&] {
    CoInitialize(nullptr);
    body();
    CoUninitialize();
  }).join();
}

class ApartmentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }

  // A server thread with one counter; its stream is packed there.
  void start_server(const char* name = "server") {
    server_ = std::make_unique<ServerThread>([this, name] {
      ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace_, name);
      server_object_ = counter.Get();
      stream_ = pack(static_cast<ICounter*>(counter.Get()));
    });
  }
  void stop_server(ComPtr<ICounter>& proxy) {
    EXPECT_EQ(proxy->Quit(), S_OK);
    proxy = nullptr;
    server_->join();
  }

  sx::testing::TempMachine machine_;
  Trace trace_;
  std::unique_ptr<ServerThread> server_;
  Counter* server_object_ = nullptr;
  IStream* stream_ = nullptr;
};

TEST_F(ApartmentTest, ProxyRunsEachCallOnTheObjectsThreadAndCarriesResultsBack) {
  start_server("far");
  ComPtr<ICounter> far = unpack(stream_);
  ASSERT_TRUE(far);
  EXPECT_NE(static_cast<void*>(far.Get()), static_cast<void*>(server_object_));  // a proxy

  LONG total = 0;
  EXPECT_EQ(far->Add(5, &total), S_OK);
  EXPECT_EQ(far->Add(2, &total), S_OK);
  EXPECT_EQ(total, 7);
  ASSERT_EQ(server_object_->threads.size(), 2u);
  EXPECT_EQ(server_object_->threads[0], server_->id());

  Bstr name;
  EXPECT_EQ(far->get_Name(name.put()), S_OK);
  EXPECT_EQ(name.utf8(), "far");
  Variant in = Variant::from_utf8("text"), out;
  EXPECT_EQ(far->Echo(in.get(), out.put()), S_OK);
  EXPECT_EQ(out.to_utf8(), "text");

  // A failure's error information reaches this thread.
  EXPECT_EQ(far->Fail(), E_FAIL);
  try {
    sx::com::issue_error(E_FAIL);
  } catch (const sx::com::ComError& e) {
    EXPECT_STREQ(e.Source(), "Counter");
    EXPECT_STREQ(e.Description(), "It failed.");
  }
  stop_server(far);
}

TEST_F(ApartmentTest, ProxyUsedOutsideTheApartmentItWasHandedToFailsWithWrongThread) {
  start_server();
  ComPtr<ICounter> far = unpack(stream_);
  HRESULT from_other = S_OK;
  LONG total = 0xCC;
  in_apartment([&] { from_other = far->Add(1, &total); });
  EXPECT_EQ(from_other, RPC_E_WRONG_THREAD);
  EXPECT_EQ(total, 0xCC);
  EXPECT_TRUE(server_object_->threads.empty());
  ComPtr<IUnknown> any;
  in_apartment([&] { from_other = far->QueryInterface(IID_IUnknown, any.PutVoid()); });
  EXPECT_EQ(from_other, RPC_E_WRONG_THREAD);
  stop_server(far);
}

TEST_F(ApartmentTest, CallsFromTwoApartmentsAtOnceRunOneAtATime) {
  start_server();
  ComPtr<ICounter> here = unpack(stream_);
  IStream* for_other = pack(here.Get());  // a proxy handed on to a third apartment
  HRESULT other_result = E_FAIL;
  ClientThread other([&] {
    CoInitialize(nullptr);
    ComPtr<ICounter> there = unpack(for_other);
    for (int i = 0; i < 5 && there; ++i) other_result = there->Busy(100);
    there = nullptr;
    CoUninitialize();
  });
  for (int i = 0; i < 5; ++i) EXPECT_EQ(here->Busy(100), S_OK);
  other.join();
  EXPECT_EQ(other_result, S_OK);
  EXPECT_EQ(trace_.most_running.load(), 1);  // never two calls inside the object at once
  stop_server(here);
}

TEST_F(ApartmentTest, CallbackIntoTheWaitingApartmentRunsOnItsThreadMeanwhile) {
  start_server();
  ComPtr<ICounter> far = unpack(stream_);
  ComPtr<Counter> mine = sx::com::make_object<Counter>(nullptr, "mine");
  LONG total = 0;
  EXPECT_EQ(far->CallBack(mine.Get(), &total), S_OK);  // the server calls mine while I wait
  EXPECT_EQ(total, 1);
  ASSERT_EQ(mine->threads.size(), 1u);
  EXPECT_EQ(mine->threads[0], std::this_thread::get_id());
  stop_server(far);
}

TEST_F(ApartmentTest, OneIdentityPerObjectAndTheObjectItselfAtHome) {
  start_server();
  ComPtr<ICounter> far = unpack(stream_);
  ComPtr<ICounter> child_a, child_b;
  ASSERT_EQ(far->MakeChild(child_a.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IUnknown> id_far = far.As<IUnknown>();
  ComPtr<IUnknown> id_again = far.As<IUnknown>();
  EXPECT_EQ(id_far.Get(), id_again.Get());
  EXPECT_EQ(sx::com::object_identity(far.Get()),
            static_cast<IUnknown*>(static_cast<ICounter*>(server_object_)));
  // A proxy handed back to the object's own apartment is the object itself there.
  VARIANT_BOOL same = VARIANT_FALSE;
  EXPECT_EQ(far->IsSelf(far.Get(), &same), S_OK);
  EXPECT_EQ(same, VARIANT_TRUE);
  EXPECT_EQ(far->IsSelf(child_a.Get(), &same), S_OK);
  EXPECT_EQ(same, VARIANT_FALSE);
  // An object inside a VARIANT crosses as a proxy and comes back as itself.
  Variant object;
  object.get().vt = VT_UNKNOWN;
  object.get().punkVal = child_a.As<IUnknown>().Detach();
  Variant echoed;
  EXPECT_EQ(far->Echo(object.get(), echoed.put()), S_OK);
  ASSERT_EQ(echoed.vt(), VT_UNKNOWN);
  EXPECT_EQ(echoed.get().punkVal, child_a.As<IUnknown>().Get());
  // Interfaces that have no proxy are refused.
  ComPtr<IUnproxied> unproxied;
  EXPECT_EQ(far.As(&unproxied), E_NOINTERFACE);
  child_a = child_b = nullptr;
  stop_server(far);
}

// A counter that lists only IUnproxied and answers ICounter when asked (query_other).
class UnlistedCounter : public sx::com::ComObject<IUnproxied>, public ICounter {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return ComObject::QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ComObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return ComObject::Release(); }
  STDMETHODIMP Nothing() override { return S_OK; }
  STDMETHODIMP Add(LONG amount, LONG* total) override {
    SX_COM_CHECK_THREAD();
    thread = std::this_thread::get_id();
    *total = total_ += amount;
    return S_OK;
  }
  STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP Echo(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP MakeChild(ICounter**) override { return E_NOTIMPL; }
  STDMETHODIMP CallBack(ICounter*, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP IsSelf(IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Fail() override { return E_NOTIMPL; }
  STDMETHODIMP Busy(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP Quit() override { return E_NOTIMPL; }

  std::thread::id thread;

 protected:
  void* query_other(REFIID iid) override {
    return iid == ICounter::kIid ? static_cast<ICounter*>(this) : nullptr;
  }

 private:
  LONG total_ = 0;
};

TEST_F(ApartmentTest, AnInterfaceBeyondTheObjectsListIsFoundThroughItsProxy) {
  UnlistedCounter* object = nullptr;
  IStream* stream = nullptr;
  ServerThread server([&] {
    ComPtr<UnlistedCounter> counter = sx::com::make_object<UnlistedCounter>();
    object = counter.Get();
    EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(
                  IID_IUnknown, static_cast<IUnproxied*>(counter.Get()), &stream),
              S_OK);
    sx::com::on_last_external_release([] { PostQuitMessage(0); });
  });
  {
    ComPtr<IUnknown> far;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, far.PutVoid()), S_OK);
    ComPtr<ICounter> counter;
    ASSERT_EQ(far.As(&counter), S_OK);
    LONG total = 0;
    EXPECT_EQ(counter->Add(2, &total), S_OK);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(object->thread, server.id());
    EXPECT_EQ(counter.As<IUnknown>().Get(), far.Get());
  }  // the server ends with its last client
  server.join();
}

// A server whose counter ends the thread with its last client, like a local server.
void start_ending_server(std::unique_ptr<ServerThread>& server, Trace& trace, IStream*& stream,
                         int& last_releases) {
  server = std::make_unique<ServerThread>([&] {
    ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace);
    stream = pack(static_cast<ICounter*>(counter.Get()));
    sx::com::on_last_external_release([&] {
      ++last_releases;
      PostQuitMessage(0);
    });
  });
}

TEST_F(ApartmentTest, LastProxyReleasedFreesTheObjectOnItsThreadAndTellsTheServer) {
  int last_releases = 0;
  start_ending_server(server_, trace_, stream_, last_releases);
  ComPtr<ICounter> far = unpack(stream_);
  ComPtr<ICounter> second = far;
  ComPtr<ICounter> child;
  ASSERT_EQ(far->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
  far = nullptr;
  second = nullptr;
  // `child` still leads into the server's apartment: the counter's references go there with the
  // next call, ahead of it.
  EXPECT_EQ(trace_.destroyed.load(), 0);
  LONG total = 0;
  ASSERT_EQ(child->Add(1, &total), S_OK);
  EXPECT_EQ(trace_.destroyed_when_added.load(), 1);
  EXPECT_EQ(trace_.destroyed_on, server_->id());
  EXPECT_EQ(last_releases, 0);  // the child is still held
  child = nullptr;              // the last proxy there: released at once, the server told
  EXPECT_EQ(trace_.destroyed.load(), 2);
  EXPECT_EQ(last_releases, 1);
  server_->join();
}

TEST_F(ApartmentTest, ReleasingTheLastProxyIntoAnApartmentGivesBackTheWaitingReferencesFirst) {
  int last_releases = 0;
  start_ending_server(server_, trace_, stream_, last_releases);
  ComPtr<ICounter> far = unpack(stream_);
  ComPtr<ICounter> children[3];
  for (auto& child : children) ASSERT_EQ(far->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
  for (auto& child : children) child = nullptr;
  EXPECT_EQ(trace_.destroyed.load(), 0);
  far = nullptr;
  EXPECT_EQ(trace_.destroyed.load(), 4);
  EXPECT_EQ(last_releases, 1);  // once, when everything was back
  server_->join();
}

TEST_F(ApartmentTest, AnEndingApartmentGivesBackTheReferencesWaitingInIt) {
  int last_releases = 0;
  start_ending_server(server_, trace_, stream_, last_releases);
  in_apartment([&] {
    ComPtr<ICounter> far = unpack(stream_);
    ComPtr<ICounter> child;
    ASSERT_EQ(far->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
    child = nullptr;
    EXPECT_EQ(trace_.destroyed.load(), 0);
    CoUninitialize();
    EXPECT_EQ(trace_.destroyed.load(), 2);
    EXPECT_EQ(last_releases, 1);
    far = nullptr;  // its references went with the apartment
  });
  server_->join();
}

TEST_F(ApartmentTest, ProxiesOfAnEndedOrDisconnectedApartmentFailWithDisconnected) {
  server_ = std::make_unique<ServerThread>(
      [&] {
        ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace_);
        stream_ = pack(static_cast<ICounter*>(counter.Get()));
      },
      [] { sx::com::disconnect_objects(); });
  ComPtr<ICounter> far = unpack(stream_);
  ComPtr<ICounter> child;
  ASSERT_EQ(far->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(far->Quit(), S_OK);
  server_->join();
  EXPECT_EQ(trace_.destroyed.load(), 2);  // cut loose: the server released both
  LONG total = 0;
  EXPECT_EQ(far->Add(1, &total), RPC_E_DISCONNECTED);
  EXPECT_EQ(child->Add(1, &total), RPC_E_DISCONNECTED);
  far = nullptr;  // releasing a disconnected proxy is harmless
  child = nullptr;
}

void CALLBACK release_held_calls(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  sx::com::release_incoming_calls();
}

TEST_F(ApartmentTest, HeldCallsWaitUntilTheServerReleasesThem) {
  server_ = std::make_unique<ServerThread>([&] {
    ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace_);
    server_object_ = counter.Get();
    stream_ = pack(static_cast<ICounter*>(counter.Get()));
    sx::com::hold_incoming_calls();  // busy, as with a modal dialog, for 500 ms
    SetTimer(nullptr, 0, 500, release_held_calls);
  });
  ComPtr<ICounter> far = unpack(stream_);
  const std::int64_t asked = sx::clock::now_ms();
  // Taking and giving back references is not held: a third apartment gets a proxy and lets it go
  // while the server is busy.
  IStream* handed = pack(far.Get());
  ClientThread([&] {
    CoInitialize(nullptr);
    ComPtr<ICounter> second = unpack(handed);
    second = nullptr;
    CoUninitialize();
  }).join();
  EXPECT_EQ(sx::clock::now_ms(), asked);
  LONG total = 0;
  EXPECT_EQ(far->Add(1, &total), S_OK);
  EXPECT_GE(sx::clock::now_ms() - asked, 500);
  EXPECT_EQ(total, 1);
  stop_server(far);
}

// A server in run_message_loop watches for the next call for a moment after each one; a message
// it posted itself inside a call (work for later) still runs before the caller's next call, as it
// would in the one queue a real apartment's thread has.
std::atomic<int> g_messages_handled{0};

LRESULT CALLBACK count_messages(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_APP) {
    ++g_messages_handled;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST_F(ApartmentTest, ServingLoopRunsTheMessageACallPostedBeforeTheNextCall) {
  server_ = std::make_unique<ServerThread>(
      [&] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = count_messages;
        wc.lpszClassName = "SxCountMessages";
        RegisterClassA(&wc);
        trace_.post_on_add = CreateWindowExA(0, "SxCountMessages", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                             nullptr, nullptr, nullptr);
        ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace_);
        server_object_ = counter.Get();
        stream_ = pack(static_cast<ICounter*>(counter.Get()));
      },
      std::function<void()>{}, true);
  ComPtr<ICounter> far = unpack(stream_);
  ASSERT_NE(trace_.post_on_add, nullptr);
  g_messages_handled = 0;
  LONG total = 0;
  int overtaken = 0;
  for (int i = 1; i <= 500; ++i) {
    EXPECT_EQ(far->Add(1, &total), S_OK);
    if (g_messages_handled.load() < i - 1) ++overtaken;  // the message of the call before
  }
  EXPECT_EQ(overtaken, 0);
  EXPECT_EQ(total, 500);
  stop_server(far);
}

// Quick calls from two apartments race for the serving thread's attention (most are handed to it
// while it watches for its next call): each runs once, on that thread, and answers its own caller.
TEST_F(ApartmentTest, ServingLoopRunsQuickCallsFromTwoApartmentsEachOnce) {
  server_ = std::make_unique<ServerThread>(
      [&] {
        ComPtr<Counter> counter = sx::com::make_object<Counter>(&trace_);
        server_object_ = counter.Get();
        stream_ = pack(static_cast<ICounter*>(counter.Get()));
      },
      std::function<void()>{}, true);
  ComPtr<ICounter> here = unpack(stream_);
  IStream* for_other = pack(here.Get());
  constexpr int kCalls = 3000;
  auto make_calls = [](ICounter* counter, int* out_of_order) {
    LONG last = 0;
    for (int i = 0; i < kCalls; ++i) {
      LONG total = 0;
      if (FAILED(counter->Add(1, &total)) || total <= last) ++*out_of_order;
      last = total;
    }
  };
  int other_out_of_order = 0;
  ClientThread other([&] {
    CoInitialize(nullptr);
    {
      ComPtr<ICounter> there = unpack(for_other);
      if (there) make_calls(there.Get(), &other_out_of_order);
    }
    CoUninitialize();
  });
  int out_of_order = 0;
  make_calls(here.Get(), &out_of_order);
  other.join();
  EXPECT_EQ(out_of_order, 0);
  EXPECT_EQ(other_out_of_order, 0);
  LONG total = 0;
  EXPECT_EQ(here->Add(0, &total), S_OK);
  EXPECT_EQ(total, 2 * kCalls);
  const auto& threads = server_object_->threads;
  EXPECT_EQ(std::count(threads.begin(), threads.end(), server_->id()),
            static_cast<std::ptrdiff_t>(threads.size()));
  stop_server(here);
}

}  // namespace
}  // namespace apartment_test

namespace apartment_test {
namespace {

constexpr CLSID kCounterServer = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E33}");

void set_class_value(const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

// The class factory of a server's own apartment: it makes counters on the server's thread.
class CounterFactory : public sx::com::ComObject<IClassFactory> {
 public:
  explicit CounterFactory(Trace* trace) : trace_(trace) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    SX_COM_CHECK_THREAD();
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return sx::com::make_object<Counter>(trace_, "served")->QueryInterface(iid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  Trace* trace_;
};

// A local server on a thread of its own: it registers its class object there and ends (revoking
// it) when its last client lets go, as a server process does.
TEST_F(ApartmentTest, LocalServerOnItsOwnThreadIsReachedThroughAProxyAndStartsAgainAfterItEnded) {
  set_class_value("CLSID\\" + sx::com::format_guid(kCounterServer) + "\\LocalServer32",
                  "C:\\Program Files\\SxTest\\Counter.exe");
  int starts = 0;
  std::unique_ptr<ServerThread> running;
  sx::com::register_local_server(kCounterServer, [&](IClassFactory** factory) -> HRESULT {
    *factory = nullptr;
    ++starts;
    if (running) running->join();  // the previous one has ended
    running = std::make_unique<ServerThread>([&] {
      static DWORD cookie = 0;
      auto factory = sx::com::make_object<CounterFactory>(&trace_);
      CoRegisterClassObject(kCounterServer, factory.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                            &cookie);
      sx::com::on_last_external_release([] {
        CoRevokeClassObject(cookie);
        PostQuitMessage(0);
      });
    });
    return S_OK;
  });
  ComPtr<ICounter> first, second;
  ASSERT_EQ(CoCreateInstance(kCounterServer, nullptr, CLSCTX_LOCAL_SERVER, ICounter::kIid,
                             first.PutVoid()),
            S_OK);
  ASSERT_EQ(CoCreateInstance(kCounterServer, nullptr, CLSCTX_LOCAL_SERVER, ICounter::kIid,
                             second.PutVoid()),
            S_OK);
  EXPECT_EQ(starts, 1);
  LONG total = 0;
  EXPECT_EQ(first->Add(3, &total), S_OK);
  EXPECT_NE(sx::com::object_identity(first.Get()), sx::com::object_identity(second.Get()));
  EXPECT_EQ(trace_.destroyed.load(), 0);
  first = second = nullptr;  // the server ends here
  EXPECT_EQ(trace_.destroyed.load(), 2);
  ASSERT_EQ(CoCreateInstance(kCounterServer, nullptr, CLSCTX_LOCAL_SERVER, ICounter::kIid,
                             first.PutVoid()),
            S_OK);
  EXPECT_EQ(starts, 2);
  EXPECT_EQ(first->Add(1, &total), S_OK);
  EXPECT_EQ(total, 1);  // a new object of the new server
  first = nullptr;
  running->join();
  sx::com::unregister_local_server(kCounterServer);
}

TEST_F(ApartmentTest, ThreadWaitingInCoWaitForMultipleHandlesKeepsServingItsApartment) {
  ComPtr<Counter> mine = sx::com::make_object<Counter>(nullptr, "mine");
  IStream* stream = pack(static_cast<ICounter*>(mine.Get()));
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  LONG total = 0;
  ClientThread caller([&] {
    CoInitialize(nullptr);
    ComPtr<ICounter> there = unpack(stream);
    if (there) there->Add(4, &total);  // runs on the test's thread, which waits in CoWait
    there = nullptr;
    CoUninitialize();
    SetEvent(done);
  });
  DWORD index = 7;
  EXPECT_EQ(CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(total, 4);
  ASSERT_EQ(mine->threads.size(), 1u);
  EXPECT_EQ(mine->threads[0], std::this_thread::get_id());
  const std::int64_t start = sx::clock::now_ms();
  ResetEvent(done);
  EXPECT_EQ(CoWaitForMultipleHandles(0, 100, 1, &done, &index), RPC_S_CALLPENDING);
  EXPECT_EQ(sx::clock::now_ms() - start, 100);
  caller.join();
  CloseHandle(done);
}

TEST(SafeArray, VectorOfVariantsKeepsCopiesAndChecksItsBounds) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayGetDim(array), 1u);
  LONG low = 0, high = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 2);
  EXPECT_EQ(SafeArrayGetLBound(array, 2, &low), DISP_E_BADINDEX);
  Variant text = Variant::from_utf8("kept");
  LONG index = 2;
  EXPECT_EQ(SafeArrayPutElement(array, &index, &text.get()), S_OK);
  text = Variant::from_i4(0);  // the array holds its own copy
  Variant back;
  EXPECT_EQ(SafeArrayGetElement(array, &index, back.put()), S_OK);
  EXPECT_EQ(back.to_utf8(), "kept");
  index = 3;
  EXPECT_EQ(SafeArrayGetElement(array, &index, back.put()), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 1), nullptr);  // only VARIANT vectors here
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  SAFEARRAY* empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &high), S_OK);
  EXPECT_EQ(high, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
}

}  // namespace
}  // namespace apartment_test
