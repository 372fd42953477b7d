// Outlook for a person, driven as a person would: start, open a post, switch it to editing, type,
// save, close, click an add-in's button, quit; and the program itself on a piped input.
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "outlook_process_fixture.h"
#include "sx/outlook/person.h"
#include "sx/paths.h"

namespace sx::outlook {
namespace {

// The number ("cN") the screen gives the control whose caption is `caption`, looked for after
// `section` (the inspector's part starts with "-- ").
std::string control_number(const std::string& screen, const std::string& caption,
                           const std::string& section = "") {
  const std::size_t from = section.empty() ? 0 : screen.find(section);
  if (from == std::string::npos) return "";
  std::regex line("\\n    (c[0-9]+) +" + std::regex_replace(caption, std::regex("[&.]"), "\\$&") +
                  "\\n");
  std::smatch m;
  const std::string rest = screen.substr(from);
  return std::regex_search(rest, m, line) ? m[1].str() : "";
}

class PersonTest : public OutlookProcessTest {
 protected:
  // Saves a post in the Inbox through an Outlook of its own (ended afterwards).
  static void add_post(const char* subject, const char* body) {
    ComPtr<_Application> app = create();
    ComPtr<IDispatch> item;
    ASSERT_EQ(inbox_items(mapi(app.Get()).Get())
                  ->Add(Variant::from_utf8("IPM.Post").get(), item.ReleaseAndGetAddressOf()),
              S_OK);
    sx::com::put_property(item.Get(), u"Subject", Variant::from_utf8(subject).get());
    sx::com::put_property(item.Get(), u"Body", Variant::from_utf8(body).get());
    Variant ignored;
    ASSERT_EQ(sx::com::get_property(item.Get(), u"Save", ignored.put()), S_OK);
    item = nullptr;
    EXPECT_EQ(app->Quit(), S_OK);
  }
};

TEST_F(PersonTest, APersonOpensAPostEditsSavesClosesAndQuits) {
  add_post("Shopping", "milk");
  std::string why;
  auto person = PersonOutlook::start(&why);
  ASSERT_TRUE(person) << why;
  std::string screen = person->screen();
  EXPECT_NE(screen.find("== Inbox - Microsoft Outlook =="), std::string::npos) << screen;
  EXPECT_NE(screen.find("  2.   Inbox\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("  1. Shopping  <IPM.Post>\n"), std::string::npos) << screen;

  std::string reply;
  ASSERT_TRUE(person->run("open 1", &reply)) << reply;
  screen = person->screen();
  EXPECT_NE(screen.find("-- Shopping - Discussion (reading) --\nSubject: Shopping\nmilk\n"),
            std::string::npos)
      << screen;
  ASSERT_TRUE(person->run("type , eggs", &reply));
  EXPECT_NE(reply.find("open for reading"), std::string::npos) << reply;

  const std::string edit = control_number(screen, "Edit Ite&m", "-- Shopping");
  ASSERT_NE(edit, "") << screen;
  ASSERT_TRUE(person->run("click " + edit, &reply)) << reply;
  ASSERT_TRUE(person->run("type , eggs", &reply)) << reply;
  EXPECT_EQ(reply, "");
  screen = person->screen();
  EXPECT_NE(screen.find("(editing) --\nSubject: Shopping\nmilk, eggs\n"), std::string::npos)
      << screen;
  ASSERT_TRUE(person->run("close", &reply));
  EXPECT_NE(reply.find("unsaved changes"), std::string::npos) << reply;
  ASSERT_TRUE(person->run("save", &reply));
  EXPECT_EQ(reply, "Saved.");
  ASSERT_TRUE(person->run("close", &reply));
  EXPECT_EQ(reply, "");
  screen = person->screen();
  EXPECT_EQ(screen.find("-- Shopping"), std::string::npos) << screen;

  ASSERT_TRUE(person->run("open 9", &reply));
  EXPECT_EQ(reply, "There is no item 9.");
  EXPECT_FALSE(person->run("quit", &reply));
  EXPECT_EQ(reply, "Outlook has ended.");
  EXPECT_FALSE(outlook_window());  // gone when the call returns
  EXPECT_FALSE(person->run("look", &reply));
  person.reset();

  // What was typed and saved is in the store.
  app_ = create();
  ComPtr<IDispatch> saved;
  ASSERT_EQ(inbox_items(mapi(app_.Get()).Get())
                ->Item(Variant::from_utf8("Shopping").get(), saved.ReleaseAndGetAddressOf()),
            S_OK);
  Variant body;
  ASSERT_EQ(sx::com::get_property(saved.Get(), u"Body", body.put()), S_OK);
  EXPECT_EQ(body.to_utf8(), "milk, eggs");
}

TEST_F(PersonTest, TheAddInsButtonsAndMenusShowAndTheirClicksReachThem) {
  add_post("Auto", "edited");
  register_addin("SxTest.Toolbar", 3);
  std::string why;
  auto person = PersonOutlook::start(&why);
  ASSERT_TRUE(person) << why;
  std::string screen = person->screen();
  EXPECT_NE(screen.find("  [SxTest Bar]\n"), std::string::npos) << screen;
  EXPECT_NE(control_number(screen, "&SxTest"), "") << screen;
  const std::string go = control_number(screen, "&Go");
  ASSERT_NE(go, "") << screen;
  clear_addin_log();
  std::string reply;
  ASSERT_TRUE(person->run("click " + go, &reply)) << reply;
  EXPECT_EQ(addin_log(), "Toolbar:Click(SxTestTag)\n");
  // The add-in switches a note the person opens to editing.
  ASSERT_TRUE(person->run("open 1", &reply)) << reply;
  screen = person->screen();
  EXPECT_NE(screen.find("-- Auto - Discussion (editing) --"), std::string::npos) << screen;
  EXPECT_FALSE(person->run("quit", &reply));
}

TEST_F(PersonTest, DeleteTakesTheSelectedItemAndSaysSoWhenNothingIsSelected) {
  add_post("Keep", "one");
  add_post("Drop", "two");
  std::string why;
  auto person = PersonOutlook::start(&why);
  ASSERT_TRUE(person) << why;
  std::string screen = person->screen();
  const std::string remove = control_number(screen, "&Delete");
  ASSERT_NE(remove, "") << screen;
  std::string reply;
  ASSERT_TRUE(person->run("click " + remove, &reply));
  EXPECT_EQ(reply, "Nothing is selected: choose the item to delete with \"select N\" first.");
  ASSERT_TRUE(person->run("select 2", &reply)) << reply;
  screen = person->screen();
  EXPECT_NE(screen.find("\n* 2. Drop  <IPM.Post>\n"), std::string::npos) << screen;
  ASSERT_TRUE(person->run("click " + remove, &reply));
  EXPECT_EQ(reply, "Deleted.");
  screen = person->screen();
  EXPECT_NE(screen.find("Items of Inbox (1):\n  1. Keep  <IPM.Post>\n"), std::string::npos)
      << screen;
  // The selection went with the item: another click deletes nothing more.
  ASSERT_TRUE(person->run("click " + remove, &reply));
  EXPECT_NE(reply.find("Nothing is selected"), std::string::npos) << reply;
  EXPECT_FALSE(person->run("quit", &reply));
}

TEST_F(PersonTest, AnUnsavedEditIsNeverDroppedWithoutAWord) {
  add_post("Draft", "first");
  std::string why, reply;
  std::string edit;
  {
    auto person = PersonOutlook::start(&why);
    ASSERT_TRUE(person) << why;
    (void)person->screen();  // numbers the items
    ASSERT_TRUE(person->run("open 1", &reply)) << reply;
    const std::string screen = person->screen();
    edit = control_number(screen, "Edit Ite&m", "-- Draft");
    ASSERT_NE(edit, "") << screen;
    ASSERT_TRUE(person->run("click " + edit, &reply)) << reply;
    ASSERT_TRUE(person->run("type , second", &reply)) << reply;
    EXPECT_TRUE(person->unsaved_changes());
    ASSERT_TRUE(person->run("quit", &reply));  // refused: Outlook still runs
    EXPECT_EQ(reply,
              "The open item has unsaved changes: \"save\" keeps them, \"quit!\" ends Outlook "
              "without them.");
    EXPECT_FALSE(person->run("quit!", &reply));
    EXPECT_EQ(reply, "Outlook has ended.");
  }
  // The input ends while an edit is open: Outlook ends and says what went with it.
  std::istringstream in("open 1\nclick " + edit + "\ntype , third\n");
  std::ostringstream out;
  ASSERT_TRUE(converse(in, out, &why)) << why;
  EXPECT_NE(out.str().find("The input ended while the open item had unsaved changes; they are not "
                           "saved"),
            std::string::npos)
      << out.str();
  app_ = create();
  ComPtr<IDispatch> saved;
  ASSERT_EQ(inbox_items(mapi(app_.Get()).Get())
                ->Item(Variant::from_utf8("Draft").get(), saved.ReleaseAndGetAddressOf()),
            S_OK);
  Variant body;
  ASSERT_EQ(sx::com::get_property(saved.Get(), u"Body", body.put()), S_OK);
  EXPECT_EQ(body.to_utf8(), "first");
}

TEST_F(PersonTest, AStoreThatCannotBeOpenedIsToldWhereItsFoldersWouldBe) {
  // The default store with the read-only attribute: Windows opens it for nobody to write.
  const std::filesystem::path store = sx::paths::to_host(kDefaultStorePath);
  ASSERT_TRUE(std::filesystem::exists(store)) << store;
  std::filesystem::permissions(store, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  std::string why;
  auto person = PersonOutlook::start(&why);
  ASSERT_TRUE(person) << why;
  const std::string screen = person->screen();
  EXPECT_NE(screen.find("Folders:\n  The folders cannot be shown: The personal folders file " +
                        std::string(kDefaultStorePath) +
                        " cannot be opened. The file is read-only (its read-only attribute is "
                        "set)."),
            std::string::npos)
      << screen;
  std::string reply;
  EXPECT_FALSE(person->run("quit", &reply));
  std::filesystem::permissions(store, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

TEST_F(PersonTest, TheProgramTakesCommandsFromItsInputAndEndsOutlookAtItsEnd) {
  const std::string command = std::string(SX_OUTLOOK_PERSON_PATH) + " --machine '" +
                              machine_.root().string() + "' 2>&1 <<'EOF'\nhelp\nfolder 3\nbogus\n";
  FILE* out = popen((command + "EOF").c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, out)) text += buf;
  const int status = pclose(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_NE(text.find("Commands: folder N"), std::string::npos) << text;
  EXPECT_NE(text.find("== Contacts - Microsoft Outlook =="), std::string::npos) << text;
  EXPECT_NE(text.find("Unknown command \"bogus\""), std::string::npos) << text;
  EXPECT_NE(text.find("Outlook has ended."), std::string::npos) << text;
}

}  // namespace
}  // namespace sx::outlook
