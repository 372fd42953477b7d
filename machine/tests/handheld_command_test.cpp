// The handheld's notes application through `sxmachine handheld USER ...`, each call its own
// process: the records it leaves are what the conduit expects of the notes application.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "handheld_fixture.h"
#include "machine_files.h"
#include "sx/hotsync.h"

namespace sx::registry::testing {
namespace {

class HandheldCommandTest : public HandheldTest {
 protected:
  void SetUp() override {
    for (std::initializer_list<std::string> step :
         {std::initializer_list<std::string>{"hotsync", "install"},
          {"hotsync", "add-user", kUser}}) {
      ToolResult r = run_tool(step);
      ASSERT_EQ(r.exit_code, 0) << r.output;
    }
  }
  sx::hotsync::PdbDatabase database() {
    sx::hotsync::PdbDatabase db;
    std::string why;
    EXPECT_TRUE(sx::hotsync::load_database(
        sx::hotsync::database_file(sx::hotsync::handheld_dir("JoSmith"), "ScribbixDB"), &db, &why))
        << why;
    return db;
  }
  const sx::hotsync::PdbRecord& record(const sx::hotsync::PdbDatabase& db, const std::string& id) {
    const int at = db.find(static_cast<std::uint32_t>(std::stoul(id)));
    EXPECT_GE(at, 0) << id;
    return db.records.at(static_cast<std::size_t>(std::max(at, 0)));
  }
  nlohmann::json note(const std::string& id) {
    const nlohmann::json all = handheld_json();
    for (const auto& n : all["notes"])
      if (std::to_string(n["record_id"].get<unsigned>()) == id) return n;
    ADD_FAILURE() << "no note " << id;
    return {};
  }
  ToolResult try_handheld(std::vector<std::string> args) {
    args.insert(args.begin(), {"--machine", sx::machine::root().string(), "handheld", kUser});
    return run_program(SXMACHINE_PATH, args);
  }
};

TEST_F(HandheldCommandTest, NotesAreWrittenChangedDeletedAndArchivedAsTheApplicationDoes) {
  // A fresh handheld has no notes database; the application makes it the first time it runs.
  EXPECT_NE(handheld({"list"}).find("installed on the handheld"), std::string::npos);
  sx::hotsync::PdbDatabase db = database();
  EXPECT_EQ(db.creator, 0x56535871u);
  EXPECT_EQ(db.type, 0x44415441u);
  EXPECT_EQ(db.version, 2);
  EXPECT_EQ(handheld_json()["categories"].size(), 3u);  // Unfiled, Business, Personal

  const std::string a = add_note(
      {"--text", "Buy milk", "--category", "business", "--private", "--date", "2024-05-01 10:30"});
  const std::string b = add_note({"--text", "Call Ann\nat noon"});
  const std::string c = add_note({"--text", "Old plan", "--category", "Personal"});
  nlohmann::json n = note(a);
  EXPECT_EQ(n["note_id"], 0);  // the HotSync gives it one
  EXPECT_EQ(n["mod"], 0);
  EXPECT_EQ(n["changed"], true);
  EXPECT_EQ(n["private"], true);
  EXPECT_EQ(n["category"], "Business");
  EXPECT_EQ(n["date"], "2024-05-01 10:30");
  EXPECT_EQ(note(b)["text"], "Call Ann\nat noon");
  EXPECT_EQ(record(database(), a).attributes, 0x40 | 0x10 | 1);

  // Each change sets the Mod bit of the field it changed: text 9 (and Last Modified 3), category
  // 31, private 30; a change to what is there already changes nothing.
  const std::uint32_t before = database().mod_number;
  handheld({"edit", a, "--text", "Buy oat milk"});
  handheld({"edit", a, "--category", "Personal", "--private", "off"});
  EXPECT_EQ(note(a)["mod"], 0xC0000208u);
  EXPECT_EQ(note(a)["private"], false);
  EXPECT_NE(handheld({"edit", a, "--text", "Buy oat milk"}).find("nothing changed"),
            std::string::npos);
  db = database();
  EXPECT_EQ(db.mod_number, before + 2);
  EXPECT_GT(db.modified, db.backed_up);

  handheld({"delete", b});
  handheld({"delete", c, "--archive"});
  db = database();
  EXPECT_EQ(record(db, b).attributes, 0xC0);  // deleted: no data
  EXPECT_TRUE(record(db, b).data.empty());
  EXPECT_EQ(record(db, c).attributes, 0xC8);  // archived: its data kept for the desktop
  EXPECT_EQ(note(c)["text"], "Old plan");
  const std::string listed = handheld({"list"});
  EXPECT_EQ(listed.find("Old plan"), std::string::npos) << listed;
  const std::string all = handheld({"list", "--all"});
  EXPECT_NE(all.find("changed archived"), std::string::npos) << all;
  EXPECT_NE(all.find("changed deleted"), std::string::npos) << all;
  EXPECT_NE(handheld({"show", a}).find("Mod:         0xC0000208"), std::string::npos);
  EXPECT_NE(handheld({"find", "OAT"}).find("Buy oat milk"), std::string::npos);
  ToolResult edited = try_handheld({"edit", c, "--text", "x"});
  EXPECT_EQ(edited.exit_code, 1);
  EXPECT_NE(edited.output.find("ERROR: The note with record ID " + c + " is archived"),
            std::string::npos)
      << edited.output;
  // The HotSync tool's raw records point to the application.
  EXPECT_NE(run_tool({"hotsync", "list", kUser, "ScribbixDB"})
                .output.find("sxmachine handheld 'Jo Smith' list --all"),
            std::string::npos);
}

TEST_F(HandheldCommandTest, MistakesAreRefusedInWordsAndChangeNothing) {
  const std::string a = add_note({"--text", "kept"});
  const auto before = files_of(machine_.root());
  const std::string json = (machine_.root().parent_path() / "bad-notes.json").string();
  std::ofstream(json) << R"({"notes": [{"text": "fine"}, {"text": "late", "date": "2099-01-01"}]})";
  const std::string broken = (machine_.root().parent_path() / "broken-notes.json").string();
  std::ofstream(broken) << R"([{"text": "x"},)";
  for (const auto& [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"new", "--text", "\xE6\x97\xA5\xE6\x9C\xAC"}, "code page cannot hold"},
           {{"new", "--text", "x", "--category", "Travel"}, "no category \"Travel\""},
           {{"new", "--text", ""}, "A note needs a text."},
           {{"new", "--text", "x", "--date", "2024-02-30"}, "is not a date"},
           {{"new", "--text", std::string(40000, 'x')}, "too long"},
           {{"edit", "77", "--text", "x"}, "no note with record ID 77"},
           {{"edit", a, "--private", "maybe"}, "--private"},
           {{"delete", "zero"}, "not a record ID"},
           {{"categories", "--rename", "Unfiled", "None"}, "\"Unfiled\" cannot be renamed"},
           {{"categories", "--new", "business"}, "category of that name already"},
           {{"categories", "--new", "Sixteen letters!"}, "at most 15 characters"},
           {{"import", json}, "Note 2: \"date\" is not a date from 1905 to 2031"},
           {{"import", broken}, "not JSON: it stops being JSON at byte"}}) {
    ToolResult r = try_handheld(args);
    EXPECT_EQ(r.exit_code, 1) << args[0];
    EXPECT_NE(r.output.find("ERROR: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(said), std::string::npos) << said << "\n" << r.output;
  }
  EXPECT_EQ(files_of(machine_.root()), before);
  std::filesystem::remove(json);
  std::filesystem::remove(broken);
  ToolResult nobody = run_tool({"handheld", "Nobody", "list"});
  EXPECT_NE(nobody.output.find("ERROR: There is no HotSync user \"Nobody\"."), std::string::npos);
}

TEST_F(HandheldCommandTest, CategoriesAreMadeRenamedAndDeletedAsOnTheHandheld) {
  handheld({"categories", "--new", "Travel"});
  handheld({"categories", "--rename", "travel", "Trips"});
  const std::string a = add_note({"--text", "Gift", "--category", "Personal"});
  handheld({"categories", "--delete", "Personal"});
  const nlohmann::json j = handheld_json();
  std::map<std::string, bool> renamed;
  for (const auto& c : j["categories"]) renamed[c["name"]] = c["renamed"];
  EXPECT_EQ(renamed, (std::map<std::string, bool>{
                         {"Unfiled", false}, {"Business", false}, {"Trips", true}}));
  // The deleted category's note is Unfiled now, changed in its category.
  EXPECT_EQ(note(a)["category"], "Unfiled");
  EXPECT_EQ(note(a)["mod"].get<std::uint32_t>() & 0x80000000u, 0x80000000u);
  EXPECT_NE(handheld({"categories"}).find("Trips"), std::string::npos);
}

TEST_F(HandheldCommandTest, ImportBringsNotesInBulkAndExportReadsThemBack) {
  const std::string file = (machine_.root().parent_path() / "import-notes.json").string();
  std::ofstream(file) << R"({"notes": [
    {"text": "Pancakes", "category": "Recipes", "date": "2023-03-05 14:30"},
    {"text": "Caf\u00e9 list", "private": true, "contact": "Ann", "resv1": 7},
    {"text": "gone", "deleted": true}]})";
  const std::string said = handheld({"import", file});
  EXPECT_NE(said.find("Imported 2 notes (left out 1 deleted or archived)."), std::string::npos)
      << said;
  EXPECT_NE(said.find("Made the category \"Recipes\"."), std::string::npos) << said;
  std::filesystem::remove(file);
  // The export is the whole handheld: importing it into another handheld brings the same notes.
  const std::string copy = (machine_.root().parent_path() / "export-notes.json").string();
  handheld({"export", copy});
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Other"}).exit_code, 0);
  ASSERT_EQ(run_tool({"handheld", "Other", "import", copy}).exit_code, 0);
  std::filesystem::remove(copy);
  const auto notes = handheld_json()["notes"];
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0]["category"], "Recipes");
  EXPECT_EQ(notes[0]["date"], "2023-03-05 14:30");
  EXPECT_EQ(notes[1]["text"], "Caf\xC3\xA9 list");
  EXPECT_EQ(notes[1]["contact"], "Ann");
  EXPECT_EQ(notes[1]["resv1"], 7);
  const std::string other = run_tool({"handheld", "Other", "list"}).output;
  EXPECT_NE(other.find("Recipes"), std::string::npos) << other;
  EXPECT_NE(other.find("Caf\xC3\xA9 list"), std::string::npos) << other;
}

