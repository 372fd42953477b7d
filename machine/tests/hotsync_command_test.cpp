// The machine tool's HotSync commands as a person uses them: each call is its own process.
#include <gtest/gtest.h>

#include <fstream>

#include "registry_test_util.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class HotSyncCommandTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(HotSyncCommandTest, InstallAddUserPutListAndSync) {
  ASSERT_EQ(run_tool({"create"}).exit_code, 0);
  ToolResult r = run_tool({"hotsync", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Palm\\HotSync.exe")));
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Palm\\instaide.dll")));
  r = run_tool({"hotsync", "add-user", "Jane M\xC3\xBCller", "--id", "12"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(run_tool({"hotsync", "users"}).output,
            "Jane M\xC3\xBCller             id 12         directory JaneMller\n");

  sx::hotsync::PdbDatabase db;
  db.name = "ScribbixDB";
  db.version = 2;
  db.creator = 0x56535871;
  db.type = 0x44415441;
  db.records.push_back({0x43, 0x10, {'h', 'i', 0}});
  db.records.push_back({0x88, 0x11, {'o', 'l', 'd'}});
  std::string why;
  const auto file = machine_.root() / "scrib.pdb";
  ASSERT_TRUE(sx::hotsync::save_database(file, db, &why)) << why;
  r = run_tool({"hotsync", "put", "Jane M\xC3\xBCller", file.string()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = run_tool({"hotsync", "list", "Jane M\xC3\xBCller"});
  EXPECT_NE(r.output.find(
                "ScribbixDB                       creator 'VSXq' type 'DATA' version 2, 2 records"),
            std::string::npos)
      << r.output;
  r = run_tool({"hotsync", "list", "Jane M\xC3\xBCller", "ScribbixDB"});
  EXPECT_NE(r.output.find("      0  0x000010   0x43  -u--     3     3  hi."), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("      1  0x000011   0x88  d--a     -     3  old"), std::string::npos)
      << r.output;
  r = run_tool({"hotsync", "sync", "Jane M\xC3\xBCller"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("HotSync operation completed"), std::string::npos) << r.output;
  EXPECT_EQ(run_tool({"hotsync", "list", "Jane M\xC3\xBCller"}).output.find("last HotSync never"),
            std::string::npos);
}

TEST_F(HotSyncCommandTest, MistakesAreRefusedWithExitCodeOne) {
  ASSERT_EQ(run_tool({"create"}).exit_code, 0);
  EXPECT_EQ(run_tool({"hotsync", "add-user", "Nobody"}).exit_code, 1);  // HotSync not installed
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  EXPECT_EQ(run_tool({"hotsync", "list", "Nobody"}).exit_code, 1);
  EXPECT_EQ(run_tool({"hotsync", "frobnicate"}).exit_code, 1);
  ToolResult help = run_tool({"hotsync", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("sxmachine hotsync sync USER"), std::string::npos);
  std::ofstream(machine_.root() / "bad.pdb") << "short";
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Ann"}).exit_code, 0);
  ToolResult bad = run_tool({"hotsync", "put", "Ann", (machine_.root() / "bad.pdb").string()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("shorter than the 78-byte header"), std::string::npos) << bad.output;
}

}  // namespace
}  // namespace sx::registry::testing
