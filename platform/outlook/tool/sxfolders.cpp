// sxfolders: Outlook's folders by hand. Lists profiles, stores, folders and items (with every
// property and user property), adds, changes, copies and deletes posts, adds contacts and stores,
// all through the Outlook object model of the machine (so events fire as in Outlook).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "outlook/outlook.h"
#include "sx/machine.h"
#include "sx/outlook/install.h"
#include "sx/outlook/profiles.h"

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

const char* const kUsage =
    "Usage: sxfolders [--machine DIR] [--profile NAME] COMMAND [ARGS...]\n"
    "\n"
    "Looks at and changes Outlook's folders on the simulated machine, as Outlook would.\n"
    "FOLDER is a path of folder names from a store root, e.g. \"Vorlan\\Scribbix\" or "
    "Vorlan/Scribbix.\n"
    "N is an item's 1-based position in its folder.\n"
    "\n"
    "Commands:\n"
    "  profiles                       the profiles, their stores, the default profile\n"
    "  folders                        every folder of every store of the profile, with item "
    "counts\n"
    "  items FOLDER                   every item of a folder with all its properties\n"
    "  add-post FOLDER [OPTIONS]      adds a post (ItemAdd is raised as in Outlook)\n"
    "  set FOLDER N [OPTIONS]         changes an item\n"
    "  delete FOLDER N                deletes an item\n"
    "  copy FOLDER N DEST             copies an item into the folder DEST\n"
    "  add-contact --last L [--first F] [--company C]\n"
    "  add-store PATH                 adds (creating when missing) a store file, Windows path\n"
    "Options of add-post and set:\n"
    "  --subject S  --body B  --class MESSAGECLASS  --categories C  --sensitivity 0..3\n"
    "  --prop NAME:TYPE=VALUE         a user property; TYPE text, number, date (days since\n"
    "                                 30.12.1899 or YYYY-MM-DD[ HH:MM]) or yesno\n";

struct Failure {
  std::string what;
};

void check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return;
  sx::com::ComError e(hr, [] {
    IErrorInfo* info = nullptr;
    GetErrorInfo(0, &info);
    return info;
  }());
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  throw Failure{std::string(what) + " failed (" + code +
                "): " + (e.Description() ? e.Description() : e.ErrorMessage())};
}

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

class Outlook {
 public:
  explicit Outlook(const std::string& profile) {
    CLSID clsid;
    check(CLSIDFromProgID(u"Outlook.Application", &clsid), "Finding Outlook.Application");
    check(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                           IID_PPV_ARGS(app_.ReleaseAndGetAddressOf())),
          "Starting Outlook");
    Bstr mapi(u"MAPI");
    check(app_->GetNamespace(mapi.get(), ns_.ReleaseAndGetAddressOf()), "GetNamespace");
    Variant name = Variant::from_utf8(profile), missing;
    check(ns_->Logon(name.get(), missing.get(), missing.get(), missing.get()), "Logon");
  }
  _NameSpace* ns() { return ns_.Get(); }

  ComPtr<MAPIFolder> folder(const std::string& path) {
    auto parts = split_path(path);
    if (parts.empty()) throw Failure{"no folder named"};
    ComPtr<_Folders> folders;
    check(ns_->get_Folders(folders.ReleaseAndGetAddressOf()), "Folders");
    ComPtr<MAPIFolder> f;
    for (const std::string& part : parts) {
      Variant name = Variant::from_utf8(part);
      check(folders->Item(name.get(), f.ReleaseAndGetAddressOf()),
            ("Folder \"" + part + "\"").c_str());
      check(f->get_Folders(folders.ReleaseAndGetAddressOf()), "Folders");
    }
    return f;
  }
  ComPtr<_OutlookItem> item(MAPIFolder* f, long n) {
    ComPtr<_Items> items;
    check(f->get_Items(items.ReleaseAndGetAddressOf()), "Items");
    ComPtr<IDispatch> d;
    Variant index = Variant::from_i4(n);
    check(items->Item(index.get(), d.ReleaseAndGetAddressOf()), "Item");
    return d.As<_OutlookItem>();
  }

 private:
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
};

std::string show(const VARIANT& v) {
  Variant copy(v);
  if (copy.vt() == VT_DATE) {
    Variant text = copy.changed_to(VT_BSTR);
    return text.to_utf8();
  }
  if (copy.vt() == VT_BOOL) return copy.to_bool() ? "True" : "False";
  return copy.is_empty() ? "" : copy.to_utf8();
}

