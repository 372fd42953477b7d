// FindAddIn and SetAddIn over Outlook's COM add-ins (the sample add-ins, registered before Outlook
// starts: "Sample SxTest.AddInA" and "...AddInB" load at start-up, "...Failing" does not).
#include "sx/outlook/addins.h"
#include "update_fixture.h"

namespace sx::update::testing {
namespace {

constexpr char kA[] = "Sample SxTest.AddInA";
constexpr char kB[] = "Sample SxTest.AddInB";

class AddInTest : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    const std::filesystem::path dll = machine_.c("Program Files\\SxTest\\AddIns.dll");
    std::filesystem::create_directories(dll.parent_path());
    std::filesystem::copy_file(SX_TEST_ADDINS_PATH, dll);
    ASSERT_EQ(sx::com::register_server_module("C:\\Program Files\\SxTest\\AddIns.dll"), S_OK);
  }
  LONG set_addin(const char* description, bool flag) {
    Variant name = Variant::from_utf8(description), on = Variant::from_bool(flag);
    LONG result = 0x5EED;
    EXPECT_EQ(component_->SetAddIn(&name.get(), &on.get(), &result), S_OK);
    return result;
  }
  LONG find(const char* description) { return call(&_Update1::FindAddIn, description); }
};

TEST_F(AddInTest, FindAddInGivesTheIndexAndWhetherItIsConnected) {
  EXPECT_EQ(find(kA), 0x10001);
  EXPECT_EQ(find("Sample SxTest.Failing"), 3);
  EXPECT_EQ(find("sample sxtest.addina"), 0);  // exact
  EXPECT_EQ(find("Nobody"), 0);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(AddInTest, OfTwoAddInsWithOneDescriptionFindAddInTellsTheLastAndSetAddInSwitchesTheFirst) {
  ASSERT_TRUE(sx::outlook::addins::write({"SxTest.AddInB", "SxTest.AddInB", kA, 2}));
  EXPECT_EQ(find(kA), 2);
  set_namespace();
  EXPECT_EQ(set_addin(kA, false), 0x10001);
  EXPECT_EQ(find(kA), 2);
  EXPECT_EQ(set_addin(kA, true), 1);
}

TEST_F(AddInTest, SetAddInBeforeSetNameSpaceTellsTheIndexAndChangesNothing) {
  ASSERT_TRUE(sx::outlook::addins::set_load_behavior("SxTest.AddInB", 2));
  EXPECT_EQ(set_addin(kB, true), 2);
  EXPECT_EQ(find(kB), 2);
  set_namespace();
  EXPECT_EQ(set_addin(kB, true), 2);
  EXPECT_EQ(find(kB), 0x10002);
}

TEST_F(AddInTest, SetAddInOnAConnectedAddInWithTrueSetsNothing) {
  set_namespace();
  sx::outlook::inject_fault(
      {.kind = "COMAddIn", .operation = "put_Connect", .times = 0, .description = "switched"});
  EXPECT_EQ(set_addin(kA, true), 0x10001);  // put_Connect was never called
  EXPECT_TRUE(boxes().empty());
}

TEST_F(AddInTest, FailuresGiveTheErrorNumberPlusTheStageAndTheMessage) {
  set_namespace();
  const ULONG error = 0x80040107;
  fail("COMAddIns", "get_Count");
  EXPECT_EQ(static_cast<ULONG>(find(kA)), error + 0x100000);
  fail("COMAddIn", "get_Description", 2);  // after Item(1) and Item(2)
  EXPECT_EQ(static_cast<ULONG>(find(kA)), error + 0x400000);
  fail("COMAddIn", "put_Connect");  // B is the second: its pass starts at 0x210000
  EXPECT_EQ(static_cast<ULONG>(set_addin(kB, false)), error + 0x210000 + 0x410000);
  EXPECT_EQ(find(kB), 0x10002);
  EXPECT_EQ(boxes(), (std::vector<std::string>{"FindAddIn:COMAddIns.get_Count failed",
                                               "FindAddIn:COMAddIn.get_Description failed",
                                               "SetAddIn:COMAddIn.put_Connect failed"}));
}

}  // namespace
}  // namespace sx::update::testing
