// The Outlook Bar methods, on an Outlook started with an explorer whose Outlook Bar has its three
// groups "Outlook Shortcuts", "My Shortcuts" and "Other Shortcuts".
#include "sx/outlook/outlook_process.h"
#include "update_fixture.h"

namespace sx::update::testing {
namespace {

class ShortcutTest : public UpdateTest {
 protected:
  void start_with_explorer() {
    ASSERT_EQ(sx::outlook::start_with_explorer(app_.ReleaseAndGetAddressOf()), S_OK);
  }
  bool group_exists(const char* group) {
    Variant g = Variant::from_utf8(group);
    VARIANT_BOOL result = 0x5EE;
    EXPECT_EQ(component_->GroupExists(&g.get(), &result), S_OK);
    return result != VARIANT_FALSE;
  }
  bool shortcut_exists(const char* shortcut, const char* group) {
    Variant s = Variant::from_utf8(shortcut), g = Variant::from_utf8(group);
    VARIANT_BOOL result = 0x5EE;
    EXPECT_EQ(component_->ShortCutExists(&s.get(), &g.get(), &result), S_OK);
    return result != VARIANT_FALSE;
  }
  Variant groups() {
    Variant result = Variant::from_i4(0x5EED);
    EXPECT_EQ(component_->ShortcutGroups(result.put()), S_OK);
    return result;
  }
  LONG shortcuts_in(const char* group) {
    ComPtr<_Explorer> explorer;
    app_->get_ActiveExplorer(explorer.ReleaseAndGetAddressOf());
    ComPtr<Panes> panes;
    explorer->get_Panes(panes.ReleaseAndGetAddressOf());
    ComPtr<IDispatch> pane;
    panes->Item(Variant::from_utf8("OutlookBar").get(), pane.ReleaseAndGetAddressOf());
    ComPtr<_OutlookBarStorage> contents;
    pane.As<_OutlookBarPane>()->get_Contents(contents.ReleaseAndGetAddressOf());
    ComPtr<_OutlookBarGroups> all;
    contents->get_Groups(all.ReleaseAndGetAddressOf());
    ComPtr<_OutlookBarGroup> found;
    all->Item(Variant::from_utf8(group).get(), found.ReleaseAndGetAddressOf());
    ComPtr<_OutlookBarShortcuts> shortcuts;
    found->get_Shortcuts(shortcuts.ReleaseAndGetAddressOf());
    LONG n = 0;
    shortcuts->get_Count(&n);
    return n;
  }
};

TEST_F(ShortcutTest, ShortcutGroupsListsTheThreeGroupsEachFollowedByAComma) {
  start_with_explorer();
  EXPECT_EQ(groups().get().vt, VT_EMPTY);  // no namespace: no value at all
  set_namespace();
  EXPECT_EQ(groups().to_utf8(), "Outlook Shortcuts,My Shortcuts,Other Shortcuts,");
  EXPECT_TRUE(group_exists("My Shortcuts"));
  EXPECT_FALSE(group_exists("my shortcuts"));
}

TEST_F(ShortcutTest, AShortcutToTheNotesFolderInTheSecondGroupIsFound) {
  start_with_explorer();
  set_namespace();
  notes_folder();
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), 0);
  const LONG before = shortcuts_in("My Shortcuts");
  EXPECT_EQ(call(&_Update1::CreateScribbixShortcut, "My Shortcuts"), 0);
  EXPECT_EQ(shortcuts_in("My Shortcuts"), before + 1);
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), 1);
  EXPECT_TRUE(shortcut_exists("Scribbix", "My Shortcuts"));
  EXPECT_FALSE(shortcut_exists("Scribbix", "Outlook Shortcuts"));
  EXPECT_FALSE(shortcut_exists("scribbix", "My Shortcuts"));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ShortcutTest, AMissingGroupIsNoShortcutAndItsShortcutsAreNotLookedAt) {
  start_with_explorer();
  sx::outlook::inject_fault({.kind = "OutlookBarGroup",
                             .operation = "get_Shortcuts",
                             .times = 0,
                             .description = "looked"});
  EXPECT_FALSE(shortcut_exists("Scribbix", "Nope"));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ShortcutTest, WithoutANotesStoreNoShortcutIsAdded) {
  start_with_explorer();
  set_namespace();
  const LONG before = shortcuts_in("My Shortcuts");
  EXPECT_EQ(call(&_Update1::CreateScribbixShortcut, "My Shortcuts"),
            scribbixupdate::kNotesFolderMissing);
  EXPECT_EQ(shortcuts_in("My Shortcuts"), before);
}

TEST_F(ShortcutTest, AShortcutIntoAMissingGroupFailsWithTheMessage) {
  start_with_explorer();
  set_namespace();
  notes_folder();
  EXPECT_EQ(call(&_Update1::CreateScribbixShortcut, "Nope"), scribbixupdate::kNotesFolderMissing);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].rfind("CreateScribbixShortcut:", 0), 0u) << boxes()[0];
}

TEST_F(ShortcutTest, WithoutAnExplorerTheMethodsTellIt) {
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), scribbixupdate::kNoNameSpaceForShortcut);
  EXPECT_EQ(call(&_Update1::CreateScribbixShortcut, "My Shortcuts"),
            scribbixupdate::kNoNameSpaceForShortcut);
  set_namespace();  // Outlook started by automation: no explorer
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), scribbixupdate::kNoExplorer);
  EXPECT_FALSE(group_exists("My Shortcuts"));
  EXPECT_EQ(groups().get().vt, VT_EMPTY);
  EXPECT_EQ(boxes(), (std::vector<std::string>{
                         "GroupExists:Object variable or With block variable not set",
                         "ShortcutGroups:Object variable or With block variable not set"}));
}

TEST_F(ShortcutTest, OutlookBarFailuresAreReportedByTheMethodMet) {
  start_with_explorer();
  set_namespace();
  ComPtr<MAPIFolder> folder = notes_folder();
  fail("OutlookBarGroups", "get_Count");
  EXPECT_FALSE(group_exists("My Shortcuts"));
  // The second name read happens in the GroupExists that ShortCutExists calls: GroupExists
  // reports it, and the check goes on.
  fail("OutlookBarGroup", "get_Name", 2);
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), 0);
  fail("Explorer", "get_Panes");
  EXPECT_EQ(call(&_Update1::CheckScribbixShortcut), 0);
  fail("Explorer", "get_Panes");
  Variant group = Variant::from_utf8("My Shortcuts");
  MAPIFolder* target = folder.Get();
  EXPECT_EQ(component_->FolderShortcutCreate(&group.get(), &target),
            static_cast<HRESULT>(0x80040107u));  // it traps nothing
  EXPECT_EQ(boxes(), (std::vector<std::string>{"GroupExists:OutlookBarGroups.get_Count failed",
                                               "GroupExists:OutlookBarGroup.get_Name failed",
                                               "CheckScribbixShortcut:Explorer.get_Panes failed"}));
}

}  // namespace
}  // namespace sx::update::testing