void print_item(IDispatch* d, long n) {
  std::printf("  [%ld]\n", n);
  for (const char16_t* name :
       {u"Class", u"MessageClass", u"Subject", u"Body", u"HTMLBody", u"BodyFormat", u"Categories",
        u"Sensitivity", u"Importance", u"CreationTime", u"LastModificationTime", u"ReceivedTime",
        u"EntryID"}) {
    Variant v;
    if (SUCCEEDED(sx::com::get_property(d, name, v.put())))
      std::printf("    %-22s %s\n", sx::com::u16_to_utf8(name).c_str(), show(v.get()).c_str());
  }
  Variant last;
  if (SUCCEEDED(sx::com::get_property(d, u"FullName", last.put())))
    std::printf("    %-22s %s\n", "FullName", show(last.get()).c_str());
  ComPtr<_OutlookItem> item = ComPtr<IDispatch>(d).As<_OutlookItem>();
  ComPtr<UserProperties> props;
  check(item->get_UserProperties(props.ReleaseAndGetAddressOf()), "UserProperties");
  LONG count = 0;
  props->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<UserProperty> p;
    Variant index = Variant::from_i4(i), value;
    check(props->Item(index.get(), p.ReleaseAndGetAddressOf()), "UserProperty");
    Bstr name;
    LONG type = 0;
    p->get_Name(name.put());
    p->get_Type(&type);
    p->get_Value(value.put());
    std::printf("    user %-17s %s (type %ld)\n", name.utf8().c_str(), show(value.get()).c_str(),
                static_cast<long>(type));
  }
  ComPtr<Links> links;
  check(item->get_Links(links.ReleaseAndGetAddressOf()), "Links");
  links->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<Link> l;
    Variant index = Variant::from_i4(i);
    check(links->Item(index.get(), l.ReleaseAndGetAddressOf()), "Link");
    Bstr name;
    l->get_Name(name.put());
    std::printf("    link %s\n", name.utf8().c_str());
  }
}

void list_folders(_Folders* folders, const std::string& prefix) {
  ComPtr<MAPIFolder> f;
  check(folders->GetFirst(f.ReleaseAndGetAddressOf()), "GetFirst");
  while (f) {
    Bstr name, cls;
    f->get_Name(name.put());
    f->get_DefaultMessageClass(cls.put());
    ComPtr<_Items> items;
    LONG count = 0;
    if (SUCCEEDED(f->get_Items(items.ReleaseAndGetAddressOf()))) items->get_Count(&count);
    const std::string path = prefix.empty() ? name.utf8() : prefix + "\\" + name.utf8();
    std::printf("%-40s %6ld items  (%s)\n", path.c_str(), static_cast<long>(count),
                cls.utf8().c_str());
    ComPtr<_Folders> sub;
    check(f->get_Folders(sub.ReleaseAndGetAddressOf()), "Folders");
    list_folders(sub.Get(), path);
    check(folders->GetNext(f.ReleaseAndGetAddressOf()), "GetNext");
  }
}

Variant parse_prop_value(const std::string& type, const std::string& value, LONG* ol_type) {
  if (type == "text") return *ol_type = olText, Variant::from_utf8(value);
  if (type == "number") return *ol_type = olNumber, Variant::from_utf8(value).changed_to(VT_R8);
  if (type == "yesno")
    return *ol_type = olYesNo,
           Variant::from_bool(value == "1" || value == "true" || value == "True" || value == "yes");
  if (type == "date") {
    *ol_type = olDateTime;
    int y, mo, d, h = 0, mi = 0;
    if (std::sscanf(value.c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi) >= 3) {
      auto date = sx::com::date_from_minutes({y, mo, d, h, mi});
      if (!date) throw Failure{"bad date " + value};
      return Variant::from_date(*date);
    }
    return Variant::from_utf8(value).changed_to(VT_R8).changed_to(VT_DATE);
  }
  throw Failure{"unknown property type " + type};
}

void apply_options(_OutlookItem* item, const std::vector<std::string>& args, std::size_t from) {
  for (std::size_t i = from; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) throw Failure{"option " + args[i] + " needs a value"};
    const std::string& opt = args[i];
    const std::string& val = args[i + 1];
    Bstr b = Bstr::from_utf8(val);
    if (opt == "--subject")
      check(item->put_Subject(b.get()), "Subject");
    else if (opt == "--body")
      check(item->put_Body(b.get()), "Body");
    else if (opt == "--class")
      check(item->put_MessageClass(b.get()), "MessageClass");
    else if (opt == "--categories")
      check(item->put_Categories(b.get()), "Categories");
    else if (opt == "--sensitivity")
      check(item->put_Sensitivity(std::stol(val)), "Sensitivity");
    else if (opt == "--prop") {
      const auto colon = val.find(':'), eq = val.find('=');
      if (colon == std::string::npos || eq == std::string::npos || eq < colon)
        throw Failure{"--prop NAME:TYPE=VALUE"};
      LONG type = olText;
      Variant value =
          parse_prop_value(val.substr(colon + 1, eq - colon - 1), val.substr(eq + 1), &type);
      ComPtr<UserProperties> props;
      ComPtr<UserProperty> p;
      check(item->get_UserProperties(props.ReleaseAndGetAddressOf()), "UserProperties");
      Bstr name = Bstr::from_utf8(val.substr(0, colon));
      Variant missing;
      check(props->Find(name.get(), missing.get(), p.ReleaseAndGetAddressOf()),
            "UserProperties.Find");
      if (!p)
        check(
            props->Add(name.get(), type, missing.get(), missing.get(), p.ReleaseAndGetAddressOf()),
            "UserProperties.Add");
      check(p->put_Value(value.get()), "UserProperty.Value");
    } else {
      throw Failure{"unknown option " + opt};
    }
  }
}

