// Whole HotSyncs with everything real but the platform: HotSync Manager loads SXOut, whose desktop
// side starts the Outlook stand-in through ScribbixOut (installed and registered on the machine as
// setup leaves it), with the user's notes store in the profile "Outlook" paired with the Palm user.
// The test lays out and reads the posts through the same component, on an assistant of its own.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "com/variant_value.h"
#include "notes_setup.h"
#include "outlook/outlook.h"
#include "outlook_assistant.h"
#include "sx/outlook/install.h"
#include "sync_run_fixture.h"

namespace sx::conduit::testing {

// The notes folder as a person sees it in Outlook: key -> text (ANSI, CR LF line ends).
using Folder = std::map<std::int32_t, std::string>;

// The Outlooks people run, and the body format mode each gives the conduit: Outlook 2000 updates a
// post in place (1); Outlook 10 follows its mail editor ("EditorPreferences": 1 gives -1, 0x20003
// gives 3, anything else or none 2).
struct OutlookKind {
  const char* name;
  const char* version;
  std::optional<DWORD> editor_preferences;
  int format_mode;
};
inline const OutlookKind kOutlook2000{"Outlook2000", "9.0.0.3821", std::nullopt, 1};
inline const OutlookKind kOutlookKinds[] = {
    kOutlook2000,
    {"Outlook10HtmlFirst", "10.0.2627.1", 1, -1},
    {"Outlook10", "10.0.2627.1", std::nullopt, 2},
    {"Outlook10Rtf", "10.0.2627.1", 0x20003, 3},
};
inline void PrintTo(const OutlookKind& kind, std::ostream* out) { *out << kind.name; }
inline std::string kind_name(const ::testing::TestParamInfo<OutlookKind>& info) {
  return info.param.name;
}

// A note as both sides must agree on it, every field a post holds: text and contact (ANSI, CR LF),
// category name, private flag, and the date to the minute (the handheld's resolution; 0 when the
// handheld holds none, whose post keeps the stamp its first reading gave it).
struct NoteView {
  std::string text, contact, category;
  bool is_private = false;
  long long minute = 0;
  bool operator==(const NoteView&) const = default;
};
inline void PrintTo(const NoteView& v, std::ostream* out) {
  *out << "{\"" << v.text.substr(0, 40) << "\", contact \"" << v.contact << "\", category \""
       << v.category << "\", " << (v.is_private ? "private" : "public") << ", minute " << v.minute
       << "}";
}
inline long long minute_of(DATE date) {
  return date == 0 ? 0 : static_cast<long long>(std::floor(date * 1440 + 1e-6));
}

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
    for_each_live_post([&](com::Variant* v) {
      out.emplace_back(static_cast<std::int32_t>(v[0].to_r8()), v[4].to_ansi());
    });
    return out;
  }
  Folder read() {
    const auto posts = read_all();
    return Folder(posts.begin(), posts.end());
  }
  // Every live post as a note view by key (the date of every post: the caller leaves out the dates
  // the handheld does not hold).
  std::map<std::int32_t, NoteView> views() {
    std::map<std::int32_t, NoteView> out;
    for_each_live_post([&](com::Variant* v) {
      NoteView view;
      view.text = v[4].to_ansi();
      view.category = v[5].to_ansi();
      view.contact = v[6].to_ansi();
      view.is_private = (v[7].to_i4() & 2) != 0;
      view.minute = minute_of(v[1].to_date());
      out[static_cast<std::int32_t>(v[0].to_r8())] = view;
    });
    return out;
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
  // A person's edit of a post's text in Outlook (the rest of the post stays as it is).
  void change(double key, const std::string& text);
  void remove(double key) {
    EXPECT_GE(assistant_.BeginItem(), 0);
    com::Variant k = com::Variant::from_r8(key);
    EXPECT_GT(assistant_.DeleteItem(&k.get()), 0);
  }

 private:
  // Reads every post in folder order and calls `each` with the nine values of each live one.
  template <class Each>
  void for_each_live_post(Each each) {
    EXPECT_GE(assistant_.BeginItem(), 0);
    while (assistant_.NextItem() > 0) {
      com::Variant v[9];
      EXPECT_EQ(assistant_.ReadItem(&v[0].get(), &v[1].get(), &v[2].get(), &v[3].get(), &v[4].get(),
                                    &v[5].get(), &v[6].get(), &v[7].get(), &v[8].get()),
                0);
      if (v[8].to_bool()) continue;  // archived
      each(v);
    }
  }

  OutlookAssistant assistant_;
};

