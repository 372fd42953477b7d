// Whole HotSyncs through the HotSync stand-in with the product's desktop side: HotSync Manager
// loads SXOut, whose DesktopNoteDatabase reaches the notes folder through its assistant thread and
// the access component. The component is the test's small one (fake_class1.h); the Palm user is
// paired with the profile "Outlook", and the settings are those registration leaves (progress
// window on).
#pragma once

#include "fake_class1.h"
#include "sync_run_fixture.h"

namespace sx::conduit::testing {

class OutlookRunTest : public PostsRunTest {
 protected:
  void SetUp() override {
    PostsRunTest::SetUp();
    install_fake_class1();
    set_desktop_database_factory(nullptr);  // the product's
    set_setting("ShowProgress", 1);
    pair_profile("Outlook");
  }
  static void pair_profile(const char* profile) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    if (profile != nullptr) {
      RegSetValueExA(key, kUser, 0, REG_SZ, reinterpret_cast<const BYTE*>(profile),
                     static_cast<DWORD>(strlen(profile) + 1));
    } else {
      RegDeleteValueA(key, kUser);
    }
    RegCloseKey(key);
  }
  static void add_post(double key, const std::u16string& body, const std::u16string& category = u"",
                       int sense = 0) {
    std::lock_guard g(fake_outlook().lock);
    FakePost p;
    p.key = key;
    p.date = p.create = p.modify = 40000;
    p.body = body;
    p.subject = body.substr(0, 10);
    p.category = category;
    p.sense = sense;
    fake_outlook().posts.push_back(p);
  }
  static FakePost* post(double key) {
    for (FakePost& p : fake_outlook().posts) {
      if (p.key == key) return &p;
    }
    return nullptr;
  }
  static void remove_post(double key) {
    auto& posts = fake_outlook().posts;
    posts.erase(std::remove_if(posts.begin(), posts.end(), [&](auto& p) { return p.key == key; }),
                posts.end());
  }
  static void fail(const char* method, int nth = 1, long result = -1, HRESULT hr = S_OK) {
    std::lock_guard g(fake_outlook().lock);
    fake_outlook().faults.push_back({method, nth, result, hr});
    fake_outlook().counts.clear();
  }
  static void clear_component_faults() {
    std::lock_guard g(fake_outlook().lock);
    fake_outlook().faults.clear();
    fake_outlook().counts.clear();
  }
  // Runs a HotSync; its result.
  long hotsync(const Lines** log = nullptr) {
    long result = -999;
    last_log_ = conduit_log(&result);
    if (log != nullptr) *log = &last_log_;
    return result;
  }
  bool logged(const std::string& line) const {
    return std::find(last_log_.begin(), last_log_.end(), line) != last_log_.end();
  }
  // Both sides hold the same notes (ID and text).
  void expect_sides_equal() { EXPECT_EQ(handheld_notes(), fake_bodies()); }

  Lines last_log_;
};

}  // namespace sx::conduit::testing
