// The command-line form as a person or a script runs it: its help, the rows of a check, and an
// install followed by an update, each a process of its own on one machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "sx/outlook/profiles.h"
#include "sx/testing/temp_machine.h"

namespace {

struct Ran {
  int code = -1;
  std::string out;
};

Ran Execute(const std::string& line) {
  Ran run;
  FILE* pipe = ::popen(("SX_WINDOW_HOST=none " + line + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    run.out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class CommandLineTest : public ::testing::Test {
 protected:
  Ran Configure(const std::string& args) {
    return Execute(std::string(SXCONFIGURE_PATH) + " --machine '" + machine_.root().string() +
                   "' " + args);
  }
  Ran Machine(const std::string& args) {
    return Execute(std::string(SXMACHINE_PATH) + " --machine '" + machine_.root().string() + "' " +
                   args);
  }
  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
};

TEST_F(CommandLineTest, HelpNamesEveryCommand) {
  const Ran help = Execute(std::string(SXCONFIGURE_PATH) + " --help");
  EXPECT_EQ(help.code, 0);
  for (const char* word : {"check", "install", "update", "--machine"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word << "\n" << help.out;
  }
  const Ran installHelp = Execute(std::string(SXCONFIGURE_PATH) + " install --help");
  EXPECT_EQ(installHelp.code, 0);
  EXPECT_NE(installHelp.out.find("--user"), std::string::npos) << installHelp.out;
  EXPECT_EQ(Configure("install --user x").code, 1);  // --profile is required
}

TEST_F(CommandLineTest, CheckPrintsTheTenRowsAndAnInstallThenAnUpdateKeepTheFolderGood) {
  ASSERT_EQ(Machine("system install").code, 0);
  Ran check = Configure("check");
  // The whole system as the machine tool installs it, both add-ins included: every row is good.
  EXPECT_EQ(check.code, 0) << check.out;
  EXPECT_NE(check.out.find("Microsoft Outlook 2000 SR-1"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("Scribbix Folder: Outlook"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("0 Entries"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("Scribbix Outlook Monitor Add-In"), std::string::npos) << check.out;
  EXPECT_EQ(check.out.find("(failed)"), std::string::npos) << check.out;
  std::size_t lines = 0;
  for (char c : check.out) lines += c == '\n';
  EXPECT_EQ(lines, 10u) << check.out;

  const Ran install = Configure("install --user 'Palm User' --profile Outlook");
  EXPECT_EQ(install.code, 0) << install.out;
  EXPECT_NE(install.out.find("Palm User Vorlan.pst"), std::string::npos) << install.out;
  // The notes file the machine tool installed is the one this installation replaced: the profile
  // holds one notes store, where the conduit and the checks look.
  const auto stores = sx::outlook::profiles::stores("Outlook");
  EXPECT_EQ(std::count_if(stores.begin(), stores.end(),
                          [](const std::string& s) { return s.ends_with(" Vorlan.pst"); }),
            1)
      << ::testing::PrintToString(stores);
  const Ran update = Configure("update --profile Outlook");
  EXPECT_EQ(update.code, 0) << update.out;
  const Ran missing = Configure("update --profile Nobody");
  EXPECT_EQ(missing.code, 1) << missing.out;
  EXPECT_NE(missing.out.find("ERROR: "), std::string::npos) << missing.out;
}

TEST_F(CommandLineTest, CheckOnAPartlyUpgradedOutlookEndsWithMinusOne) {
  ASSERT_EQ(Machine("system install").code, 0);
  ASSERT_EQ(Machine("outlook install --outlrpc-version 9.0.2416").code, 0);
  const Ran check = Configure("check");
  EXPECT_EQ(check.code, 255) << check.out;  // -1 as the shell sees it
  EXPECT_NE(check.out.find("The following file is out of date: "), std::string::npos) << check.out;
  EXPECT_EQ(check.out.find("Outlook Profiles"), std::string::npos) << check.out;  // no row after
}

}  // namespace

namespace {

TEST_F(CommandLineTest, TheMachineToolStartsTheStatusScreenWithItsSwitches) {
  ASSERT_EQ(Machine("system install").code, 0);
  // Nobody answers (host none): the wizard the switch opens is cancelled, then the screen closes.
  const Ran run = Machine("configure /INSTALL");
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_TRUE(
      std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix") / "SXConfigure.exe"));
  EXPECT_EQ(Configure("screen --help").code, 0);
  // Started directly, as the starter does.
  const Ran plain = Configure("screen -install");
  EXPECT_EQ(plain.code, 0) << plain.out;
}

}  // namespace
