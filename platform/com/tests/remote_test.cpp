// Calls between two real processes: this test and the server program it starts (remote_test_server).
// The other process runs in real time, so these tests use the real clock and wait for it with a
// limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "remote_objects.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"

SX_COM_PROXY(IProbe, SX_TEST_PROBE_MEMBERS);

namespace {

using namespace std::chrono_literals;
using remote_test::Probe;
using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

// Polls `done` for up to `limit` of real time.
template <class Done>
bool eventually(Done done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

pid_t start_program(const std::filesystem::path& machine, const char* mode) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(SXCOM_REMOTE_TEST_SERVER, SXCOM_REMOTE_TEST_SERVER, machine.c_str(), mode, nullptr);
    ::_exit(127);
  }
  return child;
}

void kill_program(pid_t* pid) {
  if (*pid <= 0) return;
  ::kill(*pid, SIGKILL);
  ::waitpid(*pid, nullptr, 0);
  *pid = -1;
}

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key = nullptr;
    const std::string path = "CLSID\\" + sx::com::format_guid(kProbeClsid) + "\\LocalServer32";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    server_ = start_program(machine_.root(), "serve");
    ASSERT_GT(server_, 0);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(class_file()); }));
  }
  void TearDown() override {
    kill_program(&server_);
    CoUninitialize();
  }

  std::filesystem::path class_file() const {
    return machine_.root() / "com" / "classes" / sx::com::format_guid(kProbeClsid);
  }
  std::filesystem::path file(const char* name) const { return machine_.root() / name; }

  ComPtr<IProbe> create() {
    ComPtr<IProbe> probe;
    EXPECT_EQ(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_LOCAL_SERVER, IProbe::kIid,
                               probe.PutVoid()),
              S_OK);
    return probe;
  }

  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
  pid_t server_ = -1;
};

TEST_F(RemoteTest, NumbersTextsAndGuidsGoInAndOutValuesComeBack) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  LONG pid = 0;
  ASSERT_EQ(probe->get_Pid(&pid), S_OK);
  EXPECT_EQ(pid, server_);  // the call ran in the other process

  Bstr described;
  ASSERT_EQ(probe->Describe(Bstr::from_utf8("name").get(), -7, kProbeOutId, 1.5, VARIANT_TRUE,
                            described.put()),
            S_OK);
  EXPECT_EQ(described.utf8(),
            "name|-7|" + sx::com::format_guid(kProbeOutId) + "|1.500000|-1");
  Bstr with_null;
  ASSERT_EQ(probe->Describe(nullptr, 0, GUID_NULL, 0, VARIANT_FALSE, with_null.put()), S_OK);
  EXPECT_EQ(with_null.utf8().substr(0, 3), "|0|");

  GUID id{};
  DATE when = 0;
  VARIANT_BOOL flag = VARIANT_FALSE;
  LONG number = 0;
  Bstr text;
  ASSERT_EQ(probe->Outs(&id, &when, &flag, &number, text.put()), S_OK);
  EXPECT_EQ(id, kProbeOutId);
  EXPECT_EQ(when, 36526.5);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(text.utf8(), "out");

  // Error information set by the object comes back with the failure.
  EXPECT_EQ(probe->Fail(), E_FAIL);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  Bstr description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.utf8(), "It failed.");
}

TEST_F(RemoteTest, VariantsCrossByValueAndArraysAreRefused) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  const Variant values[] = {Variant::from_i4(-5),        Variant::from_r8(2.5),
                            Variant::from_utf8("text"),  Variant::from_bool(true),
                            Variant::from_date(36526.25), Variant::from_error(DISP_E_PARAMNOTFOUND),
                            Variant::null(),             Variant()};
  for (const Variant& value : values) {
    Variant echoed;
    ASSERT_EQ(probe->Echo(value.get(), echoed.put()), S_OK);
    EXPECT_EQ(echoed.vt(), value.vt());
    if (value.vt() == VT_BSTR) {
      EXPECT_EQ(sx::com::bstr_to_utf8(echoed.get().bstrVal), "text");
    } else if (value.vt() != VT_EMPTY && value.vt() != VT_NULL) {
      EXPECT_EQ(echoed.get().llVal, value.get().llVal) << value.vt();
    }
  }
  // By reference: the value it points to.
  LONG n = 9;
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_I4 | VT_BYREF;
  by_ref.plVal = &n;
  Variant echoed;
  ASSERT_EQ(probe->Echo(by_ref, echoed.put()), S_OK);
  EXPECT_EQ(echoed.vt(), VT_I4);
  EXPECT_EQ(echoed.get().lVal, 9);

  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_VARIANT;
  EXPECT_EQ(probe->Echo(array, echoed.put()), DISP_E_BADVARTYPE);
}

