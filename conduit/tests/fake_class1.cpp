#include "fake_class1.h"

#include <cmath>

#include "com/bstr.h"
#include "com/dispatch_table.h"
#include "com/errorinfo.h"
#include "com/object.h"
#include "com/runtime.h"
#include "com/variant_value.h"
#include "windows.h"

namespace sx::conduit::testing {
namespace {

constexpr CLSID kClsid = com::guid("{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");

double number(const VARIANT* v) {
  if (v == nullptr || v->vt == VT_EMPTY || v->vt == VT_NULL) return 0;
  return com::Variant(*v).to_r8();
}
std::u16string text(const VARIANT* v) {
  if (v == nullptr || v->vt != VT_BSTR || v->bstrVal == nullptr) return {};
  return com::bstr_to_u16(v->bstrVal);
}
bool given(const VARIANT* v) { return v != nullptr && v->vt != VT_EMPTY && v->vt != VT_NULL; }
void put(VARIANT* v, com::Variant value) {
  if (v == nullptr) return;
  VariantClear(v);
  *v = value.detach();
}

class FakeClass1 : public com::DispatchObject<_Class1> {
 public:
  FakeClass1() {
    std::lock_guard g(fake_outlook().lock);
    ++fake_outlook().objects;
  }
  ~FakeClass1() override {
    std::lock_guard g(fake_outlook().lock);
    --fake_outlook().objects;
  }

  STDMETHODIMP IsOutlookLoaded(LONG* r) override {
    return call("IsOutlookLoaded", r,
                [&](FakeOutlook& o) { return o.session_preexisting || session_ ? 1L : 0L; });
  }
  STDMETHODIMP LoadOutlook(LONG* r) override {
    return call("LoadOutlook", r, [&](FakeOutlook& o) {
      if (o.on_load) o.on_load();
      if (o.load_fails) return -1L;
      loaded_ = true;
      session_ = true;
      version_ = o.version;
      return 0L;
    });
  }
  STDMETHODIMP UnloadOutlook(LONG* r) override {
    return call("UnloadOutlook", r, [&](FakeOutlook&) {
      loaded_ = session_ = logged_on_ = folder_ = open_ = false;
      index_ = 0;
      return 0L;
    });
  }
  STDMETHODIMP LogonOutlook(VARIANT* profile, LONG* r) override {
    return call("LogonOutlook", r, [&](FakeOutlook& o) {
      if (!session_ && !o.session_preexisting) return -1L;
      const std::string name = com::u16_to_utf8(text(profile));
      if (!name.empty() && std::find(o.known_profiles.begin(), o.known_profiles.end(), name) ==
                               o.known_profiles.end())
        return -1L;
      o.logged_on_profile = name;
      logged_on_ = true;
      return 0L;
    });
  }
  STDMETHODIMP GetScribbixFolder(LONG* r) override {
    return call("GetScribbixFolder", r, [&](FakeOutlook& o) {
      if (!logged_on_) return -1L;
      folder_ = o.folder;
      return folder_ ? 0L : static_cast<long>(static_cast<LONG>(0x80770000u));
    });
  }
  STDMETHODIMP BeginItem(LONG* r) override {
    return call("BeginItem", r, [&](FakeOutlook& o) {
      index_ = 0;
      current_ = -1;
      if (!folder_) return -1L;
      open_ = true;
      return static_cast<long>(o.posts.size());
    });
  }
  STDMETHODIMP NextItem(LONG* r) override {
    return call("NextItem", r, [&](FakeOutlook& o) {
      current_ = -1;
      if (!open_ || index_ < 0) return -1L;
      if (static_cast<std::size_t>(index_) >= o.posts.size()) {
        index_ = -1;
        return -1L;
      }
      current_ = index_++;
      return static_cast<long>(index_);
    });
  }
  STDMETHODIMP EndItem(LONG* r) override {
    return call("EndItem", r, [&](FakeOutlook&) {
      index_ = -1;
      current_ = -1;
      open_ = false;
      return 0L;
    });
  }
  STDMETHODIMP ReadItem(VARIANT* key, VARIANT* date, VARIANT* create, VARIANT* modify,
                        VARIANT* body, VARIANT* category, VARIANT* contact, VARIANT* sense,
                        VARIANT* flag, LONG* r) override {
    return call("ReadItem", r, [&](FakeOutlook& o) {
      if (o.on_read) o.on_read();
      if (current_ < 0 || static_cast<std::size_t>(current_) >= o.posts.size()) return -129L;
      FakePost& p = o.posts[static_cast<std::size_t>(current_)];
      current_ = -1;
      if (p.key == 0) p.key = o.next_key++;
      if (p.date == 0) p.date = p.create;
      put(key, com::Variant::from_r8(p.key));
      put(date, com::Variant::from_date(p.date));
      put(create, com::Variant::from_date(p.create));
      put(modify, com::Variant::from_date(p.modify));
      put(body, com::Variant::from_bstr(p.body));
      put(category, com::Variant::from_bstr(p.category));
      put(contact, com::Variant::from_bstr(p.contact));
      put(sense, com::Variant::from_i4(p.sense));
      put(flag, com::Variant::from_bool(p.archived != 0));
      return 0L;
    });
  }
  STDMETHODIMP NewItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body,
                       VARIANT* category, VARIANT* contact, VARIANT* sense, VARIANT* flag,
                       VARIANT* format, LONG* r) override {
    return call("NewItem", r, [&](FakeOutlook& o) {
      if (!open_) return -1L;
      FakePost p;
      p.create = p.modify = 40000;
      write(p, key, date, subject, body, category, contact, sense, flag);
      format_ = static_cast<int>(number(format));
      o.posts.push_back(p);
      return 0x1000000L | 0x8000000L;
    });
  }
  STDMETHODIMP UpdateItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body,
                          VARIANT* category, VARIANT* contact, VARIANT* sense, VARIANT* flag,
                          VARIANT* format, LONG* r) override {
    return call("UpdateItem", r, [&](FakeOutlook& o) {
      if (!open_) return 0L;
      const double k = number(key);
      for (FakePost& p : o.posts) {
        if (p.key != k) continue;
        write(p, nullptr, date, subject, body, category, contact, sense, flag);
        format_ = static_cast<int>(number(format));
        return 0L;
      }
      return 0L;
    });
  }
  STDMETHODIMP DeleteItem(VARIANT* key, LONG* r) override {
    return call("DeleteItem", r, [&](FakeOutlook& o) {
      if (!open_) return -1L;
      const double k = number(key);
      for (std::size_t i = 0; i < o.posts.size(); ++i) {
        if (o.posts[i].key != k) continue;
        o.posts.erase(o.posts.begin() + static_cast<std::ptrdiff_t>(i));
        return static_cast<long>(i + 1);
      }
      return 0L;
    });
  }
  STDMETHODIMP OutlookVersionString(VARIANT* rest, LONG* r) override {
    return call("OutlookVersionString", r, [&](FakeOutlook&) {
      put(rest, com::Variant::from_utf8(version_));
      return static_cast<long>(std::atol(version_.c_str()));
    });
  }

