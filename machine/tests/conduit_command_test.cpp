// The machine tool installs the conduit the way setup does, and HotSync then runs it: with no
// desktop side installed yet, the run stops at the desktop with message 39.
#include <gtest/gtest.h>

#include <map>

#include "machine_files.h"
#include "registry_test_util.h"
#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class ConduitCommandTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(ConduitCommandTest, InstallRegistersAndHotSyncRunsTheConduitUninstallRemovesIt) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  ASSERT_EQ(run_tool({"conduit", "install"}).exit_code, 1);  // no HotSync user yet
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Jane"}).exit_code, 0);
  ToolResult r = run_tool({"conduit", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Palm\\SXOut.dll")));

  const sx::hotsync::PdbDatabase db = empty_scribbix_db();
  std::string why;
  const auto file = machine_.root() / "scrib.pdb";
  ASSERT_TRUE(sx::hotsync::save_database(file, db, &why)) << why;
  ASSERT_EQ(run_tool({"hotsync", "put", "Jane", file.string()}).exit_code, 0);
  r = run_tool({"hotsync", "sync", "Jane"});
  EXPECT_NE(r.output.find("Synchronizing database \"ScribbixDB\"."), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[error] Failed to open database on the desktop."), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("[failed] ScribbixOutlook"), std::string::npos) << r.output;

  r = run_tool({"conduit", "uninstall"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Program Files\\Palm\\SXOut.dll")));
  EXPECT_EQ(run_tool({"reg", "query",
                      "HKCU\\Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib"})
                .exit_code,
            1);
}

TEST_F(ConduitCommandTest, AFailedInstallLeavesTheMachineAsItWas) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Jane"}).exit_code, 0);
  ASSERT_EQ(run_tool({"conduit", "install"}).exit_code, 0);
  const auto before = files_of(machine_.root());

  write_file(machine_.root() / "not-a-library.dll", "MZ nothing to load");
  struct Case {
    std::string file, message;
  };
  for (const Case& c :
       {Case{(machine_.root() / "missing.dll").string(), "ERROR: There is no file"},
        Case{(machine_.root() / "not-a-library.dll").string(), "cannot be loaded as a conduit"},
        Case{SX_TEST_CONDUIT, "is not a conduit: it has no DllRegisterServer."}}) {
    ToolResult r = run_tool({"conduit", "install", "--file", c.file, "--path", "C:\\Elsewhere"});
    EXPECT_EQ(r.exit_code, 1) << c.file;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    auto after = files_of(machine_.root());
    after.erase("not-a-library.dll");
    EXPECT_EQ(after, before) << c.file;  // SXOut.dll, the registry and no temporary left
  }
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Elsewhere")));
}

}  // namespace
}  // namespace sx::registry::testing