// The notes folder through Outlook's object model, as a person changes it in Outlook: the test
// thread's own apartment and Outlook logged on to the paired profile.
class PersonsFolder {
 public:
  PersonsFolder() {
    EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid, app_.PutVoid()),
        S_OK);
    com::ComPtr<_NameSpace> ns;
    EXPECT_EQ(app_->GetNamespace(com::Bstr(u"MAPI").get(), ns.ReleaseAndGetAddressOf()), S_OK);
    const com::Variant profile = com::Variant::from_utf8("Outlook"), missing;
    EXPECT_EQ(ns->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
    com::ComPtr<_Folders> folders;
    com::ComPtr<MAPIFolder> folder;
    EXPECT_EQ(ns->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    for (const char* name : {"Vorlan", "Scribbix"}) {
      EXPECT_EQ(folders->Item(com::Variant::from_utf8(name).get(), folder.ReleaseAndGetAddressOf()),
                S_OK);
      EXPECT_EQ(folder->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    }
    EXPECT_EQ(folder->get_Items(items_.ReleaseAndGetAddressOf()), S_OK);
  }
  ~PersonsFolder() {
    items_ = nullptr;
    app_ = nullptr;
    CoUninitialize();
  }
  PersonsFolder(const PersonsFolder&) = delete;
  PersonsFolder& operator=(const PersonsFolder&) = delete;

  // The post of a key (null when none has it).
  com::ComPtr<_OutlookItem> post(double key) {
    char filter[64];
    std::snprintf(filter, sizeof filter, "[ScribKey] = %.0f", key);
    com::ComPtr<IDispatch> found;
    EXPECT_EQ(items_->Find(com::Bstr::from_utf8(filter).get(), found.ReleaseAndGetAddressOf()),
              S_OK);
    return found ? found.As<_OutlookItem>() : nullptr;
  }
  // Edits a post's text (UTF-16, CR LF line ends) and saves it.
  void edit(double key, const std::u16string& text) {
    com::ComPtr<_OutlookItem> item = post(key);
    ASSERT_TRUE(item) << "no post of key " << key;
    EXPECT_EQ(item->put_Body(com::Bstr(text).get()), S_OK);
    EXPECT_EQ(item->Save(), S_OK);
  }
  // A post's text as Outlook holds it (UTF-16); empty when there is no such post.
  std::u16string body(double key) {
    com::ComPtr<_OutlookItem> item = post(key);
    com::Bstr text;
    if (item) {
      EXPECT_EQ(item->get_Body(text.put()), S_OK);
    }
    return text.u16();
  }
  // The user property `name` of `item` (null when it has none).
  static com::ComPtr<UserProperty> find_property(_OutlookItem* item, const char16_t* name) {
    com::ComPtr<UserProperties> properties;
    com::ComPtr<UserProperty> found;
    EXPECT_EQ(item->get_UserProperties(properties.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(properties->Find(com::Bstr(name).get(), com::Variant().get(),
                               found.ReleaseAndGetAddressOf()),
              S_OK);
    return found;
  }
  // A user property of a post (Empty when it has none).
  com::Variant property(double key, const char16_t* name) {
    com::Variant value;
    com::ComPtr<_OutlookItem> item = post(key);
    if (!item) return value;
    if (com::ComPtr<UserProperty> found = find_property(item.Get(), name)) {
      EXPECT_EQ(found->get_Value(value.put()), S_OK);
    }
    return value;
  }
  void set_property(double key, const char16_t* name, const com::Variant& value) {
    com::ComPtr<_OutlookItem> item = post(key);
    ASSERT_TRUE(item) << "no post of key " << key;
    com::ComPtr<UserProperty> found = find_property(item.Get(), name);
    ASSERT_TRUE(found) << "no property";
    EXPECT_EQ(found->put_Value(value.get()), S_OK);
    EXPECT_EQ(item->Save(), S_OK);
  }
  // Every key of the folder's posts, in folder order (a key twice shows twice).
  std::vector<double> keys() {
    std::vector<double> out;
    LONG count = 0;
    EXPECT_EQ(items_->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
      com::ComPtr<IDispatch> d;
      if (FAILED(items_->Item(com::Variant::from_i4(i).get(), d.ReleaseAndGetAddressOf())))
        continue;
      com::ComPtr<UserProperties> properties;
      com::ComPtr<UserProperty> property;
      d.As<_OutlookItem>()->get_UserProperties(properties.ReleaseAndGetAddressOf());
      properties->Find(com::Bstr(u"ScribKey").get(), com::Variant().get(),
                       property.ReleaseAndGetAddressOf());
      com::Variant value;
      if (property && SUCCEEDED(property->get_Value(value.put()))) out.push_back(value.to_r8());
    }
    return out;
  }
  _Items* items() { return items_.Get(); }
  _Application* application() { return app_.Get(); }

  // How many posts carry the key (the folder must never hold two).
  int posts_with(double key) {
    int n = 0;
    LONG count = 0;
    EXPECT_EQ(items_->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
      com::ComPtr<IDispatch> d;
      if (FAILED(items_->Item(com::Variant::from_i4(i).get(), d.ReleaseAndGetAddressOf())))
        continue;
      com::Variant value;
      com::ComPtr<UserProperties> properties;
      com::ComPtr<UserProperty> property;
      d.As<_OutlookItem>()->get_UserProperties(properties.ReleaseAndGetAddressOf());
      properties->Find(com::Bstr(u"ScribKey").get(), com::Variant().get(),
                       property.ReleaseAndGetAddressOf());
      if (property && SUCCEEDED(property->get_Value(value.put())) && value.to_r8() == key) ++n;
    }
    return n;
  }

 private:
  com::ComPtr<_Application> app_;
  com::ComPtr<_Items> items_;
};

inline void NotesFolder::change(double key, const std::string& text) {
  PersonsFolder().edit(key, com::ansi_to_u16(text));
}

class RealOutlookRunTest : public PostsRunTest {
 protected:
  void SetUp() override {
    PostsRunTest::SetUp();
    set_desktop_database_factory(nullptr);  // the product's
    set_setting("ShowProgress", 1);
    std::string why;
    sx::outlook::InstallOptions options;
    options.version = kind_.version;
    options.editor_preferences = kind_.editor_preferences;
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
  // Changes a handheld note as the notes application does: `change` edits the note (unpacked) and
  // its record; the Mod bits of what it changed are given; the record is marked dirty.
  void change_handheld(std::int32_t id, DWORD mod,
                       const std::function<void(NoteRecord&, sx::hotsync::PdbRecord&)>& change) {
    auto db = read_back(kScribbixDatabase);
    bool found = false;
    for (auto& record : db.records) {
      NoteRecord note;
      if ((record.attributes & 0x80) != 0 ||
          !note.unpack(record.data.data(), record.data.size(), nullptr) || note.noteId() != id)
        continue;
      change(note, record);
      note.setMod(mod);
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(note.pack(bytes.data(), bytes.size()));
      record.data = bytes;
      record.attributes = static_cast<std::uint8_t>(record.attributes | 0x40);
      found = true;
    }
    ASSERT_TRUE(found) << "no handheld note " << id;
    put_database(db);
  }
  // The handheld's live notes as note views (category names from its category block).
  std::map<std::int32_t, NoteView> handheld_views() {
    const auto db = read_back(kScribbixDatabase);
    std::map<std::int32_t, NoteView> out;
    for (const auto& record : db.records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      EXPECT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
      NoteView view;
      view.text = note.text(NoteRecord::kText).desktop();
      view.contact = note.text(NoteRecord::kText2).desktop();
      const int category = record.attributes & 0x0F;
      if (category != 0 && db.app_info && db.app_info->size() >= 2 + 16 * 16) {
        const char* name = reinterpret_cast<const char*>(db.app_info->data() + 2 + 16 * category);
        view.category.assign(name, strnlen(name, 16));
      }
      view.is_private = (record.attributes & 0x10) != 0;
      view.minute = minute_of(note.date(NoteRecord::kDate).value());
      out[note.noteId()] = view;
    }
    return out;
  }
  // Both sides hold the same notes with the same values in every field, and no key is held by two
  // posts.
  void expect_equal_in_every_field() {
    const auto handheld = handheld_views();
    auto outlook = NotesFolder().views();
    for (auto& [id, view] : outlook) {
      auto h = handheld.find(id);
      if (h != handheld.end() && h->second.minute == 0) view.minute = 0;
    }
    EXPECT_EQ(outlook, handheld) << ::testing::PrintToString(last_log_);
    std::vector<double> keys = PersonsFolder().keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end())
        << "a key held by two posts";
  }
  // A handheld note's text edited as the notes application edits it (the other fields stay).
  void edit_text(std::int32_t id, const std::string& text) {
    change_handheld(id, 1u << NoteRecord::kText, [&](NoteRecord& note, sx::hotsync::PdbRecord&) {
      note.text(NoteRecord::kText).setDesktop(text);
    });
  }
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
  OutlookKind kind_ = kOutlook2000;
};

// A fixture of whole runs against each Outlook (INSTANTIATE_TEST_SUITE_P with kOutlookKinds).
template <class Fixture>
class InEveryOutlook : public Fixture, public ::testing::WithParamInterface<OutlookKind> {
 protected:
  InEveryOutlook() { this->kind_ = GetParam(); }
};

}  // namespace sx::conduit::testing
