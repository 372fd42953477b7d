// The notes add-in's New Note command on the explorers' bars, by "MenuMode", on a first start and
// with a toolbar left from an earlier Outlook run; clicks reaching the add-in; auto-edit of opened
// notes; Outlook started by a program without an explorer.
#include "addin_fixture.h"

namespace sx::addin::testing {
namespace {

constexpr char kNotesAddIn[] = "VorScribOutlookAddIn.Connect";

class CommandUiTest : public AddInTest {
 protected:
  // Outlook started once with the toolbar mode, so that a toolbar is kept for the next run.
  void leave_toolbar_from_earlier_run() {
    set_setting("MenuMode", 0);
    start();
    ASSERT_TRUE(bar("Scribbix Bar"));
    quit();
  }
  // Clicks the New Note control and gives the note it opened (null when none opened).
  ComPtr<_OutlookItem> click_new_note() {
    ComPtr<CommandBarControl> control = new_note_control();
    if (!control) return nullptr;
    const LONG before = inspector_count();
    EXPECT_EQ(control->Execute(), S_OK);
    if (inspector_count() != before + 1) return nullptr;
    ComPtr<IDispatch> current;
    EXPECT_EQ(inspector_at(before + 1)->get_CurrentItem(current.GetAddressOf()), S_OK);
    ComPtr<_OutlookItem> item;
    current->QueryInterface(_OutlookItem::kIid, item.PutVoid());
    return item;
  }
};

TEST_F(CommandUiTest, ToolbarModeMakesTheNotesBarOnceWithItsButton) {
  set_setting("MenuMode", 0);
  start();
  ComPtr<CommandBar> notes_bar = bar("Scribbix Bar");
  ASSERT_TRUE(notes_bar);
  VARIANT_BOOL visible = VARIANT_FALSE;
  LONG position = -1;
  EXPECT_EQ(notes_bar->get_Visible(&visible), S_OK);
  EXPECT_EQ(notes_bar->get_Position(&position), S_OK);
  EXPECT_NE(visible, VARIANT_FALSE);
  EXPECT_EQ(position, msoBarTop);
  EXPECT_EQ(captions(notes_bar.Get()), "New &Note");

  ComPtr<CommandBarControl> control = control_at(controls(notes_bar.Get()).Get(), 1);
  ComPtr<CommandBarButton> button;
  ASSERT_EQ(control->QueryInterface(CommandBarButton::kIid, button.PutVoid()), S_OK);
  Bstr tag, tooltip, action;
  LONG face = 0, style = 0;
  VARIANT_BOOL begin_group = VARIANT_FALSE, enabled = VARIANT_FALSE;
  button->get_Tag(tag.put());
  button->get_TooltipText(tooltip.put());
  button->get_OnAction(action.put());
  button->get_FaceId(&face);
  button->get_Style(&style);
  button->get_BeginGroup(&begin_group);
  button->get_Enabled(&enabled);
  EXPECT_EQ(tag.utf8(), "SXCountTag");
  EXPECT_EQ(tooltip.utf8(), "Create a new Scribbix entry");
  EXPECT_EQ(action.utf8(), "!<VorScribOutlookAddIn.Connect>");
  EXPECT_EQ(face, 2687);
  EXPECT_EQ(style, msoButtonIconAndCaption);
  EXPECT_NE(begin_group, VARIANT_FALSE);
  EXPECT_NE(enabled, VARIANT_FALSE);
  EXPECT_EQ(captions(bar("Menu Bar").Get()), "&File|&Edit|&View|&Tools|&Actions|&Help");

  // The next run finds the toolbar again: no second one, and its button still reaches the add-in.
  quit();
  start();
  LONG bar_count = 0, before = 0;
  bars()->get_Count(&bar_count);
  EXPECT_EQ(captions(bar("Scribbix Bar").Get()), "New &Note");
  before = bar_count;
  EXPECT_TRUE(click_new_note());
  bars()->get_Count(&bar_count);
  EXPECT_EQ(bar_count, before);
}

TEST_F(CommandUiTest, MenuModeTwoOnAFirstStartAddsTheMenuBeforeHelpAndNoToolbar) {
  set_setting("MenuMode", 2);
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
  ComPtr<CommandBar> menu_bar = bar("Menu Bar");
  EXPECT_EQ(captions(menu_bar.Get()), "&File|&Edit|&View|&Tools|&Actions|&Scribbix|&Help");
  ComPtr<CommandBarControl> menu = control_at(controls(menu_bar.Get()).Get(), 6);
  Bstr tag;
  menu->get_Tag(tag.put());
  EXPECT_EQ(tag.utf8(), "ScribbixTag");
  ComPtr<_OutlookItem> note = click_new_note();
  ASSERT_TRUE(note);
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");

  // The menu is not kept: the next run makes it again, once.
  quit();
  start();
  EXPECT_EQ(captions(bar("Menu Bar").Get()), "&File|&Edit|&View|&Tools|&Actions|&Scribbix|&Help");
}

TEST_F(CommandUiTest, MenuModeTwoWithAnEarlierToolbarDeletesItAndAddsTheMenu) {
  leave_toolbar_from_earlier_run();
  set_setting("MenuMode", 2);
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
  EXPECT_EQ(captions(bar("Menu Bar").Get()), "&File|&Edit|&View|&Tools|&Actions|&Scribbix|&Help");
  EXPECT_TRUE(click_new_note());
}

TEST_F(CommandUiTest, MenuModeOneWithAnEarlierToolbarDeletesItAndAddsNoMenu) {
  leave_toolbar_from_earlier_run();
  set_setting("MenuMode", 1);
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
  EXPECT_EQ(captions(bar("Menu Bar").Get()), "&File|&Edit|&View|&Tools|&Actions|&Help");
  EXPECT_FALSE(new_note_control());
  EXPECT_TRUE(connected(kNotesAddIn));
  // Kept so for the next run too.
  quit();
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
}

TEST_F(CommandUiTest, OnAFirstStartModeOneShowsNoCommandAndANegativeModeTheToolbar) {
  set_setting("MenuMode", 1);
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
  EXPECT_FALSE(new_note_control());
  quit();
  set_setting("MenuMode", -1);
  start();
  EXPECT_EQ(captions(bar("Scribbix Bar").Get()), "New &Note");
  EXPECT_EQ(captions(bar("Menu Bar").Get()), "&File|&Edit|&View|&Tools|&Actions|&Help");
}

TEST_F(CommandUiTest, AMenuModeThatIsNoNumberCountsAsTheToolbar) {
  set_text_setting("MenuMode", "menu please");
  start();
  EXPECT_TRUE(connected(kNotesAddIn));
  EXPECT_TRUE(bar("Scribbix Bar"));
}

TEST_F(CommandUiTest, SwitchedOffAndOnAgainTheCommandStillWorksInEveryMode) {
  for (long mode : {0L, 2L}) {
    SCOPED_TRACE(mode);
    set_setting("MenuMode", mode);
    start();
    set_connect(kNotesAddIn, false);
    // Switched off, the command does nothing.
    ComPtr<CommandBarControl> control = new_note_control();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->Execute(), S_OK);
    EXPECT_EQ(inspector_count(), 0);
    set_connect(kNotesAddIn, true);
    EXPECT_TRUE(click_new_note());
    // The menu is not added twice.
    if (mode == 2) {
      EXPECT_EQ(captions(bar("Menu Bar").Get()),
                "&File|&Edit|&View|&Tools|&Actions|&Scribbix|&Help");
    }
    quit();
  }
}

TEST_F(CommandUiTest, AutomationStartWithoutAnExplorerConnectsAndTouchesNoBar) {
  set_setting("MenuMode", 2);
  start_by_automation();
  EXPECT_TRUE(connected(kNotesAddIn));
  EXPECT_TRUE(connected(scribbixmonitor::kConnectProgId));
  // A person starting Outlook afterwards gets the command.
  ComPtr<MAPIFolder> inbox_folder = inbox();
  ComPtr<_Explorers> explorers;
  ASSERT_EQ(app_->get_Explorers(explorers.GetAddressOf()), S_OK);
  LONG count = -1;
  explorers->get_Count(&count);
  EXPECT_EQ(count, 0);
  quit();
  // Nothing was added to the bars kept for the next run.
  set_setting("MenuMode", 1);
  start();
  EXPECT_FALSE(bar("Scribbix Bar"));
}

TEST_F(CommandUiTest, WithoutTheNotesFolderTheAddInWatchesNothingAndHidesTheToolbar) {
  leave_toolbar_from_earlier_run();
  remove_notes_store();
  set_setting("MenuMode", 0);
  start();
  EXPECT_TRUE(connected(kNotesAddIn));
  ComPtr<CommandBar> notes_bar = bar("Scribbix Bar");
  ASSERT_TRUE(notes_bar);
  VARIANT_BOOL visible = VARIANT_TRUE;
  notes_bar->get_Visible(&visible);
  EXPECT_EQ(visible, VARIANT_FALSE);
  // Its button does nothing.
  ComPtr<CommandBarControl> control = new_note_control();
  ASSERT_TRUE(control);
  EXPECT_EQ(control->Execute(), S_OK);
  EXPECT_EQ(inspector_count(), 0);
}

TEST_F(CommandUiTest, AVorlanStoreWithoutTheNotesFolderFailsTheConnection) {
  start_by_automation();
  ASSERT_EQ(notes_folder()->Delete(), S_OK);
  quit();
  start();
  EXPECT_FALSE(connected(kNotesAddIn));
  EXPECT_EQ(sx::outlook::addins::load_behavior(kNotesAddIn), 3u);  // tried again next time
  EXPECT_FALSE(bar("Scribbix Bar"));
}

class AutoEditTest : public CommandUiTest {
 protected:
  // Saves a note into the notes folder and opens it as a person does; whether it is editable.
  bool opened_note_is_editable() {
    ComPtr<_OutlookItem> note = add_item(notes_folder().Get(), "IPM.Post.ScribbixPost2");
    EXPECT_EQ(note->put_Body(Bstr(u"A saved note").get()), S_OK);
    EXPECT_EQ(note->Save(), S_OK);
    ComPtr<_OutlookItem> again = item_at(notes_folder().Get(), count_of(notes_folder().Get()));
    EXPECT_EQ(again->Display(Variant::from_bool(false).get()), S_OK);
    VARIANT_BOOL editing = VARIANT_FALSE;
    EXPECT_EQ(inspector_at(inspector_count())->get_Editing(&editing), S_OK);
    return editing != VARIANT_FALSE;
  }
  bool opened_mail_is_editable() {
    ComPtr<_OutlookItem> mail = add_item(inbox().Get(), "IPM.Note");
    EXPECT_EQ(mail->Save(), S_OK);
    ComPtr<_OutlookItem> again = item_at(inbox().Get(), count_of(inbox().Get()));
    EXPECT_EQ(again->Display(Variant::from_bool(false).get()), S_OK);
    VARIANT_BOOL editing = VARIANT_FALSE;
    EXPECT_EQ(inspector_at(inspector_count())->get_Editing(&editing), S_OK);
    return editing != VARIANT_FALSE;
  }
};

TEST_F(AutoEditTest, OnANoteOpenedForReadingSwitchesToEditingAndOtherItemsDoNot) {
  set_setting("AutoEditMode", 1);
  start();
  EXPECT_TRUE(opened_note_is_editable());
  EXPECT_TRUE(opened_note_is_editable());
  EXPECT_FALSE(opened_mail_is_editable());
}

TEST_F(AutoEditTest, OffANoteOpensForReading) {
  set_setting("AutoEditMode", 0);
  start();
  EXPECT_FALSE(opened_note_is_editable());
}

TEST_F(AutoEditTest, ASettingThatIsNoNumberFailsTheConnection) {
  set_text_setting("AutoEditMode", "yes");
  start();
  EXPECT_FALSE(connected(kNotesAddIn));
  EXPECT_FALSE(opened_note_is_editable());
}

}  // namespace
}  // namespace sx::addin::testing
