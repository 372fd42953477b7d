// sxfolders: Outlook's folders by hand. Lists profiles, stores, folders and items (with every
// property and user property), adds, changes, copies and deletes posts, adds contacts and stores,
// all through the Outlook object model of the machine (so events fire as in Outlook); checks the
// profile's store files for damage and repairs one, as Outlook's Inbox Repair Tool would.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "outlook/outlook.h"
#include "sx/ascii.h"
#include "sx/cli/program.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/outlook/install.h"
#include "sx/outlook/profiles.h"
#include "sx/outlook/store.h"
#include "sx/paths.h"

namespace {

using sx::cli::Failure;
using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

// Throws a Failure saying what failed and why, in Outlook's words when it gave some.
void check(HRESULT hr, const std::string& what) {
  if (SUCCEEDED(hr)) return;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK) info = nullptr;
  const sx::com::ComError e(hr, info.Get());  // takes its own reference; ours goes with `info`
  std::string text = what + ": " + (e.Description() ? e.Description() : e.ErrorMessage());
  if (hr == MAPI_E_CORRUPT_DATA)
    text += " \"sxfolders check\" shows the damage; \"sxfolders repair FILE\" repairs the file.";
  throw Failure(sx::cli::sentence(text));
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

// The machine's texts (ANSI) for the terminal (UTF-8).
std::string terminal(const std::string& ansi) { return sx::cli::ansi_to_terminal(ansi); }

// The profile a command names (UTF-8 from the line) as the machine stores it; the default profile
// for "". Refuses a profile that is not there, naming the ones that are.
std::string existing_profile(const std::string& utf8) {
  if (utf8.empty()) {
    auto def = sx::outlook::profiles::default_profile();
    if (!def) throw Failure("There is no default profile; name one with --profile.");
    return *def;
  }
  if (auto found = sx::outlook::profiles::find(sx::cli::machine_text(utf8, "profile name")))
    return *found;
  std::string names;
  for (const std::string& p : sx::outlook::profiles::list())
    names += (names.empty() ? "" : ", ") + ("\"" + terminal(p) + "\"");
  throw Failure("There is no profile \"" + utf8 + "\"; " +
                (names.empty() ? std::string("there are no profiles (sxmachine outlook install).")
                               : "the profiles are " + names + "."));
}

class Outlook {
 public:
  // Logs on to `profile` (UTF-8; "" for the default profile).
  explicit Outlook(const std::string& profile) {
    const std::string wanted = existing_profile(profile);
    CLSID clsid;
    check(CLSIDFromProgID(u"Outlook.Application", &clsid),
          "Outlook is not installed (sxmachine outlook install)");
    check(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                           IID_PPV_ARGS(app_.ReleaseAndGetAddressOf())),
          "Outlook cannot be started");
    Bstr mapi(u"MAPI");
    check(app_->GetNamespace(mapi.get(), ns_.ReleaseAndGetAddressOf()), "Cannot reach MAPI");
    Variant name = Variant::from_utf8(terminal(wanted)), missing;
    check(ns_->Logon(name.get(), missing.get(), missing.get(), missing.get()), "Cannot log on");
    // A running Outlook keeps the profile it logged on to (its add-ins open the default profile as
    // it starts), whatever a later logon names: working there would change the wrong profile.
    Bstr current;
    check(ns_->get_CurrentProfileName(current.put()), "Cannot read Outlook's profile");
    const std::string in_use = current.utf8();
    if (!sx::ascii::equal_ignoring_case(in_use, terminal(wanted))) {
      throw Failure("Outlook is logged on to the profile \"" + in_use +
                    "\" (its add-ins open the default profile when it starts) and cannot change to "
                    "\"" +
                    terminal(wanted) + "\" while it runs. Make \"" + terminal(wanted) +
                    "\" the default profile to work on it here.");
    }
  }
  _Application* app() { return app_.Get(); }
  _NameSpace* ns() { return ns_.Get(); }

