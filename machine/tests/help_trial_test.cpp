// Every program's help, at every level and in every place on the line, as a careless new user would
// ask for it on a machine that holds everything: it prints the usage and changes nothing at all.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "registry_test_util.h"
#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

namespace fs = std::filesystem;

// Everything under the root: each entry's kind, size, modification time and (files) bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto stamp = entry.last_write_time().time_since_epoch().count();
    std::string state = (entry.is_directory() ? "dir " : "file ") + std::to_string(stamp);
    if (entry.is_regular_file()) state += " " + read_file(entry.path());
    entries[entry.path().lexically_relative(root).string()] = state;
  }
  return entries;
}

struct Command {
  std::string program;
  std::vector<std::string> path;  // the command's names after the program
  std::vector<std::string> args;  // what it would work on, were it not for the help
};

class HelpTrialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::initializer_list<std::string> step :
         {std::initializer_list<std::string>{"hotsync", "install"},
          {"hotsync", "add-user", "Jo"},
          {"conduit", "install"},
          {"outlook", "install"},
          {"reg", "add", "HKCU\\Software\\Mine", "/v", "N", "/d", "kept", "/f"}}) {
      ToolResult r = run_tool(step);
      ASSERT_EQ(r.exit_code, 0) << r.output;
    }
    std::string why;
    ASSERT_TRUE(sx::hotsync::save_database(pdb_, empty_scribbix_db(), &why)) << why;
  }

  std::vector<Command> commands() const {
    const std::string m = SXMACHINE_PATH, h = HOTSYNC_PATH, f = SXFOLDERS_PATH;
    const std::string inbox = "Personal Folders/Inbox";
    return {
        {m, {}, {}},
        {m, {"create"}, {"--replace"}},
        {m, {"reg"}, {}},
        {m, {"reg", "query"}, {"HKCU\\Software\\Mine"}},
        {m, {"reg", "add"}, {"HKCU\\Software\\Other", "/v", "N", "/d", "1", "/f"}},
        {m, {"reg", "delete"}, {"HKCU\\Software\\Mine", "/f"}},
        {m, {"hotsync"}, {}},
        {m, {"hotsync", "install"}, {"--program", "/bin/true"}},
        {m, {"hotsync", "add-user"}, {"New User", "--id", "5"}},
        {m, {"hotsync", "users"}, {}},
        {m, {"hotsync", "list"}, {"Jo"}},
        {m, {"hotsync", "put"}, {"Jo", pdb_.string()}},
        {m, {"hotsync", "sync"}, {"Jo"}},
        {m, {"hotsync", "action"}, {"Jo", "ApplicationVorScrib", "--set", "do-nothing"}},
        {m, {"handheld"}, {"Jo", "new", "--text", "x"}},
        {m, {"handheld"}, {"Jo", "categories", "--new", "Travel"}},
        {m, {"handheld"}, {"Jo", "clock", "--offset", "500"}},
        {m, {"handheld"}, {"Jo", "run"}},
        {m, {"outlook"}, {}},
        {m, {"outlook", "install"}, {"--version", "10.0.0.1", "--profile", "Other"}},
        {m, {"outlook", "addins"}, {}},
        {m, {"outlook", "prompt"}, {"on"}},
        {m, {"outlook", "close"}, {}},
        {m, {"com"}, {}},
        {m, {"com", "register"}, {"C:\\Program Files\\X.dll"}},
        {m, {"com", "unregister"}, {"C:\\Program Files\\X.dll"}},
        {m, {"conduit"}, {}},
        {m, {"conduit", "install"}, {"--path", "C:\\Elsewhere"}},
        {m, {"conduit", "uninstall"}, {}},
        {h, {}, {}},
        {h, {}, {"--resident"}},
        {h, {}, {"--sync", "Jo"}},
        {h, {}, {"--list"}},
        {h, {}, {"--action", "Jo", "ApplicationVorScrib"}},
        {h, {}, {"--action", "Jo", "ApplicationVorScrib", "--set", "do-nothing", "--default"}},
        {h, {}, {"--log", "Jo"}},
        {h, {}, {"--close"}},
        {f, {}, {}},
        {f, {"profiles"}, {}},
        {f, {"folders"}, {}},
        {f, {"items"}, {inbox}},
        {f, {"add-post"}, {inbox, "--subject", "x", "--prop", "K:number=1"}},
        {f, {"set"}, {inbox, "1", "--subject", "y"}},
        {f, {"set"}, {inbox, "--key", "1", "--created", "2001-01-01"}},
        {f, {"delete"}, {inbox, "1"}},
        {f, {"copy"}, {inbox, "1", "Personal Folders/Contacts"}},
        {f, {"add-contact"}, {"--last", "L"}},
        {f, {"add-store"}, {"C:\\New.pst"}},
        {f, {"check"}, {}},
        {f, {"repair"}, {"C:\\New.pst"}},
    };
  }

  sx::testing::TempMachine machine_;
  fs::path pdb_ = machine_.root().parent_path() / (machine_.root().filename().string() + ".pdb");
};

TEST_F(HelpTrialTest, HelpAnywhereChangesNothingOnTheMachine) {
  const auto before = snapshot(machine_.root());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a rewrite would show in the times
  int runs = 0;
  for (const Command& c : commands()) {
    const std::vector<std::string> machine = {"--machine", machine_.root().string()};
    auto line = [&](std::initializer_list<std::vector<std::string>> parts) {
      std::vector<std::string> all;
      for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
      return all;
    };
    for (const std::vector<std::string>& args :
         {line({machine, c.path, c.args, {"--help"}}), line({machine, {"--help"}, c.path, c.args}),
          line({machine, c.path, {"-h"}, c.args}), line({c.path, c.args, {"/?"}, machine})}) {
      ToolResult r = run_program(c.program, args, "timeout 20");  // a resident one would stay
      ++runs;
      std::string shown = fs::path(c.program).filename().string();
      for (const auto& a : args) shown += " " + a;
      EXPECT_EQ(r.exit_code, 0) << shown << "\n" << r.output;
      EXPECT_NE(r.output.find("Usage: "), std::string::npos) << shown << "\n" << r.output;
      EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << shown << "\n" << r.output;
    }
  }
  EXPECT_EQ(runs, 4 * static_cast<int>(commands().size()));
  EXPECT_EQ(snapshot(machine_.root()), before);
  fs::remove(pdb_);
}

}  // namespace
}  // namespace sx::registry::testing
