// The store and folder methods: names given, codes of every stage, the searches' exactness.
#include "update_fixture.h"

namespace sx::update::testing {
namespace {

constexpr LONG kFailed = static_cast<LONG>(0x80000107u);  // 0x80040107 AND 0xFF00FFFF

TEST_F(UpdateTest, AddPstNamesTheShippedStoreIntoTheNotesLayout) {
  EXPECT_EQ(set_namespace(), 1);
  EXPECT_EQ(call(&_Update1::AddPst, kUpdateStorePath), 0);
  ASSERT_EQ(roots().size(), 2u);
  EXPECT_EQ(roots()[1], "Vorlan");
  EXPECT_EQ(subfolders(root_at(2).Get()), std::vector<std::string>{"Scribbix"});
  EXPECT_EQ(call(&_Update1::FindFolder, "Vorlan"), 0);
  EXPECT_EQ(call(&_Update1::CountScribbix), 0);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpdateTest, WithoutANameSpaceEveryMethodGivesItsFirstCodeAndTouchesNothing) {
  EXPECT_EQ(call(&_Update1::AddPst, kUpdateStorePath), 0x10000);
  EXPECT_EQ(call(&_Update1::RenameUpdate), 0x10000);
  EXPECT_EQ(call(&_Update1::FindFolder, "Vorlan"), 0x10000);
  EXPECT_EQ(call(&_Update1::RemoveUpdateFolder), 0x10000);
  EXPECT_EQ(call(&_Update1::RemoveScribbixFolder), 0x10000);
  EXPECT_EQ(call(&_Update1::RenameX), 0x10000);
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNoNameSpace);
  Variant path = Variant::from_utf8(kUpdateStorePath), form = Variant::from_utf8("IPM.Post.X");
  LONG begun = 0;
  EXPECT_EQ(component_->BeginUpdate(&path.get(), &form.get(), &begun), S_OK);
  EXPECT_EQ(begun, scribbixupdate::kNoNameSpace);
  EXPECT_EQ(roots().size(), 1u);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpdateTest, ASecondNameSpaceIsRefusedAndTheFirstKept) {
  EXPECT_EQ(set_namespace(), 1);
  EXPECT_EQ(set_namespace(), 0);
}

TEST_F(UpdateTest, AnUpdateStoreWithoutItsFolderStillGetsTheRootName) {
  set_namespace();
  add_store("C:\\Other.pst", "VorlanSXUpdate", {"Inbox", "Other"});
  EXPECT_EQ(call(&_Update1::AddPst, "C:\\Other.pst"), 0xE0000);
  EXPECT_EQ(roots()[1], "Vorlan");
  EXPECT_EQ(subfolders(root_at(2).Get()), (std::vector<std::string>{"Inbox", "Other"}));
}

TEST_F(UpdateTest, AnUpdateStoreWithoutSubfoldersStillGetsTheRootName) {
  set_namespace();
  add_store("C:\\Empty.pst", "VorlanSXUpdate");
  EXPECT_EQ(call(&_Update1::RenameUpdate), 0xA0000);
  EXPECT_EQ(roots()[1], "Vorlan");
}

TEST_F(UpdateTest, AFileThatIsNoUpdateStoreIsAddedButNotNamed) {
  set_namespace();
  EXPECT_EQ(call(&_Update1::AddPst, "C:\\Fresh.pst"), 0x80000);
  EXPECT_EQ(roots(), (std::vector<std::string>{"Personal Folders", "Personal Folders"}));
}

TEST_F(UpdateTest, NamesAreComparedExactly) {
  set_namespace();
  add_store("C:\\Lower.pst", "vorlan", {"Scribbix"});
  EXPECT_EQ(call(&_Update1::FindFolder, "Vorlan"), 0x80000);
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNotesFolderMissing);
  EXPECT_EQ(call(&_Update1::RemoveScribbixFolder), 0x70000);
  EXPECT_EQ(call(&_Update1::RenameX), 0x80000);
  EXPECT_EQ(roots().size(), 2u);
}