  ComPtr<MAPIFolder> folder(const std::string& path) {
    auto parts = split_path(path);
    if (parts.empty()) throw sx::cli::UsageError("FOLDER names no folder.");
    ComPtr<_Folders> folders;
    check(ns_->get_Folders(folders.ReleaseAndGetAddressOf()), "Cannot list the stores");
    ComPtr<MAPIFolder> f;
    std::string reached;
    for (const std::string& part : parts) {
      Variant name = Variant::from_utf8(part);
      const HRESULT hr = folders->Item(name.get(), f.ReleaseAndGetAddressOf());
      if (hr == MAPI_E_NOT_FOUND || hr == DISP_E_BADINDEX) {
        throw Failure("There is no folder \"" + part + "\"" +
                      (reached.empty() ? " at the top of the profile's stores."
                                       : " in \"" + reached + "\"."));
      }
      check(hr, "Cannot open the folder \"" + part + "\"");
      reached += (reached.empty() ? "" : "\\") + part;
      check(f->get_Folders(folders.ReleaseAndGetAddressOf()), "Cannot list " + reached);
    }
    return f;
  }
  ComPtr<_Items> items(MAPIFolder* f, const std::string& shown) {
    ComPtr<_Items> items;
    check(f->get_Items(items.ReleaseAndGetAddressOf()), "Cannot read the items of " + shown);
    return items;
  }
  // The item at 1-based position `n`; a position beyond the end is refused in words.
  ComPtr<_OutlookItem> item(_Items* items, long n, const std::string& shown) {
    LONG count = 0;
    check(items->get_Count(&count), "Cannot count the items of " + shown);
    if (n > count) {
      throw Failure("There is no item " + std::to_string(n) + " in " + shown + ": it holds " +
                    sx::cli::count_of(static_cast<std::uint64_t>(count), "item", "items") + ".");
    }
    ComPtr<IDispatch> d;
    Variant index = Variant::from_i4(n);
    check(items->Item(index.get(), d.ReleaseAndGetAddressOf()),
          "Cannot read item " + std::to_string(n));
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
        u"EntryID", u"FullName"}) {
    Variant v;
    if (SUCCEEDED(sx::com::get_property(d, name, v.put())))
      std::printf("    %-22s %s\n", sx::com::u16_to_utf8(name).c_str(), show(v.get()).c_str());
  }
  ComPtr<_OutlookItem> item = ComPtr<IDispatch>(d).As<_OutlookItem>();
  ComPtr<UserProperties> props;
  check(item->get_UserProperties(props.ReleaseAndGetAddressOf()), "Cannot read user properties");
  LONG count = 0;
  props->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<UserProperty> p;
    Variant index = Variant::from_i4(i), value;
    check(props->Item(index.get(), p.ReleaseAndGetAddressOf()), "Cannot read a user property");
    Bstr name;
    LONG type = 0;
    p->get_Name(name.put());
    p->get_Type(&type);
    p->get_Value(value.put());
    std::printf("    user %s %s (type %ld)\n", sx::cli::pad_right(name.utf8(), 17).c_str(),
                show(value.get()).c_str(), static_cast<long>(type));
  }
  ComPtr<Links> links;
  check(item->get_Links(links.ReleaseAndGetAddressOf()), "Cannot read links");
  links->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<Link> l;
    Variant index = Variant::from_i4(i);
    check(links->Item(index.get(), l.ReleaseAndGetAddressOf()), "Cannot read a link");
    Bstr name;
    l->get_Name(name.put());
    std::printf("    link %s\n", name.utf8().c_str());
  }
}

