// The assistant thread: the worker it starts on the first command, the component it creates and
// alone uses, the order of the commands of an update by body format mode, the format probe, the
// waits that keep HotSync alive (on the virtual clock), the error texts, and its end.
#include "outlook_assistant.h"

#include <gtest/gtest.h>

#include "com/variant_value.h"
#include "fake_class1.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace sx::conduit::testing {
namespace {

class OutlookAssistantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_fake_class1();
    reset_keep_alive_counter();
  }
  static std::vector<std::string> calls() {
    std::lock_guard g(fake_outlook().lock);
    return fake_outlook().calls;
  }
  static void clear_calls() {
    std::lock_guard g(fake_outlook().lock);
    fake_outlook().calls.clear();
  }
  static void remove_class() { RegDeleteTreeA(HKEY_CLASSES_ROOT, "ScribbixOut.Class1"); }
  static void set_dword(HKEY root, const char* path, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
  }
  static std::optional<DWORD> format_mode_value() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, KEY_READ,
                      &key) != 0)
      return std::nullopt;
    DWORD value = 0, size = 4, type = 0;
    const bool read = RegQueryValueExA(key, "FormatMode", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size) == 0;
    RegCloseKey(key);
    return read ? std::optional<DWORD>(value) : std::nullopt;
  }
  // Loads Outlook (with the probe) and opens the folder's walk.
  static void open_folder(OutlookAssistant& a) {
    ASSERT_EQ(a.LoadOutlook(), 0);
    com::Variant profile = com::Variant::from_ansi("Outlook");
    ASSERT_EQ(a.LogonOutlook(&profile.get()), 0);
    ASSERT_EQ(a.GetScribbixFolder(), 0);
    ASSERT_GE(a.BeginItem(), 0);
  }
  static long update(OutlookAssistant& a, double key, const char* body) {
    com::Variant k = com::Variant::from_r8(key), d = com::Variant::from_date(40000),
                 s = com::Variant::from_ansi(body), b = com::Variant::from_ansi(body),
                 c = com::Variant::from_ansi(""), n = com::Variant::from_ansi(""),
                 p = com::Variant::from_i4(0), f = com::Variant::from_i4(0);
    return a.UpdateItem(&k.get(), &d.get(), &s.get(), &b.get(), &c.get(), &n.get(), &p.get(),
                        &f.get());
  }

  sx::testing::TempMachine machine_;
};

TEST_F(OutlookAssistantTest, NothingStartsBeforeTheFirstCommandWhichCreatesTheComponent) {
  {
    OutlookAssistant assistant;
    EXPECT_EQ(fake_outlook().objects, 0);
    EXPECT_EQ(assistant.IsOutlookLoaded(), 0);
    EXPECT_EQ(fake_outlook().objects, 1);
  }
  EXPECT_EQ(fake_outlook().objects, 0);
}

TEST_F(OutlookAssistantTest, AFailedCreationAnswersTheCommandAndTheNextCommandTriesAgain) {
  remove_class();
  OutlookAssistant assistant;
  EXPECT_EQ(assistant.LoadOutlook(), -1);
  const std::string text = assistant.GetLastErrorText();
  EXPECT_EQ(
      text.rfind("Database Access Error: Error: Unable to create assistant.\nCode = 800401f3\n"
                 "Code meaning = ",
                 0),
      0u)
      << text;
  EXPECT_TRUE(calls().empty());
  install_fake_class1();
  EXPECT_EQ(assistant.LoadOutlook(), 0);  // a new worker, a new component
  EXPECT_EQ(calls(), std::vector<std::string>({"LoadOutlook", "OutlookVersionString"}));
}

TEST_F(OutlookAssistantTest, ACommandAfterStopStartsANewWorkerWithANewComponent) {
  OutlookAssistant assistant;
  ASSERT_EQ(assistant.LoadOutlook(), 0);
  EXPECT_EQ(assistant.IsOutlookLoaded(), 1);
  assistant.Stop();
  // The old worker released its component with its Outlook session; the new one has none.
  EXPECT_EQ(assistant.IsOutlookLoaded(), 0);
  EXPECT_EQ(fake_outlook().objects, 1);
}

