#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "comdef.h"
#include "sx/testing/temp_machine.h"
#include "test_server.h"
#include "windows.h"

namespace {

using sx::com::ComPtr;
using sx::com::Variant;

constexpr const char* kServerWindowsPath = "C:\\Program Files\\SxTest\\Calculator.dll";
constexpr CLSID kLocalClsid = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E21}");

// Writes HKCR\<path> with a default text value.
void set_default_value(const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS)
      << path;
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    // The server library goes to drive C: and is registered the way its setup would do it.
    const std::filesystem::path target = machine_.c("Program Files\\SxTest\\Calculator.dll");
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(SXCOM_TEST_SERVER_PATH, target);
    const std::string clsid = sx::com::format_guid(kCalculatorClsid);
    set_default_value("SxTest.Calculator\\CLSID", clsid);
    set_default_value("CLSID\\" + clsid + "\\ProgID", "SxTest.Calculator");
    set_default_value("CLSID\\" + clsid + "\\InprocServer32", kServerWindowsPath);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override { CoUninitialize(); }

  ComPtr<ICalculator> create() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"SxTest.Calculator", &clsid), S_OK);
    ComPtr<ICalculator> calculator;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr,
                               CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                               ICalculator::kIid, calculator.PutVoid()),
              S_OK);
    return calculator;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(Activation, CreatesByProgIdAndCallsTheDualInterfaceBySlot) {
  ComPtr<ICalculator> calculator = create();
  ASSERT_TRUE(calculator);
  EXPECT_EQ(OleRun(calculator.Get()), S_OK);
  Variant a = Variant::from_i4(10);
  Variant b = Variant::from_utf8("3");
  LONG result = 0;
  EXPECT_EQ(calculator->Subtract(&a.get(), &b.get(), &result), S_OK);
  EXPECT_EQ(result, 7);
  // Late-bound through the same object.
  Variant objects;
  EXPECT_EQ(sx::com::get_property(calculator.Get(), u"Objects", objects.put()), S_OK);
  EXPECT_EQ(objects.to_i4(), 1);

  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(kCalculatorClsid, &progid), S_OK);
  EXPECT_EQ(std::u16string(progid), u"SxTest.Calculator");
  CoTaskMemFree(progid);
}

TEST_F(Activation, SecondCreationUsesTheLoadedServer) {
  ComPtr<ICalculator> first = create();
  ComPtr<ICalculator> second = create();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.Get(), second.Get());
  LONG objects = 0;
  second->Objects(&objects);  // both objects counted by one copy of the library
  EXPECT_EQ(objects, 2);
}

TEST_F(Activation, SameWindowsPathOnAFreshMachineLoadsThatMachinesFile) {
  ComPtr<ICalculator> here = create();
  ASSERT_TRUE(here);
  {
    // Another machine whose class points to a file that is not there.
    sx::testing::TempMachine other;
    ASSERT_EQ(CoInitialize(nullptr), S_FALSE);
    set_default_value("CLSID\\" + sx::com::format_guid(kCalculatorClsid) + "\\InprocServer32",
                      kServerWindowsPath);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kCalculatorClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              CO_E_DLLNOTFOUND);
    CoUninitialize();
  }
}

TEST_F(Activation, MethodFailureCarriesErrorInfo) {
  ComPtr<ICalculator> calculator = create();
  ASSERT_TRUE(calculator);
  Variant a = Variant::from_utf8("ten");
  Variant b = Variant::from_i4(1);
  LONG result = 0;
  const HRESULT hr = calculator->Subtract(&a.get(), &b.get(), &result);
  EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
  try {
    sx::com::throw_if_failed(hr);
  } catch (const sx::com::ComError& e) {
    EXPECT_STREQ(e.Source(), "SxTest.Calculator");
    EXPECT_STREQ(e.Description(), "Subtract needs numbers");
  }
}