void list_folders(_Folders* folders, const std::string& prefix) {
  ComPtr<MAPIFolder> f;
  check(folders->GetFirst(f.ReleaseAndGetAddressOf()), "Cannot list folders");
  while (f) {
    Bstr name, cls;
    f->get_Name(name.put());
    f->get_DefaultMessageClass(cls.put());
    const std::string path = prefix.empty() ? name.utf8() : prefix + "\\" + name.utf8();
    ComPtr<_Items> items;
    LONG count = 0;
    check(f->get_Items(items.ReleaseAndGetAddressOf()), "Cannot read " + path);
    items->get_Count(&count);
    std::printf("%s %11s  (%s)\n", sx::cli::pad_right(path, 40).c_str(),
                sx::cli::count_of(static_cast<std::uint64_t>(count), "item", "items").c_str(),
                cls.utf8().c_str());
    ComPtr<_Folders> sub;
    check(f->get_Folders(sub.ReleaseAndGetAddressOf()), "Cannot list the folders of " + path);
    list_folders(sub.Get(), path);
    check(folders->GetNext(f.ReleaseAndGetAddressOf()), "Cannot list folders");
  }
}

// --prop NAME:TYPE=VALUE, checked before Outlook starts.
struct UserProp {
  std::string name;
  LONG type = olText;
  Variant value;
};

const char* const kPropHelp =
    "NAME:TYPE=VALUE, a user property; TYPE is text, number, date (YYYY-MM-DD[ HH:MM] or days "
    "since 30 December 1899) or yesno (yes, no, true, false, 1 or 0)";

bool parse_double(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(*out);
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or days since 30 December 1899; nothing for anything else.
std::optional<DATE> parse_date(const std::string& value) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, used = 0;
  double number = 0;
  if (std::sscanf(value.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 &&
      (static_cast<std::size_t>(used) == value.size() ||
       (std::sscanf(value.c_str() + used, " %2d:%2d%n", &h, &mi, &used) == 2 &&
        value.find_first_not_of(' ', value.find(':') + 3) == std::string::npos))) {
    return sx::com::date_from_minutes({y, mo, d, h, mi});
  }
  if (parse_double(value, &number) && number >= sx::com::kMinDate &&
      number < sx::com::kMaxDateExclusive) {
    return number;
  }
  return std::nullopt;
}

// The property, or the reason it is refused.
UserProp parse_prop(const std::string& spec, std::string* why) {
  UserProp prop;
  const auto colon = spec.find(':'), eq = spec.find('=', colon == std::string::npos ? 0 : colon);
  if (colon == 0 || colon == std::string::npos || eq == std::string::npos) {
    *why = "\"" + spec + "\" is not NAME:TYPE=VALUE";
    return prop;
  }
  prop.name = spec.substr(0, colon);
  const std::string type = spec.substr(colon + 1, eq - colon - 1);
  const std::string value = spec.substr(eq + 1);
  double number = 0;
  if (type == "text") {
    prop.value = Variant::from_utf8(value);
  } else if (type == "number") {
    prop.type = olNumber;
    if (!parse_double(value, &number)) *why = "\"" + value + "\" is not a number";
    prop.value = Variant::from_r8(number);
  } else if (type == "yesno") {
    prop.type = olYesNo;
    std::string v = value;
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool yes = v == "yes" || v == "true" || v == "1";
    if (!yes && v != "no" && v != "false" && v != "0")
      *why = "\"" + value + "\" is not yes, no, true, false, 1 or 0";
    prop.value = Variant::from_bool(yes);
  } else if (type == "date") {
    prop.type = olDateTime;
    const std::optional<DATE> date = parse_date(value);
    if (!date) *why = "\"" + value + "\" is not a date (YYYY-MM-DD[ HH:MM] or days)";
    prop.value = Variant::from_date(date.value_or(0));
  } else {
    *why = "\"" + type + "\" is not a property type (text, number, date or yesno)";
  }
  return prop;
}

CLI::Validator prop_spec() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::string why;
        parse_prop(text, &why);
        return why;
      },
      "", "user property");
}

// What add-post and set change on an item.
struct ItemOptions {
  std::string subject, body, message_class, categories, sensitivity;
  std::vector<std::string> props;
};