TEST_F(RemoteTest, ObjectsCrossAsReferencesAndComeHomeAsThemselves) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  ComPtr<IProbe> child;
  ASSERT_EQ(probe->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(child);
  LONG pid = 0;
  ASSERT_EQ(child->get_Pid(&pid), S_OK);
  EXPECT_EQ(pid, server_);

  // The server's object handed back to the server is the object itself there.
  VARIANT_BOOL same = VARIANT_FALSE;
  ASSERT_EQ(probe->IsSelf(probe.Get(), &same), S_OK);
  EXPECT_EQ(same, VARIANT_TRUE);
  ASSERT_EQ(child->IsSelf(probe.Get(), &same), S_OK);
  EXPECT_EQ(same, VARIANT_FALSE);

  // One identity per object here: through a void** out and through QueryInterface.
  ComPtr<IUnknown> queried;
  ASSERT_EQ(probe->Query(IID_IDispatch, queried.PutVoid()), S_OK);
  EXPECT_EQ(sx::com::object_identity(queried.Get()), sx::com::object_identity(probe.Get()));
  Variant round;
  ASSERT_EQ(probe->Echo(Variant::from_dispatch(probe.Get()).get(), round.put()), S_OK);
  ASSERT_EQ(round.vt(), VT_DISPATCH);
  EXPECT_EQ(sx::com::object_identity(round.get().pdispVal), sx::com::object_identity(probe.Get()));

  // An object of this process sent there and back is this very object again.
  auto local = sx::com::make_object<Probe>();
  Variant back;
  ASSERT_EQ(probe->Echo(Variant::from_unknown(local->identity()).get(), back.put()), S_OK);
  ASSERT_EQ(back.vt(), VT_UNKNOWN);
  EXPECT_EQ(back.get().punkVal, local->identity());
}

TEST_F(RemoteTest, LateBoundCallsCarryNamesArgumentsAndExceptions) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(probe->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
  UINT count = 99;
  ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);

  std::u16string twice = u"Twice";
  LPOLESTR name = twice.data();
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id), S_OK);
  Variant arg = Variant::from_i4(21);
  DISPPARAMS params{&arg.get(), nullptr, 1, 0};
  Variant result;
  ASSERT_EQ(dispatch->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, result.put(), nullptr,
                             nullptr),
            S_OK);
  EXPECT_EQ(result.vt(), VT_I4);
  EXPECT_EQ(result.get().lVal, 42);

  std::u16string explode = u"Explode";
  name = explode.data();
  ASSERT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id), S_OK);
  EXCEPINFO excep{};
  EXPECT_EQ(dispatch->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, &excep, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(sx::com::bstr_to_utf8(excep.bstrDescription), "Exploded.");
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);

  std::u16string unknown = u"Nothing";
  name = unknown.data();
  EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(RemoteTest, ServerCallsBackIntoTheWaitingClientOnItsThread) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  auto sink = sx::com::make_object<Probe>();
  LONG total = 0;
  ASSERT_EQ(probe->CallBack(sink.Get(), &total), S_OK);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(sink->added_on, std::this_thread::get_id());
  ASSERT_EQ(probe->CallBack(sink.Get(), &total), S_OK);
  EXPECT_EQ(total, 2);
}

// A sink that, called back by the server, calls the server again while the server waits for it.
class ReentrantSink : public Probe {
 public:
  explicit ReentrantSink(IProbe* server) : server_(server) {}
  STDMETHODIMP Add(LONG amount, LONG* total) override {
    LONG pid = 0;
    if (const HRESULT hr = server_->get_Pid(&pid); FAILED(hr)) return hr;
    server_pid = pid;
    return Probe::Add(amount, total);
  }
  LONG server_pid = 0;

 private:
  ComPtr<IProbe> server_;
};

TEST_F(RemoteTest, TwoProcessesCallingEachOtherInTurnDoNotDeadlock) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  auto sink = sx::com::make_object<ReentrantSink>(probe.Get());
  LONG total = 0;
  ASSERT_EQ(probe->CallBack(sink.Get(), &total), S_OK);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(sink->server_pid, server_);
}

// A proxy let go while others into the same process live goes home with the next call there, ahead
// of it (or on its own once many wait); the last one goes at once.
TEST_F(RemoteTest, ProxiesLetGoGoHomeAheadOfTheNextCallAndTheLastAtOnce) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  LONG before = 0;
  ASSERT_EQ(probe->get_Live(&before), S_OK);
  for (int i = 0; i < 2500; ++i) {
    ComPtr<IProbe> child;
    ASSERT_EQ(probe->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
    LONG total = 0;
    ASSERT_EQ(child->Add(i, &total), S_OK);
    ASSERT_EQ(total, i);
  }
  LONG live = 0;
  ASSERT_EQ(probe->get_Live(&live), S_OK);
  EXPECT_EQ(live, before);
  EXPECT_FALSE(std::filesystem::exists(file("released")));
  probe.Reset();
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(file("released")); }));
}