TEST_F(Activation, InterfaceTheClassLacksIsNoInterface) {
  void* object = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(
      CoCreateInstance(kCalculatorClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &object),
      E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST_F(Activation, ObjectCalledFromAnotherThreadFailsWithWrongThread) {
  ComPtr<ICalculator> calculator = create();
  ASSERT_TRUE(calculator);
  HRESULT from_worker = S_OK;
  std::thread([&] {
    CoInitialize(nullptr);
    LONG n = 0;
    from_worker = calculator->Objects(&n);
    CoUninitialize();
  }).join();
  EXPECT_EQ(from_worker, RPC_E_WRONG_THREAD);
}

TEST_F(Activation, UnregisteredClassesAndNamesFail) {
  void* object = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(CoCreateInstance(kLocalClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  CLSID clsid = kLocalClsid;
  EXPECT_EQ(CLSIDFromProgID(u"No.Such", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  // Only the local server context asked for: the in-process server does not count.
  EXPECT_EQ(CoCreateInstance(kCalculatorClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  // A registered path whose file is missing.
  set_default_value("CLSID\\" + sx::com::format_guid(kLocalClsid) + "\\InprocServer32",
                    "C:\\Program Files\\SxTest\\Missing.dll");
  EXPECT_EQ(CoCreateInstance(kLocalClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CO_E_DLLNOTFOUND);
}

TEST_F(Activation, AggregationIsRefused) {
  ComPtr<ICalculator> outer = create();
  void* object = nullptr;
  EXPECT_EQ(
      CoCreateInstance(kCalculatorClsid, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
      CLASS_E_NOAGGREGATION);
}

TEST_F(Activation, CreationWithoutComOnTheThreadIsNotInitialized) {
  HRESULT hr = S_OK;
  void* object = reinterpret_cast<void*>(0xdeadbeef);
  std::thread([&] {
    hr = CoCreateInstance(kCalculatorClsid, nullptr, CLSCTX_ALL, ICalculator::kIid, &object);
  }).join();
  EXPECT_EQ(hr, CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
}

TEST_F(Activation, LocalServerStartsOnFirstCreationAndIsReachedAfterwards) {
  set_default_value("CLSID\\" + sx::com::format_guid(kLocalClsid) + "\\LocalServer32",
                    "C:\\Program Files\\SxTest\\Server.exe");
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kLocalClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CO_E_SERVER_EXEC_FAILURE);  // no stand-in serves it yet

  // The server hands out one application object to every creation.
  int starts = 0;
  ComPtr<ICalculator> application;
  sx::com::register_local_server(kLocalClsid, [&](IClassFactory** factory) {
    ++starts;
    return sx::com::make_object<sx::com::FunctionClassFactory>([&](REFIID iid, void** out) {
             if (!application) {
               CoCreateInstance(kCalculatorClsid, nullptr, CLSCTX_INPROC_SERVER, ICalculator::kIid,
                                application.PutVoid());
             }
             return application ? application->QueryInterface(iid, out) : E_FAIL;
           })
        ->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(factory));
  });
  ComPtr<ICalculator> first;
  ComPtr<ICalculator> second;
  EXPECT_EQ(CoCreateInstance(kLocalClsid, nullptr, 7, ICalculator::kIid, first.PutVoid()), S_OK);
  EXPECT_EQ(CoCreateInstance(kLocalClsid, nullptr, 7, ICalculator::kIid, second.PutVoid()), S_OK);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(first.Get(), second.Get());
  sx::com::unregister_local_server(kLocalClsid);
  application = nullptr;
}

// The count the test server keeps of its loads or unloads; 0 when it never counted.
DWORD server_count(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\SxTest", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
      ERROR_SUCCESS)
    value = 0;
  RegCloseKey(key);
  return value;
}

TEST_F(Activation, UnusedServerIsUnloadedWithItsGlobalsAndOneWithLiveObjectsIsKept) {
  CoFreeUnusedLibraries();  // copies that earlier tests loaded from their machines go first
  const DWORD unloads_before = server_count("Unloads");
  ComPtr<ICalculator> calculator = create();
  ASSERT_TRUE(calculator);
  EXPECT_EQ(server_count("Loads"), 1u);
  CoFreeUnusedLibraries();
  EXPECT_NE(GetModuleHandleA(kServerWindowsPath), nullptr);  // an object of it lives: kept
  LONG objects = 0;
  EXPECT_EQ(calculator->Objects(&objects), S_OK);

  calculator = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_EQ(GetModuleHandleA(kServerWindowsPath), nullptr);
  EXPECT_EQ(server_count("Unloads"), unloads_before + 1);  // its globals went with it
  calculator = create();                                   // and the next creation loads it afresh
  ASSERT_TRUE(calculator);
  EXPECT_EQ(server_count("Loads"), 2u);
  EXPECT_EQ(calculator->Objects(&objects), S_OK);
  EXPECT_EQ(objects, 1);
}

TEST_F(Activation, RegisteringAServerCallsItsEntryPointAsRegsvr32Does) {
  // The sample server has no DllRegisterServer: the missing entry point is reported.
  EXPECT_EQ(sx::com::register_server_module(kServerWindowsPath),
            HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(sx::com::register_server_module("C:\\Program Files\\SxTest\\Missing.dll"),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA(kServerWindowsPath), nullptr);  // unloaded again
}

}  // namespace
