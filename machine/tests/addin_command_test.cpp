// The two Outlook add-ins installed as setup installs them, and a whole round as a person meets
// it: the system installed, Outlook started by a person shows the New Note command, a note made
// with it reaches the handheld at the next HotSync (run by HotSync Manager in a process of its
// own), and a note made on the handheld shows in Outlook afterwards.
#include <gtest/gtest.h>

#include <regex>

#include "comdef.h"
#include "machine_files.h"
#include "registry_test_util.h"
#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/person.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

constexpr char kUser[] = "Palm User";

class AddInCommandTest : public ::testing::Test {
 protected:
  static std::optional<sx::outlook::addins::Registration> registration(const std::string& progid) {
    for (const auto& r : sx::outlook::addins::list())
      if (r.progid == progid) return r;
    return std::nullopt;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(AddInCommandTest, InstallRegistersEachAddInWithOutlookAndUninstallTakesItAway) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  for (const char* command : {"scribbixoutlookaddin", "scribbixmonitoraddin"}) {
    ToolResult r = run_tool({command, "install"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  const auto dir = machine_.c("Program Files\\Vorlan\\Scribbix");
  EXPECT_TRUE(std::filesystem::exists(dir / "ScribbixOutlookAddIn.dll"));
  EXPECT_TRUE(std::filesystem::exists(dir / "ScribbixMonitorAddIn.dll"));
  auto notes = registration("VorScribOutlookAddIn.Connect");
  auto monitor = registration("ScribbixMonitorAddIn.Connect");
  ASSERT_TRUE(notes);
  ASSERT_TRUE(monitor);
  EXPECT_EQ(notes->friendly_name, "Scribbix Outlook Add-In");
  EXPECT_EQ(notes->description, "Scribbix Outlook Add-In");
  EXPECT_EQ(notes->load_behavior, 3u);
  EXPECT_EQ(monitor->friendly_name, "ScribbixMonitorAdd-In");
  EXPECT_EQ(monitor->description, "ScribbixMonitorAdd-In");
  EXPECT_EQ(monitor->load_behavior, 3u);

  ToolResult r = run_tool({"scribbixoutlookaddin", "uninstall"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(registration("VorScribOutlookAddIn.Connect"));
  EXPECT_TRUE(registration("ScribbixMonitorAddIn.Connect"));
  EXPECT_FALSE(std::filesystem::exists(dir / "ScribbixOutlookAddIn.dll"));
}

// --- The whole round.

std::filesystem::path handheld_notes_file() {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  EXPECT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  for (const auto& u : users)
    if (u.name == kUser)
      return sx::hotsync::database_file(sx::hotsync::handheld_dir(u.directory), "ScribbixDB");
  return {};
}

// The texts of the handheld's notes (the third text of each record).
std::vector<std::string> handheld_texts() {
  sx::hotsync::PdbDatabase db;
  std::string why;
  EXPECT_TRUE(sx::hotsync::load_database(handheld_notes_file(), &db, &why)) << why;
  std::vector<std::string> texts;
  for (const auto& r : db.records) {
    if (r.attributes & 0x80) continue;
    std::size_t at = 26;
    for (int skip = 0; skip < 2 && at < r.data.size(); ++skip) {
      while (at < r.data.size() && r.data[at] != 0) ++at;
      ++at;
    }
    std::string text;
    while (at < r.data.size() && r.data[at] != 0) text += static_cast<char>(r.data[at++]);
    texts.push_back(text);
  }
  return texts;
}

// A new note written on the handheld (no ID yet, dirty).
void write_on_handheld(const std::string& text) {
  sx::hotsync::PdbDatabase db;
  std::string why;
  ASSERT_TRUE(sx::hotsync::load_database(handheld_notes_file(), &db, &why)) << why;
  std::vector<std::uint8_t> data(26, 0);
  data.push_back(0);
  data.push_back(0);
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(0);
  db.records.push_back({0x40, 0x900, data});
  db.modified = sx::hotsync::desktop_palm_now();
  ASSERT_TRUE(sx::hotsync::save_database(handheld_notes_file(), db, &why)) << why;
}

// HotSync Manager's HotSync of the Palm user, in a process of its own.
ToolResult hotsync() {
  return run_program(SXMACHINE_PATH,
                     {"--machine", sx::machine::root().string(), "hotsync", "sync", kUser},
                     "env SX_WINDOW_HOST=none");
}

// The number ("cN" or "N") the screen gives the line that ends with `caption`.
std::string number_of(const std::string& screen, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(screen, m, std::regex(pattern)) ? m[1].str() : "";
}

TEST_F(AddInCommandTest, ANoteMadeWithNewNoteReachesTheHandheldAndAHandheldNoteShowsInOutlook) {
  // LeakSanitizer's own tracer can crash at the end of a process that loaded and unloaded SXOut
  // (the one module with thread-local data) before loading more modules, reading the stale
  // dynamic TLS range of the unloaded module; the installation's memory is checked all the same.
  ToolResult r =
      run_program(SXMACHINE_PATH, {"--machine", sx::machine::root().string(), "system", "install"},
                  "env LSAN_OPTIONS=use_tls=0");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::string why;
  ASSERT_TRUE(sx::hotsync::save_database(handheld_notes_file(), empty_scribbix_db(), &why)) << why;
  ASSERT_EQ(hotsync().exit_code, 0);

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    auto person = sx::outlook::PersonOutlook::start(&why);
    ASSERT_TRUE(person) << why;
    std::string screen = person->screen();
    ASSERT_NE(screen.find("Scribbix Bar"), std::string::npos) << screen;
    const std::string new_note = number_of(screen, "\\n    (c[0-9]+) +New &Note\\n");
    ASSERT_NE(new_note, "") << screen;
    std::string reply;
    ASSERT_TRUE(person->run("click " + new_note, &reply)) << reply;
    screen = person->screen();
    EXPECT_NE(screen.find("(editing)"), std::string::npos) << screen;
    ASSERT_TRUE(person->run("type Buy milk", &reply)) << reply;
    ASSERT_TRUE(person->run("save", &reply)) << reply;
    // The person sees the note stamped in the notes folder.
    const std::string folder = number_of(screen, "\\n +([0-9]+)\\. +Scribbix\\n");
    ASSERT_TRUE(person->run("folder " + folder, &reply)) << reply;
    person->screen();
    ASSERT_TRUE(person->run("open 1", &reply)) << reply;
    screen = person->screen();
    EXPECT_NE(screen.find("1. Buy milk  <IPM.Post.ScribbixPost2>"), std::string::npos) << screen;
    EXPECT_TRUE(std::regex_search(screen, std::regex("Fields: EntryDate=.*ScribKey=[1-9][0-9]*, "
                                                     "Archived=False\\n")))
        << screen;
    person->run("quit", &reply);
  }
  CoUninitialize();

  r = hotsync();
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::vector<std::string> texts = handheld_texts();
  ASSERT_EQ(texts.size(), 1u) << r.output;
  EXPECT_EQ(texts[0], "Buy milk");

  write_on_handheld("Written on the handheld");
  r = hotsync();
  ASSERT_EQ(r.exit_code, 0) << r.output;

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    auto person = sx::outlook::PersonOutlook::start(&why);
    ASSERT_TRUE(person) << why;
    std::string screen = person->screen();
    const std::string folder = number_of(screen, "\\n +([0-9]+)\\. +Scribbix\\n");
    ASSERT_NE(folder, "") << screen;
    std::string reply;
    ASSERT_TRUE(person->run("folder " + folder, &reply)) << reply;
    screen = person->screen();
    EXPECT_NE(screen.find("Written on the handheld"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Buy milk"), std::string::npos) << screen;
    person->run("quit", &reply);
  }
  CoUninitialize();
}

}  // namespace
}  // namespace sx::registry::testing
