// Whole HotSyncs driven only through the programs a person or a script has, each its own process:
// the handheld's notes application, Outlook's folders by hand (sxfolders), the HotSync action and
// HotSync itself, with dialogs answered by a script.
#include <chrono>
#include <fstream>

#include "handheld_fixture.h"

namespace sx::registry::testing {
namespace {

class HandheldHotSyncTest : public HandheldTest {
 protected:
  void SetUp() override { install_system(); }
  void sync() {
    ToolResult r = hotsync();
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  std::string key_of(const std::string& body) {
    for (const Post& p : posts())
      if (p["Body"] == body) return p["user ScribKey"];
    ADD_FAILURE() << "no post \"" << body << "\"";
    return "";
  }
  std::string record_of(const std::string& text) {
    const nlohmann::json all = handheld_json();
    for (const auto& n : all["notes"])
      if (n.value("text", "") == text) return std::to_string(n["record_id"].get<unsigned>());
    ADD_FAILURE() << "no note \"" << text << "\"";
    return "";
  }
  void add_post(const std::string& body, const std::string& category = "") {
    ToolResult r = sxfolders({"add-post", kNotesFolder, "--subject", body, "--body", body,
                              "--categories", category, "--class", "IPM.Post.ScribbixPost2"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
};

TEST_F(HandheldHotSyncTest, NotesWrittenChangedArchivedAndDeletedOnEitherSideReachTheOther) {
  const std::string milk = add_note({"--text", "Buy milk", "--category", "Business"});
  add_note({"--text", "Secret", "--private"});
  add_note({"--text", "Old plan", "--category", "Business"});
  add_note({"--text", "Parking level 3"});
  add_post("Book club", "Personal");
  add_post("Dentist");
  sync();
  EXPECT_EQ(handheld_notes(), outlook_notes());
  EXPECT_EQ(handheld_notes().size(), 6u);
  const nlohmann::json synced = handheld_json();
  for (const auto& n : synced["notes"]) EXPECT_NE(n["note_id"], 0) << n;

  // The handheld: a text and a category changed, one note archived, one deleted, one new.
  handheld({"edit", milk, "--text", "Buy oat milk", "--category", "Personal"});
  handheld({"delete", record_of("Old plan"), "--archive"});
  handheld({"delete", record_of("Parking level 3")});
  add_note({"--text", "New on the handheld"});
  // Outlook: a text changed, one post deleted, one new, each post named by its key.
  ASSERT_EQ(
      sxfolders({"set", kNotesFolder, "--key", key_of("Book club"), "--body", "Book club: ch. 4"})
          .exit_code,
      0);
  ASSERT_EQ(sxfolders({"delete", kNotesFolder, "--key", key_of("Dentist")}).exit_code, 0);
  add_post("New in Outlook");
  sync();
  const std::vector<ShownNote> expected = {{"Book club: ch. 4", "Personal", false},
                                           {"Buy oat milk", "Personal", false},
                                           {"New in Outlook", "", false},
                                           {"New on the handheld", "", false},
                                           {"Secret", "", true}};
  EXPECT_EQ(handheld_notes(), expected);
  EXPECT_EQ(outlook_notes(), expected);
  // The archived note is kept in Outlook, marked archived; the deleted one is gone.
  bool archived = false;
  for (const Post& p : posts()) {
    // Archiving on the handheld keeps the note's category in Outlook.
    archived = archived || (p["Body"] == "Old plan" && p["user Archived"] == "True" &&
                            p["Categories"] == "Business");
    EXPECT_NE(p["Body"], "Parking level 3");
  }
  EXPECT_TRUE(archived);
}

TEST_F(HandheldHotSyncTest, CategoriesMadeAndRenamedOnTheHandheldReachOutlook) {
  handheld({"categories", "--new", "Travel"});
  add_note({"--text", "Passport", "--category", "Travel"});
  add_note({"--text", "Report", "--category", "Business"});
  sync();
  EXPECT_EQ(outlook_notes(),
            (std::vector<ShownNote>{{"Passport", "Travel", false}, {"Report", "Business", false}}));
  handheld({"categories", "--rename", "Travel", "Trips"});
  handheld({"categories", "--rename", "Business", "Work"});
  sync();
  const std::vector<ShownNote> renamed = {{"Passport", "Trips", false}, {"Report", "Work", false}};
  EXPECT_EQ(outlook_notes(), renamed);
  EXPECT_EQ(handheld_notes(), renamed);
  // The renames have travelled: the marks are gone, and a category given in Outlook now reaches
  // the handheld as before.
  const nlohmann::json after = handheld_json();
  for (const auto& c : after["categories"]) EXPECT_EQ(c["renamed"], false) << c;
  ASSERT_EQ(sxfolders({"set", kNotesFolder, "--key", key_of("Report"), "--categories", "Office"})
                .exit_code,
            0);
  sync();
  EXPECT_EQ(handheld_notes(),
            (std::vector<ShownNote>{{"Passport", "Trips", false}, {"Report", "Office", false}}));
}

// On a machine set up to ask for a profile, the chooser appears in Outlook's own process, which the
// HotSync starts: the HotSync's watcher finds it on the machine and cancels it, and the HotSync
// goes on in the user's profile. Unanswered, the chooser would hold Outlook for a minute.
TEST_F(HandheldHotSyncTest, TheChooserOfOutlooksOwnProcessIsCancelledByTheHotSyncsWatcher) {
  ASSERT_EQ(run_tool({"outlook", "prompt", "on"}).exit_code, 0);
  add_note({"--text", "Asked for a profile"});
  const auto started = std::chrono::steady_clock::now();
  sync();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ(outlook_notes(), (std::vector<ShownNote>{{"Asked for a profile", "", false}}));
}

TEST_F(HandheldHotSyncTest, TheOverwriteModesSetByAScriptMakeOneSideTheOthersMirror) {
  add_note({"--text", "Shared"});
  sync();
  add_note({"--text", "Only on the handheld"});
  add_post("Only in Outlook");
  ToolResult set = run_tool(
      {"hotsync", "action", kUser, "ApplicationVorScrib", "--set", "desktop-overwrites-handheld"});
  ASSERT_EQ(set.exit_code, 0) << set.output;
  EXPECT_NE(set.output.find("desktop-overwrites-handheld, for the next HotSync"),
            std::string::npos);
  ToolResult r = hotsync();
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("desktop overwrites handheld, completed"), std::string::npos) << r.output;
  const std::vector<ShownNote> desktop = {{"Only in Outlook", "", false}, {"Shared", "", false}};
  EXPECT_EQ(handheld_notes(), desktop);

  // HotSync Manager's own program keeps the other mode as the default.
  add_note({"--text", "Handheld wins"});
  ToolResult manager = run_program(
      HOTSYNC_PATH, {"--machine", sx::machine::root().string(), "--action", kUser,
                     "ApplicationVorScrib", "--set", "handheld-overwrites-desktop", "--default"});
  ASSERT_EQ(manager.exit_code, 0) << manager.output;
  add_post("Outlook loses");
  sync();
  const std::vector<ShownNote> handheld_side = {
      {"Handheld wins", "", false}, {"Only in Outlook", "", false}, {"Shared", "", false}};
  EXPECT_EQ(outlook_notes(), handheld_side);
  EXPECT_EQ(handheld_notes(), handheld_side);
  EXPECT_EQ(
      run_tool({"hotsync", "action", kUser, "ApplicationVorScrib", "--set", "sometimes"}).exit_code,
      1);
}

// A post that arrived without the notes add-in takes the earliest of its times as its note's date
// at its first HotSync; a script names the post by its entry ID and sets the time it arrived. A
// name that fits two posts changes neither.
TEST_F(HandheldHotSyncTest, APostsTimesSetByAScriptGiveTheNoteItsDate) {
  ASSERT_EQ(run_tool({"scribbixoutlookaddin", "uninstall"}).exit_code, 0);  // nobody stamps it
  add_post("Old letter");
  const std::string id = posts().at(0)["EntryID"];
  ToolResult set = sxfolders({"set", kNotesFolder, "--entry-id", id, "--received",
                              "2001-02-03 10:30", "--created", "2001-02-04"});
  ASSERT_EQ(set.exit_code, 0) << set.output;
  handheld({"list"});  // the notes application makes its database on the fresh handheld
  sync();
  const nlohmann::json notes = handheld_json();
  ASSERT_EQ(notes["notes"].size(), 1u);
  EXPECT_EQ(notes["notes"][0]["date"], "2001-02-03 10:30");

  const std::string inbox = "Personal Folders\\Inbox";
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(sxfolders({"add-post", inbox, "--subject", "twin", "--prop", "ScribKey:number=9"})
                  .exit_code,
              0);
  ToolResult twins = sxfolders({"set", inbox, "--key", "9", "--subject", "changed"});
  EXPECT_EQ(twins.exit_code, 1);
  EXPECT_NE(twins.output.find("Items 1 and 2 of Personal Folders\\Inbox both have the ScribKey 9"),
            std::string::npos)
      << twins.output;
  // Named by key, a copy's one folder after FOLDER is where it goes.
  ToolResult copied = sxfolders({"copy", kNotesFolder, "--key", key_of("Old letter"), inbox});
  EXPECT_NE(copied.output.find("Copied item 1 of Vorlan\\Scribbix into Personal Folders\\Inbox."),
            std::string::npos)
      << copied.output;
  ToolResult both = sxfolders({"delete", inbox, "1", "--key", "9"});
  EXPECT_NE(both.output.find("Name the item by one of N, --key and --entry-id."), std::string::npos)
      << both.output;
}

TEST_F(HandheldHotSyncTest, AConflictIsAnsweredByTheScriptsWindowAnswers) {
  const std::string note = add_note({"--text", "Meeting at 10"});
  sync();
  handheld({"edit", note, "--text", "Meeting at 11 (handheld)"});
  ASSERT_EQ(sxfolders({"set", kNotesFolder, "--key", key_of("Meeting at 10"), "--body",
                       "Meeting at 12 (Outlook)"})
                .exit_code,
            0);
  // The answers come from a file; the list in the environment adds to it (its mistake is said).
  const std::string answers = (machine_.root().parent_path() / "answers.txt").string();
  std::ofstream(answers) << "# a script's answers\n"
                            "Scribbix - Resolve Field Level Conflicts=Use Desktop Value\n";
  ToolResult r = hotsync("SX_WINDOW_HOST=answers SX_WINDOW_ANSWERS_FILE=" + shell_quoted(answers) +
                         " SX_WINDOW_ANSWERS=Broken");
  std::filesystem::remove(answers);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("[answered dialog \"Scribbix - Resolve Field Level Conflicts\": Use "
                          "Desktop Value]"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("[window answers: \"Broken\" is not TITLE=BUTTON; left out]"),
            std::string::npos)
      << r.output;
  const std::vector<ShownNote> desktop = {{"Meeting at 12 (Outlook)", "", false}};
  EXPECT_EQ(handheld_notes(), desktop);
  EXPECT_EQ(outlook_notes(), desktop);
}

}  // namespace
}  // namespace sx::registry::testing