void add_item_options(CLI::App* command, ItemOptions* o) {
  command->add_option("--subject", o->subject, "the subject")->type_name("S");
  command->add_option("--body", o->body, "the body text")->type_name("B");
  command->add_option("--class", o->message_class, "the message class")->type_name("CLASS");
  command->add_option("--categories", o->categories, "the categories")->type_name("C");
  command
      ->add_option("--sensitivity", o->sensitivity,
                   "normal, personal, private or confidential (or 0 to 3)")
      ->transform(
          sx::cli::one_of({"normal", "personal", "private", "confidential", "0", "1", "2", "3"}))
      ->type_name("S");
  command->add_option("--prop", o->props, kPropHelp)->check(prop_spec())->type_name("NAME:TYPE=V");
}

void apply_options(_OutlookItem* item, const ItemOptions& o, const CLI::App& command) {
  auto put_text = [&](const char* option, HRESULT (_OutlookItem::*put)(BSTR),
                      const std::string& value, const char* what) {
    if (command.count(option) == 0) return;
    Bstr b = Bstr::from_utf8(value);
    check((item->*put)(b.get()), std::string("Cannot set the ") + what);
  };
  put_text("--subject", &_OutlookItem::put_Subject, o.subject, "subject");
  put_text("--body", &_OutlookItem::put_Body, o.body, "body");
  put_text("--class", &_OutlookItem::put_MessageClass, o.message_class, "message class");
  put_text("--categories", &_OutlookItem::put_Categories, o.categories, "categories");
  if (command.count("--sensitivity") > 0) {
    static const char* const kNames[] = {"normal", "personal", "private", "confidential"};
    LONG level = 0;
    for (LONG i = 0; i < 4; ++i) {
      if (o.sensitivity == kNames[i] || o.sensitivity == std::to_string(i)) level = i;
    }
    check(item->put_Sensitivity(level), "Cannot set the sensitivity");
  }
  for (const std::string& spec : o.props) {
    std::string why;
    UserProp prop = parse_prop(spec, &why);
    ComPtr<UserProperties> props;
    ComPtr<UserProperty> p;
    check(item->get_UserProperties(props.ReleaseAndGetAddressOf()), "Cannot read user properties");
    Bstr name = Bstr::from_utf8(prop.name);
    Variant missing;
    check(props->Find(name.get(), missing.get(), p.ReleaseAndGetAddressOf()),
          "Cannot look for the user property " + prop.name);
    if (!p) {
      check(props->Add(name.get(), prop.type, missing.get(), missing.get(),
                       p.ReleaseAndGetAddressOf()),
            "Cannot add the user property " + prop.name);
    }
    check(p->put_Value(prop.value.get()), "Cannot set the user property " + prop.name);
  }
}

// The profile's store files, each read directly; their damage in words. Exit code 1 when damaged.
int check_stores(const std::string& profile_name) {
  const std::string profile = existing_profile(profile_name);
  int damaged = 0;
  for (const std::string& path : sx::outlook::profiles::stores(profile)) {
    std::string why;
    auto store = sx::outlook::Store::open(sx::paths::to_host(path), {}, &why);
    const std::string shown = terminal(path);
    if (!store) {
      std::printf("%s: cannot be read: %s\n", shown.c_str(), terminal(why).c_str());
      ++damaged;
    } else if (store->problems().empty()) {
      std::printf("%s: no damage\n", shown.c_str());
    } else {
      std::printf("%s: damaged: %s\n", shown.c_str(),
                  terminal(sx::outlook::describe_problems(store->problems())).c_str());
      ++damaged;
    }
  }
  return damaged == 0 ? 0 : 1;
}