// Texts longer than the memory the two processes share for a call go over the socket, in either
// direction, and the next short call goes as before.
TEST_F(RemoteTest, TextsLongerThanTheSharedSlotsCrossBothWays) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  std::string text(100000, 'n');
  text.front() = '<';
  text.back() = '>';
  Bstr described;
  ASSERT_EQ(probe->Describe(Bstr::from_utf8(text).get(), 1, GUID_NULL, 0, VARIANT_FALSE,
                            described.put()),
            S_OK);
  EXPECT_EQ(described.utf8().substr(0, text.size() + 3), text + "|1|");
  Variant echoed;
  ASSERT_EQ(probe->Echo(Variant::from_utf8(text).get(), echoed.put()), S_OK);
  ASSERT_EQ(echoed.vt(), VT_BSTR);
  EXPECT_EQ(sx::com::bstr_to_utf8(echoed.get().bstrVal), text);
  LONG total = 0;
  ASSERT_EQ(probe->Add(5, &total), S_OK);
  EXPECT_EQ(total, 5);
}

// Two threads of one process calling one object of another at once share the connection (and its
// slots): every call runs once and every answer reaches its own caller.
TEST_F(RemoteTest, CallsFromTwoThreadsAtOnceEachRunOnceAndAnswerTheirCaller) {
  constexpr int kCalls = 3000;
  ComPtr<IProbe> probe = create();  // a proxy of another process serves any thread in COM
  ASSERT_TRUE(probe);
  auto caller = [&](LONG amount, bool* in_order) {
    CoInitialize(nullptr);
    LONG last = 0;
    *in_order = true;
    for (int i = 0; i < kCalls && *in_order; ++i) {
      LONG total = 0;
      *in_order = probe->Add(amount, &total) == S_OK && total > last;
      last = total;
    }
    CoUninitialize();
  };
  bool first_in_order = false;
  bool second_in_order = false;
  std::thread first(caller, 1, &first_in_order);
  std::thread second(caller, 1000, &second_in_order);
  first.join();
  second.join();
  EXPECT_TRUE(first_in_order);
  EXPECT_TRUE(second_in_order);
  LONG total = 0;
  ASSERT_EQ(probe->Add(0, &total), S_OK);
  EXPECT_EQ(total, kCalls * 1 + kCalls * 1000);
}

TEST_F(RemoteTest, ReferencesOfAKilledClientAreGivenBackAndTheServerIsTold) {
  pid_t holder = start_program(machine_.root(), "hold");
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(file("holding")); }));
  EXPECT_FALSE(std::filesystem::exists(file("released")));
  kill_program(&holder);
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(file("released")); }));
}