TEST_F(UpdateTest, OnlyTheFirstVorlanIsSearchedForTheNotesFolder) {
  set_namespace();
  add_store("C:\\First.pst", "Vorlan", {"Other"});
  add_store("C:\\Second.pst", "Vorlan", {"Scribbix"});
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNotesFolderMissing);
}

TEST_F(UpdateTest, RenameXMakesTheNotesStoreAnUpdateStoreThatRemoveUpdateFolderTakesOut) {
  set_namespace();
  notes_folder();
  EXPECT_EQ(call(&_Update1::RenameX), 0x90000);
  EXPECT_EQ(roots()[1], "VorlanSXUpdate");
  EXPECT_EQ(call(&_Update1::RemoveUpdateFolder), 0);
  EXPECT_EQ(roots().size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Notes\\Vorlan.pst")));  // the file stays
  EXPECT_EQ(call(&_Update1::RemoveUpdateFolder), 0x70000);
}

TEST_F(UpdateTest, RemoveScribbixFolderTakesTheNotesStoreOutOfTheProfile) {
  set_namespace();
  notes_folder();
  EXPECT_EQ(call(&_Update1::RemoveScribbixFolder), 0);
  EXPECT_EQ(roots().size(), 1u);
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNotesFolderMissing);
}

// One injected failure of a method: where it happens, the code it gives, the message.
struct StageCase {
  const char* method;
  const char* kind;
  const char* operation;
  int nth;
  ULONG stage;
};

class StageCodeTest : public UpdateTest, public ::testing::WithParamInterface<StageCase> {};