int repair_store(const std::string& utf8_path) {
  const std::string& path = utf8_path;  // as typed, for the messages
  const auto host = sx::paths::to_host(sx::cli::machine_text(utf8_path, "store path"));
  if (host.empty()) throw Failure("\"" + path + "\" is not a Windows path of the machine.");
  std::string why;
  auto store = sx::outlook::Store::open(host, {}, &why);
  if (!store) throw Failure("Cannot open the store: " + why + ".");
  if (store->problems().empty()) {
    std::printf("%s has no damage; nothing to repair.\n", path.c_str());
    return 0;
  }
  const std::string problems = sx::outlook::describe_problems(store->problems());
  std::filesystem::path kept;
  if (!store->compact(&why, &kept)) throw Failure("Cannot repair the store: " + why + ".");
  std::printf("Repaired %s: %s.\nThe damaged file is kept as %s.\n", path.c_str(), problems.c_str(),
              kept.c_str());
  return 0;
}

struct Options {
  std::string profile;
  std::string folder, destination, store;
  long position = 0;
  std::string position_text;  // copy's N (or its DEST)
  std::int64_t key = 0;       // --key: the post's "ScribKey"
  std::string entry_id;       // --entry-id
  std::string created, modified, received;
  ItemOptions item;
  std::string last, first, company;
};

// A number user property of an item; nothing when it has none.
std::optional<double> number_property(IDispatch* d, const char16_t* name) {
  ComPtr<_OutlookItem> item = ComPtr<IDispatch>(d).As<_OutlookItem>();
  ComPtr<UserProperties> props;
  ComPtr<UserProperty> p;
  Bstr wanted(name);
  Variant missing, value;
  if (!item || FAILED(item->get_UserProperties(props.ReleaseAndGetAddressOf())) ||
      FAILED(props->Find(wanted.get(), missing.get(), p.ReleaseAndGetAddressOf())) || !p ||
      FAILED(p->get_Value(value.put()))) {
    return std::nullopt;
  }
  try {
    return value.changed_to(VT_R8).to_r8();
  } catch (...) {
    return std::nullopt;
  }
}

std::string entry_id_of(IDispatch* d) {
  Variant id;
  return SUCCEEDED(sx::com::get_property(d, u"EntryID", id.put())) ? show(id.get()) : "";
}

// The 1-based position of the item the command names: N (`by_position`), --key or --entry-id.
long position_of(_Items* items, const Options& o, const CLI::App& command, bool by_position,
                 const std::string& shown) {
  const bool by_key = command.count("--key") > 0, by_id = command.count("--entry-id") > 0;
  if ((by_position ? 1 : 0) + (by_key ? 1 : 0) + (by_id ? 1 : 0) != 1)
    throw sx::cli::UsageError("Name the item by one of N, --key and --entry-id.");
  if (!by_key && !by_id) return o.position;
  std::vector<long> found;
  ComPtr<IDispatch> d;
  check(items->GetFirst(d.ReleaseAndGetAddressOf()), "Cannot read the items of " + shown);
  for (long n = 1; d; ++n) {
    const bool match = by_key ? number_property(d.Get(), u"ScribKey") == static_cast<double>(o.key)
                              : sx::ascii::equal_ignoring_case(entry_id_of(d.Get()), o.entry_id);
    if (match) found.push_back(n);
    check(items->GetNext(d.ReleaseAndGetAddressOf()), "Cannot read the items of " + shown);
  }
  const std::string what = by_key ? "ScribKey " + std::to_string(o.key) : "entry ID " + o.entry_id;
  if (found.empty()) throw Failure("No item of " + shown + " has the " + what + ".");
  if (found.size() > 1) {
    throw Failure("Items " + std::to_string(found[0]) + " and " + std::to_string(found[1]) +
                  " of " + shown + " both have the " + what +
                  "; name one by its position or its entry ID.");
  }
  return found[0];
}

