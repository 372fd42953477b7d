#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sx/testing/temp_machine.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using IntFunction = int (*)();

class ModuleLoaderTest : public ::testing::Test {
 protected:
  // Copies the test module into the machine at a Windows path.
  void install(const std::string& windows_path) {
    const fs::path host = machine_.c(windows_path.substr(3));
    fs::create_directories(host.parent_path());
    fs::copy_file(SX_TEST_MODULE_PATH, host);
  }

  static int call(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    return proc ? reinterpret_cast<IntFunction>(reinterpret_cast<void*>(proc))() : -1;
  }

  static std::string file_name(HMODULE module) {
    char buffer[1024];
    const DWORD n = GetModuleFileNameA(module, buffer, sizeof(buffer));
    return std::string(buffer, n);
  }

  sx::testing::TempMachine machine_;
};

TEST_F(ModuleLoaderTest, HostPathLoadsAndExportsResolve) {
  HMODULE module = LoadLibraryA(SX_TEST_MODULE_PATH);
  ASSERT_NE(module, nullptr) << sx::modules::last_load_error();
  EXPECT_EQ(call(module, "sx_test_module_answer"), 42);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(3))),
            nullptr);  // ordinals do not exist here
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(file_name(module), SX_TEST_MODULE_PATH);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModuleLoaderTest, ReferencesAreCountedAndTheLastFreeUnloads) {
  HMODULE first = LoadLibraryA(SX_TEST_MODULE_PATH);
  ASSERT_NE(first, nullptr);
  HMODULE second = LoadLibraryA("sxtestmod.DLL");  // by the name of a loaded module
  EXPECT_EQ(second, first);
  EXPECT_EQ(call(first, "sx_test_module_calls"), 1);
  EXPECT_EQ(call(first, "sx_test_module_calls"), 2);
  ASSERT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleA("SXTESTMOD"), first);  // one reference left
  ASSERT_TRUE(FreeLibrary(second));
  EXPECT_EQ(GetModuleHandleA("sxtestmod.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(::dlopen(SX_TEST_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);  // really unloaded
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HMODULE again = LoadLibraryA(SX_TEST_MODULE_PATH);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(call(again, "sx_test_module_calls"), 1);  // fresh state after the reload
  FreeLibrary(again);
}

TEST_F(ModuleLoaderTest, WindowsPathsAreMappedAndReportedAsWindowsPaths) {
  install("C:\\Program Files\\Vorlan\\SXTestMod.dll");
  HMODULE module = LoadLibraryA("c:\\program files\\VORLAN\\sxtestmod");  // ".dll" is implied
  ASSERT_NE(module, nullptr) << sx::modules::last_load_error();
  EXPECT_EQ(file_name(module), "C:\\Program Files\\Vorlan\\SXTestMod.dll");
  EXPECT_EQ(GetModuleHandleA("C:\\Program Files\\Vorlan\\sxtestmod.dll"), module);
  EXPECT_EQ(call(module, "sx_test_module_answer"), 42);
  FreeLibrary(module);
}

TEST_F(ModuleLoaderTest, BareNamesLookInSystem32BeforeTheProgramsFolder) {
  HMODULE beside = LoadLibraryA("sxtestmod");  // only beside the test program so far
  ASSERT_NE(beside, nullptr) << sx::modules::last_load_error();
  EXPECT_EQ(file_name(beside), SX_TEST_MODULE_PATH);
  FreeLibrary(beside);

  install("C:\\Windows\\System32\\SXTESTMOD.DLL");
  HMODULE system = LoadLibraryA("sxtestmod.dll");
  ASSERT_NE(system, nullptr) << sx::modules::last_load_error();
  EXPECT_EQ(file_name(system), "C:\\Windows\\System32\\SXTESTMOD.DLL");
  FreeLibrary(system);
}

TEST_F(ModuleLoaderTest, MissingAndForeignFilesFailWithWindowsCodes) {
  EXPECT_EQ(LoadLibraryA("C:\\nowhere\\none.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryA("no_such_module_anywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(sx::modules::last_load_error().find("no_such_module_anywhere.dll"), std::string::npos);

  std::ofstream(machine_.c("text.dll")) << "MZ this is not a library";
  EXPECT_EQ(LoadLibraryA("C:\\text.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_FALSE(sx::modules::last_load_error().empty());
  EXPECT_EQ(GetModuleHandleA("no_such_module_anywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModuleLoaderTest, TheProgramAndItsLibrariesAreFoundWithoutLoading) {
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(fs::path(file_name(program)).filename(), "sx_module_test");
  EXPECT_EQ(file_name(nullptr), file_name(program));

  HMODULE runtime = GetModuleHandleA("libsxwin32.so");  // loaded with the program
  ASSERT_NE(runtime, nullptr);
  EXPECT_NE(GetProcAddress(runtime, "LoadLibraryA"), nullptr);
  EXPECT_TRUE(FreeLibrary(runtime));  // never unloaded: still there
  EXPECT_EQ(GetModuleHandleA("LIBSXWIN32.SO"), runtime);
}

TEST_F(ModuleLoaderTest, ModuleFileNameIsCutTheWindowsWay) {
  HMODULE module = LoadLibraryA(SX_TEST_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  const std::string full = SX_TEST_MODULE_PATH;
  char buffer[8];
  std::memset(buffer, 0xCC, sizeof(buffer));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetModuleFileNameA(module, buffer, 5), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(buffer), full.substr(0, 4));
  EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xCC);

  std::string exact(full.size() + 1, 'x');
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetModuleFileNameA(module, exact.data(), static_cast<DWORD>(exact.size())),
            full.size());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(exact.c_str(), full);
  EXPECT_EQ(GetModuleFileNameA(module, exact.data(), static_cast<DWORD>(full.size())), full.size());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1234), buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  FreeLibrary(module);
}

}  // namespace
