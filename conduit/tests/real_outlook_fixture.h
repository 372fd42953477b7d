// Whole HotSyncs with everything real but the platform: HotSync Manager loads SXOut, whose desktop
// side starts the Outlook stand-in through ScribbixOut (installed and registered on the machine as
// setup leaves it), with the user's notes store in the profile "Outlook" paired with the Palm user.
// The test lays out and reads the posts through the same component, on an assistant of its own.
#pragma once

#include "com/variant_value.h"
#include "notes_setup.h"
#include "outlook_assistant.h"
#include "sx/outlook/install.h"
#include "sync_run_fixture.h"

namespace sx::conduit::testing {

// The notes folder as a person sees it in Outlook: key -> text (ANSI, CR LF line ends).
using Folder = std::map<std::int32_t, std::string>;

// One session with the notes folder, through the access component.
class NotesFolder {
 public:
  NotesFolder() {
    EXPECT_EQ(assistant_.LoadOutlook(), 0);
    com::Variant profile = com::Variant::from_ansi("Outlook");
    EXPECT_EQ(assistant_.LogonOutlook(&profile.get()), 0);
    EXPECT_EQ(assistant_.GetScribbixFolder(), 0);
  }
  // Every live post in folder order: (key, text), a key twice included.
  std::vector<std::pair<std::int32_t, std::string>> read_all() {
    std::vector<std::pair<std::int32_t, std::string>> out;
    EXPECT_GE(assistant_.BeginItem(), 0);
    while (assistant_.NextItem() > 0) {
      com::Variant v[9];
      EXPECT_EQ(assistant_.ReadItem(&v[0].get(), &v[1].get(), &v[2].get(), &v[3].get(), &v[4].get(),
                                    &v[5].get(), &v[6].get(), &v[7].get(), &v[8].get()),
                0);
      if (v[8].to_bool()) continue;  // archived
      out.emplace_back(static_cast<std::int32_t>(v[0].to_r8()), v[4].to_ansi());
    }
    return out;
  }
  Folder read() {
    const auto posts = read_all();
    return Folder(posts.begin(), posts.end());
  }
  // How many posts the notes folder holds, archived ones included.
  long count() { return assistant_.BeginItem(); }
  // A post as the notes add-in makes one (key 0: a post made by hand, stamped on its first read).
  void add(double key, const std::string& text, const std::string& category = "", int sense = 0) {
    EXPECT_GE(assistant_.BeginItem(), 0);
    com::Variant k = com::Variant::from_r8(key), d = com::Variant::from_date(key == 0 ? 0 : 40000),
                 s = com::Variant::from_ansi(text.substr(0, 20)), b = com::Variant::from_ansi(text),
                 c = com::Variant::from_ansi(category), n = com::Variant::from_ansi(""),
                 p = com::Variant::from_i4(sense), f = com::Variant::from_i4(0);
    p.get().vt = VT_INT;
    f.get().vt = VT_INT;
    EXPECT_GT(assistant_.NewItem(&k.get(), &d.get(), &s.get(), &b.get(), &c.get(), &n.get(),
                                 &p.get(), &f.get()),
              0);
  }
  void change(double key, const std::string& text) {
    EXPECT_GE(assistant_.BeginItem(), 0);
    com::Variant k = com::Variant::from_r8(key), d, s = com::Variant::from_ansi(text.substr(0, 20)),
                 b = com::Variant::from_ansi(text), c, n, p = com::Variant::from_i4(-1),
                 f = com::Variant::from_i4(-1);
    EXPECT_EQ(assistant_.UpdateItem(&k.get(), &d.get(), &s.get(), &b.get(), &c.get(), &n.get(),
                                    &p.get(), &f.get()),
              0);
  }
  void remove(double key) {
    EXPECT_GE(assistant_.BeginItem(), 0);
    com::Variant k = com::Variant::from_r8(key);
    EXPECT_GT(assistant_.DeleteItem(&k.get()), 0);
  }

 private:
  OutlookAssistant assistant_;
};

class RealOutlookRunTest : public PostsRunTest {
 protected:
  void SetUp() override {
    PostsRunTest::SetUp();
    set_desktop_database_factory(nullptr);  // the product's
    set_setting("ShowProgress", 1);
    std::string why;
    sx::outlook::InstallOptions options;
    ASSERT_TRUE(sx::outlook::install(options, &why)) << why;
    const std::string server = "C:\\Program Files\\Scribbix\\ScribbixOut.dll";
    std::filesystem::create_directories(sx::paths::to_host("C:\\Program Files\\Scribbix"));
    std::filesystem::copy_file(SX_SCRIBBIXOUT_LIBRARY, sx::paths::to_host(server));
    ASSERT_EQ(sx::com::register_server_module(server), S_OK);
    ASSERT_TRUE(sx::machine_tool::install_notes_store("Outlook", kUser, &why)) << why;
    ASSERT_TRUE(sx::machine_tool::pair_profile(kUser, "Outlook", &why)) << why;
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    PostsRunTest::TearDown();
  }
  long hotsync() {
    long result = -999;
    last_log_ = conduit_log(&result);
    return result;
  }
  Folder folder() { return NotesFolder().read(); }
  // A new note as its side makes it: on the handheld as the notes application leaves it (dirty,
  // no ID yet), in Outlook as the notes add-in saves it (key 40000 + n).
  void make_note(bool on_handheld, int n, const std::string& text) {
    if (on_handheld) {
      add_handheld(text, 0x5000 + static_cast<std::uint32_t>(n));
    } else {
      NotesFolder().add(40000 + n, text);
    }
  }

  Lines last_log_;
};

}  // namespace sx::conduit::testing