TEST_F(OutlookAssistantTest, AFailingMethodGivesMinusOneAndTheDatabaseAccessErrorText) {
  fake_outlook().faults.push_back({"BeginItem", 1, 0, E_FAIL});
  OutlookAssistant assistant;
  EXPECT_EQ(assistant.BeginItem(), -1);
  EXPECT_EQ(assistant.GetLastErrorText(),
            "Database Access Error: Error Communicating with Outlook.\nCode = 80004005\n"
            "Code meaning = Unspecified error\nSource = Fake.Class1\nDescription = injected\n");
  EXPECT_EQ(assistant.IsOutlookLoaded(), 0);  // the worker goes on
}

TEST_F(OutlookAssistantTest, TheFormatProbeChoosesTheModeByVersionAndEditorPreference) {
  const char* mail = ".Default\\Software\\Microsoft\\Office\\10.0\\Outlook\\Options\\Mail";
  struct Case {
    const char* version;
    std::optional<DWORD> preference;
    int mode;
    std::optional<DWORD> written;
  };
  const Case cases[] = {
      {"9.0.0.4527", 0x20003, 1, std::nullopt},
      {"10.0.2627", 0x20003, 3, 3},
      {"10.0.2627", 1, -1, 0xFFFFFFFF},
      {"10.0.2627", 0x10002, 2, 2},
      {"11.0", std::nullopt, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix");
    set_dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", "Last", 1);
    RegDeleteTreeA(HKEY_USERS, ".Default");
    if (c.preference) set_dword(HKEY_USERS, mail, "EditorPreferences", *c.preference);
    fake_outlook().version = c.version;
    OutlookAssistant assistant;
    ASSERT_EQ(assistant.LoadOutlook(), 0);
    EXPECT_EQ(assistant.formatMode(), c.mode);
    EXPECT_EQ(format_mode_value(), c.written);
  }
}

// Outlook 10's modes too: a post made again would lose its links after the first, its
// attachments and its entry ID, and a failed delete would leave two posts of one key.
TEST_F(OutlookAssistantTest, AnUpdateIsOneCommandInPlaceInEveryBodyFormatMode) {
  {
    OutlookAssistant assistant;
    open_folder(assistant);
    clear_calls();
    const int before = assistant.commandsPosted();
    EXPECT_EQ(update(assistant, 7, "plain"), 0);
    EXPECT_EQ(assistant.commandsPosted() - before, 1);
    EXPECT_EQ(calls(), std::vector<std::string>({"UpdateItem"}));
  }
  fake_outlook().version = "10.0.2627";
  FakePost old;
  old.key = 7;
  old.date = old.create = old.modify = 40000;
  old.body = u"old";
  fake_outlook().posts.push_back(old);
  OutlookAssistant assistant;
  open_folder(assistant);
  ASSERT_EQ(assistant.formatMode(), 2);
  clear_calls();
  const int before = assistant.commandsPosted();
  EXPECT_EQ(update(assistant, 7, "updated"), 0);
  EXPECT_EQ(assistant.commandsPosted() - before, 1);
  EXPECT_EQ(calls(), std::vector<std::string>({"UpdateItem"}));
  EXPECT_EQ(fake_bodies(), (std::map<std::int32_t, std::string>{{7, "updated"}}));
}

TEST_F(OutlookAssistantTest, ALongCommandYieldsEverySliceAndReadsThePreferenceEveryHundred) {
  fake_outlook().faults.push_back({"LoadOutlook", 1, 0, S_OK, 25000});
  OutlookAssistant assistant;
  const auto yields = sx::hotsync::yield_count();
  const auto reads = keep_alive_reads();
  ASSERT_EQ(assistant.LoadOutlook(), 0);
  const auto slices = sx::hotsync::yield_count() - yields;
  EXPECT_GE(slices, 250u);
  EXPECT_LE(slices, 252u);
  EXPECT_EQ(keep_alive_reads() - reads, 2u);
}

TEST_F(OutlookAssistantTest, DestroyingItWhileItRunsUnloadsOutlookThenEndsTheWorker) {
  {
    OutlookAssistant assistant;
    open_folder(assistant);
    clear_calls();
  }
  EXPECT_EQ(calls(), std::vector<std::string>({"UnloadOutlook"}));
  EXPECT_EQ(fake_outlook().objects, 0);  // released by the worker, which has ended
}

}  // namespace
}  // namespace sx::conduit::testing
