// Outlook as a program of its own, as on Windows: with the machine's setting on, creating
// "Outlook.Application" from any process starts (or reaches) one Outlook process, which ends with
// its last client. This test is one client; outlook_test_client is the other. Real processes, so
// real time, and every wait has a limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "outlook/outlook.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"
#include "win32/window.h"

namespace sx::outlook {
namespace {

using namespace std::chrono_literals;
using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

template <class Done>
bool eventually(Done done, std::chrono::milliseconds limit = 15s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

bool alive(long pid) {
  // A child of this process that ended is reaped by the process stand-in; any other by the host.
  return pid > 0 && !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

class OutlookMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(install(InstallOptions{}, &why)) << why;
    ASSERT_FALSE(outlook_process_on());  // off unless asked for
    ASSERT_TRUE(set_outlook_process(true, SX_OUTLOOK_PROGRAM, &why)) << why;
    ASSERT_TRUE(outlook_process_on());
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    for (pid_t client : clients_) {
      ::kill(client, SIGKILL);
      ::waitpid(client, nullptr, 0);
    }
    for (long pid : outlooks_) {
      if (alive(pid)) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    CoUninitialize();
  }

  ComPtr<_Application> create() {
    ComPtr<_Application> app;
    EXPECT_EQ(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                               _Application::kIid, app.PutVoid()),
              S_OK);
    if (app) remember_outlook();
    return app;
  }
  // The pid of the Outlook process registered for the machine; 0 when none is.
  long registered_outlook() const {
    std::ifstream in(machine_.root() / "com" / "classes" /
                     sx::com::format_guid(CLSID_OutlookApplication));
    long pid = 0;
    return in >> pid ? pid : 0;
  }
  long remember_outlook() {
    const long pid = registered_outlook();
    if (pid != 0 && (outlooks_.empty() || outlooks_.back() != pid)) outlooks_.push_back(pid);
    return pid;
  }

  pid_t start_client(const std::vector<std::string>& args) {
    std::vector<std::string> all = {SX_OUTLOOK_TEST_CLIENT, machine_.root().string()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t child = ::fork();
    if (child == 0) {
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    clients_.push_back(child);
    return child;
  }
  int run_client(const std::vector<std::string>& args) {
    const pid_t child = start_client(args);
    int status = 0;
    ::waitpid(child, &status, 0);
    clients_.pop_back();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A client that creates Outlook and holds its objects until killed; "1" or "0": whether it runs
  // an Outlook of its own.
  std::string start_holder(pid_t* holder) {
    *holder = start_client({"hold"});
    const std::filesystem::path file = machine_.root() / ("holding-" + std::to_string(*holder));
    std::string here;
    EXPECT_TRUE(eventually([&] {
      std::ifstream in(file);
      return static_cast<bool>(in >> here);
    })) << "the holder did not reach Outlook";
    remember_outlook();
    return here;
  }

  static std::vector<std::string> inbox_subjects(_Application* app) {
    ComPtr<_NameSpace> ns;
    ComPtr<MAPIFolder> inbox;
    ComPtr<_Items> items;
    Bstr mapi = Bstr::from_utf8("MAPI");
    EXPECT_EQ(app->GetNamespace(mapi.get(), ns.GetAddressOf()), S_OK);
    EXPECT_EQ(ns->GetDefaultFolder(olFolderInbox, inbox.GetAddressOf()), S_OK);
    EXPECT_EQ(inbox->get_Items(items.GetAddressOf()), S_OK);
    std::vector<std::string> subjects;
    if (!items) return subjects;
    LONG count = 0;
    items->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<IDispatch> item;
      Variant at = Variant::from_i4(i);
      if (FAILED(items->Item(at.get(), item.GetAddressOf()))) continue;
      Variant subject;
      sx::com::get_property(item.Get(), u"Subject", subject.put());
      subjects.push_back(subject.to_utf8());
    }
    return subjects;
  }

  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
  std::vector<pid_t> clients_;
  std::vector<long> outlooks_;
};

TEST_F(OutlookMachineTest, TwoClientProcessesReachOneOutlookProcess) {
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  const long outlook = registered_outlook();
  ASSERT_NE(outlook, 0);
  EXPECT_NE(outlook, ::getpid());
  EXPECT_FALSE(outlook_running_here());
  EXPECT_TRUE(sx::window::process_has_top_level_window(static_cast<std::uint32_t>(outlook)));
  EXPECT_NE(FindWindowA(kMainWindowClass, nullptr), nullptr);

  pid_t holder = 0;
  EXPECT_EQ(start_holder(&holder), "0");  // no Outlook of its own either
  EXPECT_EQ(registered_outlook(), outlook);
  EXPECT_EQ(outlooks_.size(), 1u);

  // Calls reach it: its version is OUTLOOK.EXE's.
  Bstr version;
  ASSERT_EQ(app->get_Version(version.put()), S_OK);
  EXPECT_EQ(version.utf8(), kDefaultVersion);
}

TEST_F(OutlookMachineTest, APostSavedThroughOneClientIsSeenByTheOtherAtOnce) {
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  const std::vector<std::string> before = inbox_subjects(app.Get());
  ASSERT_EQ(run_client({"post", "From the other client"}), 0);
  const std::vector<std::string> after = inbox_subjects(app.Get());
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after.back(), "From the other client");
  EXPECT_EQ(outlooks_.size(), 1u);
  EXPECT_EQ(registered_outlook(), outlooks_[0]);  // the client's creation reached the same one
}

TEST_F(OutlookMachineTest, OutlooksProcessEndsWhenTheLastClientLetsGo) {
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  const long outlook = registered_outlook();
  ASSERT_EQ(run_client({"post", "One"}), 0);  // a client that comes and goes
  EXPECT_TRUE(alive(outlook));                // this one still holds it
  app = nullptr;
  EXPECT_TRUE(eventually([&] { return !alive(outlook); }));
  EXPECT_EQ(FindWindowA(kMainWindowClass, nullptr), nullptr);
  EXPECT_EQ(registered_outlook(), 0);

  // The next creation starts a new one, which has kept nothing but the store.
  app = create();
  ASSERT_TRUE(app);
  EXPECT_NE(registered_outlook(), outlook);
  const std::vector<std::string> subjects = inbox_subjects(app.Get());
  EXPECT_EQ(std::count(subjects.begin(), subjects.end(), "One"), 1);
}

TEST_F(OutlookMachineTest, ACreationWhileOutlookEndsReachesTheNextOutlook) {
  // The last release does not wait for Outlook to end: each creation meets the one before ending.
  for (int round = 0; round < 10; ++round) {
    ComPtr<_Application> app = create();
    ASSERT_TRUE(app) << round;
    Bstr version;
    EXPECT_EQ(app->get_Version(version.put()), S_OK) << round;
  }
  EXPECT_TRUE(eventually([&] {
    return std::none_of(outlooks_.begin(), outlooks_.end(), [](long pid) { return alive(pid); });
  }));
}

TEST_F(OutlookMachineTest, QuitAndWmCloseEndOutlooksProcess) {
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  long outlook = registered_outlook();
  EXPECT_EQ(app->Quit(), S_OK);
  EXPECT_TRUE(eventually([&] { return !alive(outlook); }));
  Bstr version;
  EXPECT_EQ(app->get_Version(version.put()), RPC_E_DISCONNECTED);

  app = create();
  ASSERT_TRUE(app);
  outlook = registered_outlook();
  EXPECT_EQ(close_running_outlooks(), 1);
  EXPECT_TRUE(eventually([&] { return !alive(outlook); }));
  EXPECT_EQ(app->get_Version(version.put()), RPC_E_DISCONNECTED);
}

TEST_F(OutlookMachineTest, AKilledClientStillLetsOutlookEnd) {
  pid_t holder = 0;
  ASSERT_EQ(start_holder(&holder), "0");
  const long outlook = registered_outlook();
  ASSERT_NE(outlook, 0);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  clients_.clear();
  EXPECT_TRUE(eventually([&] { return !alive(outlook); }));
}

TEST_F(OutlookMachineTest, AKilledOutlookDisconnectsItsClientsAndTheNextCreationStartsAnother) {
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  ComPtr<_NameSpace> ns;
  Bstr mapi = Bstr::from_utf8("MAPI");
  ASSERT_EQ(app->GetNamespace(mapi.get(), ns.GetAddressOf()), S_OK);
  const long outlook = registered_outlook();
  ::kill(static_cast<pid_t>(outlook), SIGKILL);
  ASSERT_TRUE(eventually([&] { return !alive(outlook); }));
  Bstr version;
  EXPECT_TRUE(eventually([&] { return app->get_Version(version.put()) == RPC_E_DISCONNECTED; }));
  ComPtr<MAPIFolder> inbox;
  EXPECT_EQ(ns->GetDefaultFolder(olFolderInbox, inbox.GetAddressOf()), RPC_E_DISCONNECTED);

  ComPtr<_Application> next = create();
  ASSERT_TRUE(next);
  const long started = registered_outlook();
  EXPECT_NE(started, outlook);
  EXPECT_TRUE(alive(started));
  ASSERT_EQ(next->get_Version(version.put()), S_OK);
}

TEST_F(OutlookMachineTest, APersonsOutlookIsTheProcessTheOtherClientsReach) {
  int input[2] = {-1, -1};
  ASSERT_EQ(::pipe(input), 0);
  const pid_t person = ::fork();
  if (person == 0) {
    ::dup2(input[0], 0);
    ::close(input[0]);
    ::close(input[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::setenv("SX_WINDOW_HOST", "none", 1);
    const std::string root = machine_.root().string();
    ::execl(SX_OUTLOOK_PROGRAM, SX_OUTLOOK_PROGRAM, "--machine", root.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(input[0]);
  clients_.push_back(person);
  ASSERT_TRUE(eventually([&] { return registered_outlook() == person; }));

  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  EXPECT_EQ(registered_outlook(), person);
  ComPtr<_Explorers> explorers;
  ASSERT_EQ(app->get_Explorers(explorers.GetAddressOf()), S_OK);
  LONG shown = 0;
  ASSERT_EQ(explorers->get_Count(&shown), S_OK);
  EXPECT_EQ(shown, 1);  // the person's
  app = nullptr;
  EXPECT_TRUE(alive(person));  // its explorer keeps it, not the clients

  ::close(input[1]);  // the end of the person's input ends Outlook
  int status = -1;
  ::waitpid(person, &status, 0);
  clients_.clear();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(registered_outlook(), 0);
}

TEST_F(OutlookMachineTest, WithTheSettingOffEachProcessRunsItsOwnOutlook) {
  std::string why;
  ASSERT_TRUE(set_outlook_process(false, {}, &why)) << why;
  EXPECT_FALSE(outlook_process_on());
  EXPECT_EQ(installed_version(), kDefaultVersion);  // the stamp stays
  ComPtr<_Application> app = create();
  ASSERT_TRUE(app);
  EXPECT_TRUE(outlook_running_here());
  pid_t holder = 0;
  EXPECT_EQ(start_holder(&holder), "1");
  EXPECT_EQ(app->Quit(), S_OK);
}

}  // namespace
}  // namespace sx::outlook