// Sets the times Outlook keeps for itself (creation, last modification, arrival) in the store file
// of the item, after its save: Outlook's object model cannot set them.
void set_times(const std::string& profile, IDispatch* item, const Options& o,
               const CLI::App& command) {
  std::vector<std::pair<const char*, DATE>> times;
  for (const auto& [option, name, text] :
       {std::tuple{"--created", "CreationTime", &o.created},
        std::tuple{"--modified", "LastModificationTime", &o.modified},
        std::tuple{"--received", "ReceivedTime", &o.received}}) {
    if (command.count(option) > 0) times.emplace_back(name, parse_date(*text).value_or(0));
  }
  if (times.empty()) return;
  const auto id = sx::outlook::parse_entry_id(entry_id_of(item));
  if (!id) throw Failure("The item has no entry ID; its times cannot be set.");
  for (const std::string& path : sx::outlook::profiles::stores(existing_profile(profile))) {
    std::string why;
    auto store = sx::outlook::Store::open(sx::paths::to_host(path), {}, &why);
    if (!store || store->model().store_id() != id->first) continue;
    const bool set = store->change(
        [&](const sx::outlook::StoreModel& m, std::vector<sx::outlook::Record>* out,
            std::string* reason) {
          const sx::outlook::StoredItem* stored = m.item(id->second);
          if (stored == nullptr) {
            *reason = "the item is not in its store any more";
            return false;
          }
          sx::outlook::ItemData d = *stored->data;
          for (const auto& [name, date] : times) d.set(name, sx::outlook::Value::date_of(date));
          out->push_back(sx::outlook::ItemPutRecord{stored->id, stored->folder, std::move(d)});
          return true;
        },
        &why);
    if (!set) throw Failure(sx::cli::sentence("The item's times cannot be set: " + why));
    return;
  }
  throw Failure("The item's store is not a store of the profile; its times cannot be set.");
}

CLI::Validator date_value() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return parse_date(text) ? ""
                                : "\"" + text + "\" is not a date (YYYY-MM-DD[ HH:MM] or days)";
      },
      "", "date");
}