int run(int argc, char** argv) {
  if (auto dir = sx::machine::take_machine_option(argc, argv)) sx::machine::set_root(*dir);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string profile;
  if (args.size() >= 2 && args[0] == "--profile") {
    profile = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  const std::string command = args[0];
  if (command == "profiles") {
    auto def = sx::outlook::profiles::default_profile();
    for (const std::string& p : sx::outlook::profiles::list()) {
      std::printf("%s%s\n", p.c_str(), def && *def == p ? "  (default)" : "");
      for (const std::string& s : sx::outlook::profiles::stores(p))
        std::printf("  store %s\n", s.c_str());
    }
    return 0;
  }
  CoInitialize(nullptr);
  Outlook outlook(profile);
  auto need = [&](std::size_t n) {
    if (args.size() < n) throw Failure{"too few arguments for " + command + " (see --help)"};
  };
  if (command == "folders") {
    ComPtr<_Folders> roots;
    check(outlook.ns()->get_Folders(roots.ReleaseAndGetAddressOf()), "Folders");
    list_folders(roots.Get(), "");
  } else if (command == "items") {
    need(2);
    ComPtr<_Items> items;
    check(outlook.folder(args[1])->get_Items(items.ReleaseAndGetAddressOf()), "Items");
    ComPtr<IDispatch> d;
    check(items->GetFirst(d.ReleaseAndGetAddressOf()), "GetFirst");
    for (long n = 1; d; ++n) {
      print_item(d.Get(), n);
      check(items->GetNext(d.ReleaseAndGetAddressOf()), "GetNext");
    }
  } else if (command == "add-post") {
    need(2);
    ComPtr<_Items> items;
    check(outlook.folder(args[1])->get_Items(items.ReleaseAndGetAddressOf()), "Items");
    Variant type = Variant::from_utf8("IPM.Post");
    ComPtr<IDispatch> d;
    check(items->Add(type.get(), d.ReleaseAndGetAddressOf()), "Items.Add");
    auto item = d.As<_OutlookItem>();
    apply_options(item.Get(), args, 2);
    check(item->Save(), "Save");
    std::printf("Added a post to %s\n", args[1].c_str());
  } else if (command == "set") {
    need(3);
    auto item = outlook.item(outlook.folder(args[1]).Get(), std::stol(args[2]));
    apply_options(item.Get(), args, 3);
    check(item->Save(), "Save");
    std::printf("Changed item %s of %s\n", args[2].c_str(), args[1].c_str());
  } else if (command == "delete") {
    need(3);
    ComPtr<_Items> items;
    check(outlook.folder(args[1])->get_Items(items.ReleaseAndGetAddressOf()), "Items");
    check(items->Remove(std::stol(args[2])), "Items.Remove");
    std::printf("Deleted item %s of %s\n", args[2].c_str(), args[1].c_str());
  } else if (command == "copy") {
    need(4);
    auto item = outlook.item(outlook.folder(args[1]).Get(), std::stol(args[2]));
    auto dest = outlook.folder(args[3]);
    ComPtr<IDispatch> copy, moved;
    check(item->Copy(copy.ReleaseAndGetAddressOf()), "Copy");
    check(copy.As<_OutlookItem>()->Move(dest.Get(), moved.ReleaseAndGetAddressOf()), "Move");
    std::printf("Copied item %s of %s into %s\n", args[2].c_str(), args[1].c_str(),
                args[3].c_str());
  } else if (command == "add-contact") {
    ComPtr<_Application> app;
    CLSID clsid;
    CLSIDFromProgID(u"Outlook.Application", &clsid);
    check(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                           IID_PPV_ARGS(app.ReleaseAndGetAddressOf())),
          "Outlook");
    ComPtr<IDispatch> d;
    check(app->CreateItem(olContactItem, d.ReleaseAndGetAddressOf()), "CreateItem");
    auto contact = d.As<_ContactItem>();
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
      Bstr v = Bstr::from_utf8(args[i + 1]);
      if (args[i] == "--last")
        check(contact->put_LastName(v.get()), "LastName");
      else if (args[i] == "--first")
        check(contact->put_FirstName(v.get()), "FirstName");
      else if (args[i] == "--company")
        check(contact->put_CompanyName(v.get()), "CompanyName");
      else
        throw Failure{"unknown option " + args[i]};
    }
    check(contact->Save(), "Save");
    std::printf("Added a contact\n");
  } else if (command == "add-store") {
    need(2);
    Variant path = Variant::from_utf8(args[1]);
    check(outlook.ns()->AddStore(path.get()), "AddStore");
    std::printf("Added the store %s\n", args[1].c_str());
  } else {
    std::fprintf(stderr, "sxfolders: unknown command \"%s\"\n\n%s", command.c_str(), kUsage);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::fprintf(stderr, "sxfolders: %s\n", f.what.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sxfolders: %s\n", e.what());
  }
  return 1;
}