TEST_F(HandheldCommandTest, TheApplicationChangesNothingWhileAHotSyncRuns) {
  handheld({"list"});
  const auto lock_file = sx::hotsync::handheld_dir("JoSmith") / sx::hotsync::kLockFileName;
  const int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // as a HotSync of the handheld holds it
  ToolResult r = try_handheld({"new", "--text", "during the HotSync"});
  ::close(fd);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("A HotSync of this handheld is in progress"), std::string::npos)
      << r.output;
  EXPECT_EQ(handheld_json()["notes"].size(), 0u);
}

TEST_F(HandheldCommandTest, APersonWritesAndEditsNotesInTheApplication) {
  ToolResult r = run_program(
      SXMACHINE_PATH, {"--machine", sx::machine::root().string(), "handheld", kUser, "run"},
      "printf 'new\\ntype Hello\\ntype second line\\ncategory Business\\nsave\\nclose\\n"
      "open 1\\nprivate on\\nclose\\nsave\\nclose\\nnewcat Travel\\nopen 1\\narchive\\n"
      "new\\ntype unsaved\\n' |");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("== Notes == All (1 note)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("The note has unsaved changes"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("they are not saved"), std::string::npos) << r.output;
  const auto notes = handheld_json()["notes"];
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0]["text"], "Hello\nsecond line");
  EXPECT_EQ(notes[0]["private"], true);
  EXPECT_EQ(notes[0]["archived"], true);
  EXPECT_EQ(handheld_json()["categories"].size(), 4u);
}

TEST_F(HandheldCommandTest, TheHandheldsClockIsSetAgainstTheDesktops) {
  EXPECT_NE(handheld({"clock", "--offset", "-300"}).find("300 seconds behind the desktop's (180 "),
            std::string::npos);
  sx::hotsync::DeviceInfo device;
  std::string why;
  ASSERT_TRUE(sx::hotsync::read_device(sx::hotsync::handheld_dir("JoSmith"), &device, &why));
  EXPECT_EQ(device.clock_offset, -300);
}

}  // namespace
}  // namespace sx::registry::testing