void add_commands(sx::cli::Program& program, std::shared_ptr<Options> o) {
  CLI::App& app = program.app();
  app.add_option("--profile", o->profile, "the Outlook profile (default: the default profile)")
      ->type_name("NAME");
  // An item named by its position, its "ScribKey" or its entry ID (one of them).
  // `copy` takes N as text: without N its one positional after FOLDER is DEST.
  auto position = [&](CLI::App* command, bool n_as_text = false) {
    if (n_as_text) {
      command->add_option("N", o->position_text, "the item's 1-based position in its folder");
    } else {
      command->add_option("N", o->position, "the item's 1-based position in its folder")
          ->transform(sx::cli::number(1, 2147483647));
    }
    command->add_option("--key", o->key, "instead of N: the post whose ScribKey is K")
        ->transform(sx::cli::number(-2147483648LL, 2147483647))
        ->type_name("K");
    command->add_option("--entry-id", o->entry_id, "instead of N: the item of this entry ID")
        ->type_name("ID");
  };
  auto folder = [&](CLI::App* command) {
    command
        ->add_option("FOLDER", o->folder,
                     "a path of folder names from a store root, e.g. \"Vorlan\\Scribbix\" or "
                     "Vorlan/Scribbix")
        ->required();
  };
  // Commands that start Outlook run `body` with it, logged on to the profile.
  auto with_outlook = [o](std::function<void(Outlook&)> body) {
    return [o, body] {
      CoInitialize(nullptr);
      {
        Outlook outlook(o->profile);
        body(outlook);
      }
      CoUninitialize();
      return sx::cli::kExitSuccess;
    };
  };

  CLI::App* profiles = app.add_subcommand("profiles", "the profiles, their stores, the default");
  program.action(profiles, [] {
    auto def = sx::outlook::profiles::default_profile();
    const auto names = sx::outlook::profiles::list();
    if (names.empty()) std::printf("There are no profiles (sxmachine outlook install).\n");
    for (const std::string& p : names) {
      std::printf("%s%s\n", terminal(p).c_str(), def && *def == p ? "  (default)" : "");
      for (const std::string& s : sx::outlook::profiles::stores(p))
        std::printf("  store %s\n", terminal(s).c_str());
    }
    return sx::cli::kExitSuccess;
  });

  CLI::App* folders =
      app.add_subcommand("folders", "every folder of every store of the profile, with items");
  program.action(folders, with_outlook([](Outlook& outlook) {
                   ComPtr<_Folders> roots;
                   check(outlook.ns()->get_Folders(roots.ReleaseAndGetAddressOf()),
                         "Cannot list the stores");
                   list_folders(roots.Get(), "");
                 }));

  CLI::App* items = app.add_subcommand("items", "every item of a folder with its properties");
  folder(items);
  program.action(items, with_outlook([o](Outlook& outlook) {
                   auto list = outlook.items(outlook.folder(o->folder).Get(), o->folder);
                   ComPtr<IDispatch> d;
                   check(list->GetFirst(d.ReleaseAndGetAddressOf()), "Cannot read the items");
                   for (long n = 1; d; ++n) {
                     print_item(d.Get(), n);
                     check(list->GetNext(d.ReleaseAndGetAddressOf()), "Cannot read the items");
                   }
                 }));

  CLI::App* add_post = app.add_subcommand("add-post", "adds a post (ItemAdd is raised)");
  folder(add_post);
  add_item_options(add_post, &o->item);
  program.action(add_post, with_outlook([o, add_post](Outlook& outlook) {
                   auto list = outlook.items(outlook.folder(o->folder).Get(), o->folder);
                   Variant type = Variant::from_utf8("IPM.Post");
                   ComPtr<IDispatch> d;
                   check(list->Add(type.get(), d.ReleaseAndGetAddressOf()), "Cannot add a post");
                   auto item = d.As<_OutlookItem>();
                   apply_options(item.Get(), o->item, *add_post);
                   check(item->Save(), "Cannot save the post");
                   std::printf("Added a post to %s.\n", o->folder.c_str());
                 }));

  CLI::App* set = app.add_subcommand("set", "changes an item");
  folder(set);
  position(set);
  add_item_options(set, &o->item);
  for (const auto& [option, target, what] :
       {std::tuple{"--created", &o->created, "its creation time"},
        std::tuple{"--modified", &o->modified, "its last modification time"},
        std::tuple{"--received", &o->received, "the time it arrived in the folder"}}) {
    set->add_option(option, *target,
                    std::string(what) + " (YYYY-MM-DD[ HH:MM] or days since 30 December 1899)")
        ->check(date_value())
        ->type_name("DATE");
  }
  program.action(set, with_outlook([o, set](Outlook& outlook) {
                   auto list = outlook.items(outlook.folder(o->folder).Get(), o->folder);
                   const long n = position_of(list.Get(), *o, *set, set->count("N") > 0, o->folder);
                   auto item = outlook.item(list.Get(), n, o->folder);
                   apply_options(item.Get(), o->item, *set);
                   check(item->Save(), "Cannot save the item");
                   set_times(o->profile, item.Get(), *o, *set);
                   std::printf("Changed item %ld of %s.\n", n, o->folder.c_str());
                 }));

  CLI::App* remove = app.add_subcommand("delete", "deletes an item");
  folder(remove);
  position(remove);
  program.action(remove, with_outlook([o, remove](Outlook& outlook) {
                   auto list = outlook.items(outlook.folder(o->folder).Get(), o->folder);
                   const long n =
                       position_of(list.Get(), *o, *remove, remove->count("N") > 0, o->folder);
                   outlook.item(list.Get(), n, o->folder);  // there is one
                   check(list->Remove(n), "Cannot delete the item");
                   std::printf("Deleted item %ld of %s.\n", n, o->folder.c_str());
                 }));

  CLI::App* copy = app.add_subcommand("copy", "copies an item into the folder DEST");
  folder(copy);
  position(copy, true);
  copy->add_option("DEST", o->destination, "the folder the copy goes into");
  program.action(copy, with_outlook([o, copy](Outlook& outlook) {
                   const bool by_position = copy->count("DEST") > 0;
                   if (!by_position) {
                     if (copy->count("N") == 0)
                       throw sx::cli::UsageError("Name the folder the copy goes into (DEST).");
                     o->destination = o->position_text;
                   } else {
                     const auto n = sx::cli::parse_number(o->position_text, 1, 2147483647);
                     if (!n) {
                       throw sx::cli::UsageError("N: " + o->position_text + " is not " +
                                                 sx::cli::number_range_text(1, 2147483647) + ".");
                     }
                     o->position = static_cast<long>(*n);
                   }
                   auto list = outlook.items(outlook.folder(o->folder).Get(), o->folder);
                   const long n = position_of(list.Get(), *o, *copy, by_position, o->folder);
                   auto item = outlook.item(list.Get(), n, o->folder);
                   auto dest = outlook.folder(o->destination);
                   ComPtr<IDispatch> copied, moved;
                   check(item->Copy(copied.ReleaseAndGetAddressOf()), "Cannot copy the item");
                   check(
                       copied.As<_OutlookItem>()->Move(dest.Get(), moved.ReleaseAndGetAddressOf()),
                       "Cannot move the copy");
                   std::printf("Copied item %ld of %s into %s.\n", n, o->folder.c_str(),
                               o->destination.c_str());
                 }));

  CLI::App* add_contact = app.add_subcommand("add-contact", "adds a contact");
  add_contact->add_option("--last", o->last, "the last name")->required()->type_name("L");
  add_contact->add_option("--first", o->first, "the first name")->type_name("F");
  add_contact->add_option("--company", o->company, "the company")->type_name("C");
  program.action(add_contact, with_outlook([o, add_contact](Outlook& outlook) {
                   ComPtr<IDispatch> d;
                   check(outlook.app()->CreateItem(olContactItem, d.ReleaseAndGetAddressOf()),
                         "Cannot make a contact");
                   auto contact = d.As<_ContactItem>();
                   auto put = [&](const char* option, HRESULT (_ContactItem::*fn)(BSTR),
                                  const std::string& value, const char* what) {
                     if (add_contact->count(option) == 0) return;
                     Bstr b = Bstr::from_utf8(value);
                     check((contact.Get()->*fn)(b.get()), std::string("Cannot set the ") + what);
                   };
                   put("--last", &_ContactItem::put_LastName, o->last, "last name");
                   put("--first", &_ContactItem::put_FirstName, o->first, "first name");
                   put("--company", &_ContactItem::put_CompanyName, o->company, "company");
                   check(contact->Save(), "Cannot save the contact");
                   std::printf("Added a contact.\n");
                 }));

  CLI::App* add_store =
      app.add_subcommand("add-store", "adds (creating when missing) a store file to the profile");
  add_store->add_option("PATH", o->store, "the store file, a Windows path")->required();
  program.action(add_store, with_outlook([o](Outlook& outlook) {
                   Variant path = Variant::from_utf8(o->store);
                   check(outlook.ns()->AddStore(path.get()), "Cannot add the store");
                   std::printf("Added the store %s.\n", o->store.c_str());
                 }));

  CLI::App* check_command = app.add_subcommand(
      "check", "reads every store file of the profile and tells what is damaged where");
  check_command->footer("Exit code: 0 when no store is damaged, 1 otherwise.");
  program.action(check_command, [o] { return check_stores(o->profile); });

  CLI::App* repair = app.add_subcommand(
      "repair", "rewrites a damaged store file with what can be read, keeping the old file aside");
  repair->add_option("PATH", o->store, "the store file, a Windows path")->required();
  repair->footer(
      "The damaged file is kept as PATH.damaged-N; nothing that was in it is lost. Quit the "
      "programs that use the store first.");
  program.action(repair, [o] { return repair_store(o->store); });
}

}  // namespace

int main(int argc, char** argv) {
  sx::cli::Program program(
      "sxfolders",
      "Looks at and changes Outlook's folders on the simulated machine, as Outlook would.");
  add_commands(program, std::make_shared<Options>());
  program.app().footer("Exit code: 0 on success, 1 on failure.");
  return program.run(argc, argv);
}