 protected:
  const com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  template <class F>
  HRESULT call(const char* method, LONG* result, F&& body) {
    SX_COM_CHECK_THREAD();
    if (result == nullptr) return E_POINTER;
    FakeOutlook& o = fake_outlook();
    DWORD sleep_ms = 0;
    {
      std::lock_guard g(o.lock);
      o.calls.emplace_back(method);
      const int n = ++o.counts[method];
      for (const FakeFault& f : o.faults) {
        if (f.method != method || f.nth != n) continue;
        if (f.sleep_ms != 0) {
          sleep_ms = f.sleep_ms;
          continue;
        }
        if (FAILED(f.hr)) return com::report_error(f.hr, "Fake.Class1", "injected");
        *result = static_cast<LONG>(f.result);
        return S_OK;
      }
    }
    if (sleep_ms != 0) Sleep(sleep_ms);
    std::lock_guard g(o.lock);
    *result = static_cast<LONG>(body(o));
    return S_OK;
  }
  void write(FakePost& p, VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body,
             VARIANT* category, VARIANT* contact, VARIANT* sense, VARIANT* flag) {
    if (key != nullptr && number(key) != 0) p.key = number(key);
    if (number(date) != 0) p.date = number(date);
    if (given(subject)) p.subject = text(subject);
    if (given(body)) p.body = text(body);
    if (given(category)) p.category = text(category);
    if (given(contact)) p.contact = text(contact);
    if (given(sense) && number(sense) != -1) p.sense = static_cast<int>(number(sense));
    if (given(flag) && number(flag) != -1) p.archived = static_cast<int>(number(flag));
    p.modify += 1.0 / 1440;
  }

  com::DispatchTable table_;
  bool loaded_ = false, session_ = false, logged_on_ = false, folder_ = false, open_ = false;
  int index_ = 0;
  int current_ = -1;
  int format_ = 0;
  std::string version_;
};

void set_default(const std::string& key, const std::string& value) {
  HKEY k = nullptr;
  RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                  nullptr);
  RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

}  // namespace

FakeOutlook& fake_outlook() {
  static FakeOutlook outlook;
  return outlook;
}

void install_fake_class1() {
  FakeOutlook& o = fake_outlook();
  {
    std::lock_guard g(o.lock);
    o.folder = true;
    o.load_fails = false;
    o.version = "9.0.0.3821";
    o.known_profiles = {"Outlook"};
    o.session_preexisting = false;
    o.posts.clear();
    o.calls.clear();
    o.faults.clear();
    o.counts.clear();
    o.logged_on_profile.clear();
    o.next_key = 50000;
    o.on_load = nullptr;
    o.on_read = nullptr;
  }
  const std::string clsid = com::format_guid(kClsid);
  set_default("ScribbixOut.Class1\\CLSID", clsid);
  set_default("CLSID\\" + clsid + "\\ProgID", "ScribbixOut.Class1");
  set_default("CLSID\\" + clsid + "\\LocalServer32", "C:\\Windows\\FakeClass1.exe");
  static com::ComPtr<IClassFactory> factory = com::make_class_factory<FakeClass1>();
  com::register_local_server(kClsid, factory.Get());
}

std::map<std::int32_t, std::string> fake_bodies() {
  FakeOutlook& o = fake_outlook();
  std::lock_guard g(o.lock);
  std::map<std::int32_t, std::string> out;
  for (const FakePost& p : o.posts) {
    if (p.archived != 0) continue;
    out[static_cast<std::int32_t>(p.key)] = com::u16_to_utf8(p.body);
  }
  return out;
}

}  // namespace sx::conduit::testing
