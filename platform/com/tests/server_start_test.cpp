// A local server class whose LocalServer32 names a program of the machine: the first creation
// starts that program with "/embedding" and connects to it once it has registered its class object.
// The program is a starter script around remote_test_server; it notes each start in a file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "remote_objects.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"

SX_COM_PROXY(IProbe, SX_TEST_PROBE_MEMBERS);

namespace {

using namespace std::chrono_literals;
using sx::com::ComPtr;

constexpr char kProgram[] = "C:\\Program Files\\Probe Server\\probe.exe";

class ServerStartTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override {
    for (long pid : started_pids()) ::kill(static_cast<pid_t>(pid), SIGKILL);
    CoUninitialize();
  }

  // LocalServer32 = `command`; the program is a script with `body` after its start note.
  void install(const std::string& command, const std::string& body, bool executable = true) {
    HKEY key = nullptr;
    const std::string path = "CLSID\\" + sx::com::format_guid(kProbeClsid) + "\\LocalServer32";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>(command.size() + 1)),
        ERROR_SUCCESS);
    RegCloseKey(key);
    const std::filesystem::path host = machine_.c("Program Files\\Probe Server\\probe.exe");
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host) << "#!/bin/sh\necho \"$$ $*\" >> '" << started_file().string() << "'\n"
                        << body << "\n";
    ::chmod(host.c_str(), executable ? 0755 : 0644);
  }
  void install_server(const std::string& command = std::string("\"") + kProgram + "\"") {
    install(command, std::string("exec '") + SXCOM_REMOTE_TEST_SERVER + "' '" +
                         machine_.root().string() + "' serve");
  }

  std::filesystem::path started_file() const { return machine_.root() / "started"; }
  std::vector<std::string> started_lines() const {
    std::vector<std::string> lines;
    std::ifstream in(started_file());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<long> started_pids() const {
    std::vector<long> pids;
    for (const std::string& line : started_lines()) pids.push_back(std::stol(line));
    return pids;
  }

  HRESULT create(ComPtr<IProbe>* probe) {
    return CoCreateInstance(kProbeClsid, nullptr, CLSCTX_LOCAL_SERVER, IProbe::kIid,
                            probe->PutVoid());
  }

  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
};

TEST_F(ServerStartTest, TheProgramStartsWithEmbeddingAndLaterCreationsReachIt) {
  // Unquoted, with spaces, and an argument of its own, as setup programs wrote it.
  install_server(std::string(kProgram) + " -quiet");
  ComPtr<IProbe> first;
  ASSERT_EQ(create(&first), S_OK);
  ASSERT_EQ(started_lines().size(), 1u);
  const std::string line = started_lines()[0];
  EXPECT_EQ(line.substr(line.find(' ') + 1), "-quiet /embedding");
  LONG pid = 0;
  ASSERT_EQ(first->get_Pid(&pid), S_OK);
  EXPECT_EQ(pid, started_pids()[0]);  // the script's process became the server
  EXPECT_NE(pid, ::getpid());

  ComPtr<IProbe> second;
  ASSERT_EQ(create(&second), S_OK);
  LONG again = 0;
  ASSERT_EQ(second->get_Pid(&again), S_OK);
  EXPECT_EQ(again, pid);
  EXPECT_EQ(started_lines().size(), 1u);
}

TEST_F(ServerStartTest, CreationsAtOnceStartOneServer) {
  install_server();
  constexpr int kThreads = 4;
  std::vector<LONG> pids(kThreads, 0);
  std::vector<HRESULT> results(kThreads, E_FAIL);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        ComPtr<IProbe> probe;
        results[i] = create(&probe);
        if (probe) probe->get_Pid(&pids[i]);
      }
      CoUninitialize();
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(results[i], S_OK) << i;
    EXPECT_EQ(pids[i], pids[0]) << i;
  }
  EXPECT_EQ(started_lines().size(), 1u);
}

TEST_F(ServerStartTest, AProgramThatEndsWithoutRegisteringFailsTheCreation) {
  install(std::string("\"") + kProgram + "\"", "exit 3");
  ComPtr<IProbe> probe;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(create(&probe), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);  // noticed, not waited out
  EXPECT_FALSE(probe);
  EXPECT_EQ(started_lines().size(), 1u);
}

TEST_F(ServerStartTest, AFileThatIsNoProgramLeavesTheClassToTheStandIn) {
  install(std::string("\"") + kProgram + "\"", "exit 3", /*executable=*/false);
  ComPtr<IProbe> probe;
  EXPECT_EQ(create(&probe), CO_E_SERVER_EXEC_FAILURE);  // no stand-in here either
  auto factory = sx::com::make_class_factory<remote_test::Probe>();
  sx::com::register_local_server(kProbeClsid, factory.Get());
  EXPECT_EQ(create(&probe), S_OK);
  LONG pid = 0;
  ASSERT_EQ(probe->get_Pid(&pid), S_OK);
  EXPECT_EQ(pid, ::getpid());
  probe = nullptr;
  sx::com::unregister_local_server(kProbeClsid);
  EXPECT_TRUE(started_lines().empty());
}

}  // namespace