TEST_P(StageCodeTest, AFailedStepGivesTheErrorNumberWithItsStageAndTheMethodsMessage) {
  const StageCase& c = GetParam();
  const std::string method = c.method;
  set_namespace();
  if (method == "RenameUpdate" || method == "RemoveUpdateFolder") {
    Variant path = Variant::from_utf8(kUpdateStorePath);
    ASSERT_EQ(outlook()->AddStore(path.get()), S_OK);
  } else if (method != "AddPst") {
    notes_folder();
  }
  fail(c.kind, c.operation, c.nth);
  LONG result = 0;
  const char* prefix = nullptr;
  if (method == "AddPst") {
    result = call(&_Update1::AddPst, kUpdateStorePath);
    prefix = "AddPst: ";
  } else if (method == "RenameUpdate") {
    result = call(&_Update1::RenameUpdate);
    prefix = "RenameUpdate: ";
  } else if (method == "FindFolder") {
    result = call(&_Update1::FindFolder, "Vorlan");
    prefix = "FindFolder: ";
  } else if (method == "RemoveUpdateFolder") {
    result = call(&_Update1::RemoveUpdateFolder);
    prefix = "RemoveUpdateFolder: ";
  } else if (method == "RemoveScribbixFolder") {
    result = call(&_Update1::RemoveScribbixFolder);
  } else if (method == "RenameX") {
    result = call(&_Update1::RenameX);
    prefix = "RenameX: ";
  }
  EXPECT_EQ(static_cast<ULONG>(result), static_cast<ULONG>(kFailed) + c.stage);
  const std::string description = std::string(c.kind) + "." + c.operation + " failed";
  if (prefix == nullptr) {
    EXPECT_TRUE(boxes().empty());
  } else {
    EXPECT_EQ(boxes(), std::vector<std::string>{prefix + description});
  }
  // The error stays as the thread's error information for the caller.
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  Bstr text;
  info->GetDescription(text.put());
  EXPECT_EQ(text.utf8(), description);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStage, StageCodeTest,
    ::testing::Values(StageCase{"AddPst", "NameSpace", "AddStore", 1, 0x10000},
                      StageCase{"AddPst", "NameSpace", "get_Folders", 1, 0x20000},
                      StageCase{"AddPst", "Folders", "get_Count", 1, 0x30000},
                      StageCase{"AddPst", "Folders", "GetFirst", 1, 0x40000},
                      StageCase{"AddPst", "MAPIFolder", "get_Name", 1, 0x60000},
                      StageCase{"AddPst", "Folders", "GetNext", 1, 0x70000},
                      StageCase{"AddPst", "MAPIFolder", "get_Folders", 1, 0x90000},
                      StageCase{"AddPst", "Folders", "get_Count", 2, 0xA0000},
                      StageCase{"AddPst", "Folders", "GetFirst", 2, 0xB0000},
                      StageCase{"AddPst", "MAPIFolder", "get_Name", 3, 0xC0000},
                      StageCase{"AddPst", "MAPIFolder", "put_Name", 1, 0xF0000},
                      StageCase{"AddPst", "MAPIFolder", "put_Name", 2, 0},
                      StageCase{"RenameUpdate", "NameSpace", "get_Folders", 1, 0x20000},
                      StageCase{"RenameUpdate", "MAPIFolder", "put_Name", 1, 0xF0000},
                      StageCase{"FindFolder", "NameSpace", "get_Folders", 1, 0x20000},
                      StageCase{"FindFolder", "Folders", "get_Count", 1, 0x30000},
                      StageCase{"FindFolder", "Folders", "GetFirst", 1, 0x30000},
                      StageCase{"FindFolder", "MAPIFolder", "get_Name", 1, 0x60000},
                      StageCase{"FindFolder", "Folders", "GetNext", 1, 0x70000},
                      StageCase{"RemoveUpdateFolder", "NameSpace", "get_Folders", 1, 0x20000},
                      StageCase{"RemoveUpdateFolder", "Folders", "get_Count", 1, 0x30000},
                      StageCase{"RemoveUpdateFolder", "Folders", "GetFirst", 1, 0x30000},
                      StageCase{"RemoveUpdateFolder", "MAPIFolder", "get_Name", 1, 0x50000},
                      StageCase{"RemoveUpdateFolder", "Folders", "GetNext", 1, 0x60000},
                      StageCase{"RemoveUpdateFolder", "NameSpace", "RemoveStore", 1, 0x50000},
                      StageCase{"RemoveScribbixFolder", "Folders", "GetFirst", 1, 0x40000},
                      StageCase{"RemoveScribbixFolder", "MAPIFolder", "get_Name", 2, 0x50000},
                      StageCase{"RemoveScribbixFolder", "Folders", "GetNext", 1, 0x60000},
                      StageCase{"RemoveScribbixFolder", "NameSpace", "RemoveStore", 1, 0x80000},
                      StageCase{"RenameX", "NameSpace", "get_Folders", 1, 0x20000},
                      StageCase{"RenameX", "Folders", "get_Count", 1, 0x30000},
                      StageCase{"RenameX", "Folders", "GetFirst", 1, 0x40000},
                      StageCase{"RenameX", "MAPIFolder", "get_Name", 1, 0x60000},
                      StageCase{"RenameX", "Folders", "GetNext", 1, 0x70000},
                      StageCase{"RenameX", "MAPIFolder", "put_Name", 1, 0x90000}),
    [](const ::testing::TestParamInfo<StageCase>& info) {
      return std::string(info.param.method) + "_" + info.param.kind + "_" + info.param.operation +
             "_" + std::to_string(info.param.nth);
    });

TEST_F(UpdateTest, CountScribbixCountsTheNotesAndReportsAFailure) {
  set_namespace();
  ComPtr<MAPIFolder> folder = notes_folder();
  ComPtr<_Items> items;
  folder->get_Items(items.ReleaseAndGetAddressOf());
  for (int i = 0; i < 3; ++i) {
    ComPtr<IDispatch> d;
    items->Add(Variant::from_utf8("IPM.Post.ScribbixPost2").get(), d.ReleaseAndGetAddressOf());
    d.As<_OutlookItem>()->Save();
  }
  EXPECT_EQ(call(&_Update1::CountScribbix), 3);
  fail("Items", "get_Count");
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNotesFolderMissing);
  EXPECT_EQ(boxes(), std::vector<std::string>{"CountScribbix:Items.get_Count failed"});
}

}  // namespace
}  // namespace sx::update::testing