TEST_F(RemoteTest, CallsToAKilledServerFailWithDisconnectedAndItsRegistrationIsIgnored) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  const pid_t server = server_;
  std::thread killer([server] {
    std::this_thread::sleep_for(200ms);
    ::kill(server, SIGKILL);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(probe->Busy(30000), RPC_E_DISCONNECTED);  // in flight when the server died
  killer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  LONG total = 0;
  EXPECT_EQ(probe->Add(1, &total), RPC_E_DISCONNECTED);
  kill_program(&server_);
  // Left behind by a dead process: ignored and removed; this process serves no such class.
  ComPtr<IProbe> again;
  EXPECT_EQ(
      CoCreateInstance(kProbeClsid, nullptr, CLSCTX_LOCAL_SERVER, IProbe::kIid, again.PutVoid()),
      CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(std::filesystem::exists(class_file()));
}

TEST_F(RemoteTest, ARevokedClassIsNoLongerFoundButItsObjectsLiveOn) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  ASSERT_EQ(probe->Revoke(), S_OK);
  EXPECT_FALSE(std::filesystem::exists(class_file()));
  ComPtr<IProbe> again;
  EXPECT_EQ(
      CoCreateInstance(kProbeClsid, nullptr, CLSCTX_LOCAL_SERVER, IProbe::kIid, again.PutVoid()),
      CO_E_SERVER_EXEC_FAILURE);  // nobody serves it, and this process has no stand-in of it
  LONG total = 0;
  EXPECT_EQ(probe->Add(2, &total), S_OK);
  EXPECT_EQ(total, 2);
}

TEST_F(RemoteTest, ObjectsTheServerDisconnectedFailWithDisconnected) {
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  ComPtr<IProbe> child;
  ASSERT_EQ(probe->MakeChild(child.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(probe->Disconnect(), S_OK);
  LONG total = 0;
  EXPECT_EQ(probe->Add(1, &total), RPC_E_DISCONNECTED);
  EXPECT_EQ(child->Add(1, &total), RPC_E_DISCONNECTED);
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(probe->QueryInterface(IID_IDispatch, dispatch.PutVoid()), RPC_E_DISCONNECTED);
  // The server itself goes on: a new object answers.
  ComPtr<IProbe> fresh = create();
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->Add(1, &total), S_OK);
}

// --- Messages by hand ---------------------------------------------------------------------------

class RawConnection {
 public:
  explicit RawConnection(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  bool connected() const { return connected_; }
  void send(const std::vector<std::uint8_t>& body, std::uint32_t length) {
    ASSERT_EQ(::send(fd_, &length, 4, MSG_NOSIGNAL), 4);
    if (!body.empty()) {
      ASSERT_EQ(::send(fd_, body.data(), body.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(body.size()));
    }
  }
  void send(const std::vector<std::uint8_t>& body) {
    send(body, static_cast<std::uint32_t>(body.size()));
  }
  // The body of the next message; empty when the server closed the connection.
  std::vector<std::uint8_t> receive() {
    std::uint32_t length = 0;
    if (!read(&length, 4)) return {};
    std::vector<std::uint8_t> body(length);
    if (!read(body.data(), length)) return {};
    return body;
  }

 private:
  bool read(void* data, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::recv(fd_, p, size, 0);
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  int fd_ = -1;
  bool connected_ = false;
};

template <class T>
void put(std::vector<std::uint8_t>* body, const T& value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  body->insert(body->end(), p, p + sizeof value);
}

HRESULT reply_result(const std::vector<std::uint8_t>& reply, std::uint64_t id) {
  if (reply.size() < 13 || reply[0] != 4) return E_UNEXPECTED;
  std::uint64_t got = 0;
  std::memcpy(&got, reply.data() + 1, 8);
  if (got != id) return E_UNEXPECTED;
  HRESULT hr = S_OK;
  std::memcpy(&hr, reply.data() + 9, 4);
  return hr;
}

TEST_F(RemoteTest, MalformedMessagesAreAnsweredOrCutWithoutHarmToTheServer) {
  std::ifstream registration(class_file());
  long pid = 0;
  std::string socket_path;
  ASSERT_TRUE(registration >> pid >> socket_path);
  RawConnection raw(socket_path);
  ASSERT_TRUE(raw.connected());

  raw.send({99, 1, 2});              // an unknown kind: ignored
  raw.send({1, 1, 2, 3});            // a call without a whole id: nobody to answer
  raw.send({5, 0xFF, 0xFF, 0xFF, 0xFF});  // a release of more than it holds: nothing given back

  // The class object, as a reference with its oid.
  std::vector<std::uint8_t> get_class{3};
  put(&get_class, std::uint64_t{1});
  put(&get_class, kProbeClsid);
  raw.send(get_class);
  const auto class_reply = raw.receive();
  ASSERT_EQ(reply_result(class_reply, 1), S_OK);
  ASSERT_GE(class_reply.size(), 14u + 1 + 8);
  ASSERT_EQ(class_reply[14], 1);  // an object of the sender
  std::uint64_t factory_oid = 0;
  std::memcpy(&factory_oid, class_reply.data() + 15, 8);

  // CreateInstance without its IID: the stub cannot read it.
  std::vector<std::uint8_t> truncated{1};
  put(&truncated, std::uint64_t{2});
  put(&truncated, factory_oid);
  put(&truncated, IID_IClassFactory);
  put(&truncated, std::uint32_t{16});
  raw.send(truncated);
  EXPECT_EQ(reply_result(raw.receive(), 2), RPC_X_BAD_STUB_DATA);

  // A method the interface does not have.
  std::vector<std::uint8_t> no_method{1};
  put(&no_method, std::uint64_t{3});
  put(&no_method, factory_oid);
  put(&no_method, IID_IClassFactory);
  put(&no_method, std::uint32_t{1000});
  raw.send(no_method);
  EXPECT_EQ(reply_result(raw.receive(), 3), RPC_X_BAD_STUB_DATA);

  // An object that was never lent out (or was released already).
  std::vector<std::uint8_t> gone{1};
  put(&gone, std::uint64_t{4});
  put(&gone, std::uint64_t{999999});
  put(&gone, IID_IClassFactory);
  put(&gone, std::uint32_t{16});
  raw.send(gone);
  EXPECT_EQ(reply_result(raw.receive(), 4), RPC_E_DISCONNECTED);

  // A length that cannot be framed ends the connection.
  raw.send({}, 0xFFFFFFF0u);
  EXPECT_TRUE(raw.receive().empty());

  // The server goes on serving.
  ComPtr<IProbe> probe = create();
  ASSERT_TRUE(probe);
  LONG total = 0;
  EXPECT_EQ(probe->Add(3, &total), S_OK);
  EXPECT_EQ(total, 3);
}

}  // namespace
