#include "sx/outlook/person.h"

#include <cstdlib>
#include <functional>
#include <istream>
#include <ostream>
#include <vector>

#include "objbase.h"
#include "outlook/outlook.h"
#include "sx/outlook/outlook_process.h"

namespace sx::outlook {

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

constexpr std::size_t kItemsShown = 50;

constexpr char kHelp[] =
    "Commands: folder N, select N, open N, type TEXT, save, close, close!, click N, look, quit, "
    "quit!, help.";

// The save of an item that another program or window saved while it was open here.
constexpr char kSavedAsCopy[] =
    "This item was changed by another program or in another window while it was open here. Your "
    "version is saved as a new item in the same folder; the other version is kept as it was.";

// Outlook's built-in Delete button (the explorer's Standard bar): deletes the selected item.
constexpr LONG kDeleteCommand = 478;

// Outlook's failure in words: its error information, else the code.
std::string failure(HRESULT hr) {
  std::string text;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
    BSTR description = nullptr;
    info->GetDescription(&description);
    text = sx::com::bstr_to_utf8(description);
    SysFreeString(description);
    info->Release();
  }
  if (text.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "error 0x%08X", static_cast<unsigned>(hr));
    text = code;
  }
  return text;
}

std::string take(BSTR b) {
  std::string s = sx::com::bstr_to_utf8(b);
  SysFreeString(b);
  return s;
}

Variant missing() {
  Variant v;
  v.get().vt = VT_ERROR;
  v.get().scode = DISP_E_PARAMNOTFOUND;
  return v;
}

// A positive number, or 0.
std::size_t number(const std::string& text) {
  if (text.empty() || text.size() > 6) return 0;
  std::size_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

std::string text_property(IDispatch* object, const char16_t* name) {
  Variant value;
  if (FAILED(sx::com::get_property(object, name, value.put()))) return "";
  try {
    return value.changed_to(VT_BSTR, VARIANT_ALPHABOOL).to_utf8();
  } catch (...) {
    return "";
  }
}

// The item's own fields (its user properties), as "Fields: Name=value, ..." on one line; "" when
// it has none.
std::string user_fields(IDispatch* object) {
  ComPtr<_OutlookItem> item;
  ComPtr<UserProperties> properties;
  LONG count = 0;
  if (object == nullptr || FAILED(object->QueryInterface(_OutlookItem::kIid, item.PutVoid())) ||
      !item || FAILED(item->get_UserProperties(properties.ReleaseAndGetAddressOf())) ||
      !properties || FAILED(properties->get_Count(&count)) || count <= 0) {
    return "";
  }
  std::string out = "Fields:";
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<UserProperty> property;
    if (FAILED(properties->Item(Variant::from_i4(i).get(), property.ReleaseAndGetAddressOf())) ||
        !property)
      continue;
    out += std::string(i > 1 ? ", " : " ") + text_property(property.Get(), u"Name") + "=" +
           text_property(property.Get(), u"Value");
  }
  return out + "\n";
}

}  // namespace

struct PersonOutlook::State {
  ComPtr<_Application> app;
  ComPtr<_NameSpace> ns;
  // What the last screen numbered.
  std::vector<ComPtr<MAPIFolder>> folders;
  std::vector<ComPtr<IDispatch>> items;
  std::vector<ComPtr<CommandBarControl>> controls;
  // The item selected in the explorer's list (by "select N" or "open N"), by entry ID: what the
  // Delete button deletes. The explorer's view is the person's side of Outlook; its object model
  // (2000) has no selection to set.
  std::string selected;
  bool ended = false;

  ComPtr<_Explorer> explorer() {
    ComPtr<_Explorer> e;
    if (!ended && app) app->get_ActiveExplorer(e.ReleaseAndGetAddressOf());
    return e;
  }
  // The inspector opened last, when one is open.
  ComPtr<_Inspector> inspector() {
    ComPtr<_Inspectors> all;
    ComPtr<_Inspector> last;
    LONG count = 0;
    if (ended || FAILED(app->get_Inspectors(all.ReleaseAndGetAddressOf())) ||
        FAILED(all->get_Count(&count)) || count == 0)
      return last;
    all->Item(Variant::from_i4(count).get(), last.ReleaseAndGetAddressOf());
    return last;
  }
  void check_alive() {
    // Outlook gone (its last explorer closed, or Exit): every call fails as disconnected.
    ComPtr<_Explorers> explorers;
    if (!ended && app &&
        app->get_Explorers(explorers.ReleaseAndGetAddressOf()) == RPC_E_DISCONNECTED)
      ended = true;
    if (ended) {
      folders.clear();
      items.clear();
      controls.clear();
      ns = nullptr;
      app = nullptr;
    }
  }

  // Whether the open item has changes that are not saved.
  bool unsaved_changes() {
    ComPtr<_Inspector> open = inspector();
    ComPtr<IDispatch> item;
    ComPtr<_OutlookItem> typed;
    VARIANT_BOOL saved = VARIANT_TRUE;
    if (!open || FAILED(open->get_CurrentItem(item.ReleaseAndGetAddressOf())) || !item ||
        FAILED(item->QueryInterface(IID_PPV_ARGS(typed.ReleaseAndGetAddressOf()))))
      return false;
    return SUCCEEDED(typed->get_Saved(&saved)) && saved == VARIANT_FALSE;
  }

  // Deletes the selected item of the explorer's current folder.
  HRESULT delete_selected() {
    ComPtr<_Explorer> e = explorer();
    ComPtr<MAPIFolder> folder;
    ComPtr<_Items> all;
    LONG count = 0;
    HRESULT hr = e ? e->get_CurrentFolder(folder.ReleaseAndGetAddressOf()) : E_FAIL;
    if (SUCCEEDED(hr)) hr = folder->get_Items(all.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) hr = all->get_Count(&count);
    for (LONG i = 1; SUCCEEDED(hr) && i <= count; ++i) {
      ComPtr<IDispatch> item;
      ComPtr<_OutlookItem> typed;
      if (FAILED(all->Item(Variant::from_i4(i).get(), item.ReleaseAndGetAddressOf())) ||
          text_property(item.Get(), u"EntryID") != selected ||
          FAILED(item->QueryInterface(IID_PPV_ARGS(typed.ReleaseAndGetAddressOf()))))
        continue;
      hr = typed->Delete();
      if (SUCCEEDED(hr)) selected.clear();
      return hr;
    }
    selected.clear();
    return SUCCEEDED(hr) ? MAPI_E_NOT_FOUND : hr;
  }

  void list_folders(_Folders* list, int depth, std::string& out) {
    LONG count = 0;
    const std::string indent = "  " + std::string(2 * depth, ' ');
    if (list == nullptr) return;
    if (const HRESULT hr = list->get_Count(&count); FAILED(hr)) {
      out += indent + "(cannot be listed: " + failure(hr) + ")\n";
      return;
    }
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<MAPIFolder> folder;
      if (const HRESULT hr = list->Item(Variant::from_i4(i).get(), folder.ReleaseAndGetAddressOf());
          FAILED(hr)) {
        out += indent + "(a folder cannot be read: " + failure(hr) + ")\n";
        continue;
      }
      BSTR name = nullptr;
      folder->get_Name(&name);
      folders.push_back(folder);
      out += "  " + std::to_string(folders.size()) + ". " + std::string(2 * depth, ' ') +
             take(name) + "\n";
      ComPtr<_Folders> children;
      if (SUCCEEDED(folder->get_Folders(children.ReleaseAndGetAddressOf())))
        list_folders(children.Get(), depth + 1, out);
    }
  }

  void list_controls(CommandBarControls* list, int depth, std::string& out) {
    LONG count = 0;
    if (list == nullptr || FAILED(list->get_Count(&count))) return;
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<CommandBarControl> control;
      if (FAILED(list->Item(Variant::from_i4(i).get(), control.ReleaseAndGetAddressOf()))) continue;
      VARIANT_BOOL visible = VARIANT_TRUE;
      control->get_Visible(&visible);
      if (visible == VARIANT_FALSE) continue;
      BSTR caption = nullptr;
      control->get_Caption(&caption);
      controls.push_back(control);
      out += "    c" + std::to_string(controls.size()) + " " + std::string(2 * depth, ' ') +
             take(caption) + "\n";
      ComPtr<CommandBarPopup> popup;
      ComPtr<CommandBarControls> inner;
      if (SUCCEEDED(control->QueryInterface(IID_PPV_ARGS(popup.ReleaseAndGetAddressOf()))) &&
          SUCCEEDED(popup->get_Controls(inner.ReleaseAndGetAddressOf())))
        list_controls(inner.Get(), depth + 1, out);
    }
  }

  void list_bars(_CommandBars* bars, bool menu_only, std::string& out) {
    LONG count = 0;
    if (bars == nullptr || FAILED(bars->get_Count(&count))) return;
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<CommandBar> bar;
      if (FAILED(bars->Item(Variant::from_i4(i).get(), bar.ReleaseAndGetAddressOf()))) continue;
      VARIANT_BOOL visible = VARIANT_FALSE;
      bar->get_Visible(&visible);
      BSTR name = nullptr;
      bar->get_Name(&name);
      const std::string title = take(name);
      if (visible == VARIANT_FALSE || (menu_only && title != "Menu Bar")) continue;
      out += "  [" + title + "]\n";
      ComPtr<CommandBarControls> list;
      if (SUCCEEDED(bar->get_Controls(list.ReleaseAndGetAddressOf())))
        list_controls(list.Get(), 0, out);
    }
  }
};

PersonOutlook::PersonOutlook(std::unique_ptr<State> state) : state_(std::move(state)) {}

PersonOutlook::~PersonOutlook() = default;

std::unique_ptr<PersonOutlook> PersonOutlook::start(std::string* why) {
  auto state = std::make_unique<State>();
  HRESULT hr = start_with_explorer(state->app.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr)) {
    hr =
        state->app->GetNamespace(Bstr::from_utf8("MAPI").get(), state->ns.ReleaseAndGetAddressOf());
  }
  if (FAILED(hr)) {
    if (why) *why = "Outlook cannot be started: " + failure(hr);
    return nullptr;
  }
  if (!state->explorer()) {
    // Its explorer opens with a session; without one there is nothing to show.
    if (why) {
      *why = prompts_for_profile()
                 ? "Outlook shows no explorer: it asks for a profile when it starts, and \"Choose "
                   "Profile\" was closed without one (nobody can answer it without a terminal). "
                   "Start Outlook at a terminal and choose a profile, or let it use the default "
                   "profile: sxmachine outlook prompt off"
                 : "Outlook shows no explorer: it has no profile open (sxmachine outlook install "
                   "makes one)";
    }
    state->app->Quit();
    return nullptr;
  }
  return std::unique_ptr<PersonOutlook>(new PersonOutlook(std::move(state)));
}

bool PersonOutlook::running() const { return !state_->ended; }

bool PersonOutlook::unsaved_changes() { return !state_->ended && state_->unsaved_changes(); }

std::string PersonOutlook::screen() {
  State& s = *state_;
  s.check_alive();
  s.folders.clear();
  s.items.clear();
  s.controls.clear();
  if (s.ended) return "Outlook has ended.\n";
  std::string out;
  ComPtr<_Explorer> explorer = s.explorer();
  if (!explorer) return "Outlook shows no explorer.\n";
  BSTR caption = nullptr;
  explorer->get_Caption(&caption);
  out += "== " + take(caption) + " ==\n";

  out += "Folders:\n";
  ComPtr<_Folders> roots;
  if (const HRESULT hr = s.ns->get_Folders(roots.ReleaseAndGetAddressOf()); SUCCEEDED(hr))
    s.list_folders(roots.Get(), 0, out);
  else
    out += "  The folders cannot be shown: " + failure(hr) + "\n";

  ComPtr<MAPIFolder> current;
  ComPtr<_Items> items;
  LONG count = 0;
  if (SUCCEEDED(explorer->get_CurrentFolder(current.ReleaseAndGetAddressOf())) && current &&
      SUCCEEDED(current->get_Items(items.ReleaseAndGetAddressOf())) &&
      SUCCEEDED(items->get_Count(&count))) {
    BSTR name = nullptr;
    current->get_Name(&name);
    out += "Items of " + take(name) + " (" + std::to_string(count) + "):\n";
    for (LONG i = 1; i <= count && s.items.size() < kItemsShown; ++i) {
      ComPtr<IDispatch> item;
      if (FAILED(items->Item(Variant::from_i4(i).get(), item.ReleaseAndGetAddressOf()))) continue;
      s.items.push_back(item);
      const bool selected =
          !s.selected.empty() && text_property(item.Get(), u"EntryID") == s.selected;
      out += std::string(selected ? "* " : "  ") + std::to_string(s.items.size()) + ". " +
             text_property(item.Get(), u"Subject") + "  <" +
             text_property(item.Get(), u"MessageClass") + ">\n";
    }
    if (static_cast<std::size_t>(count) > s.items.size())
      out +=
          "  ... " + std::to_string(static_cast<std::size_t>(count) - s.items.size()) + " more\n";
  }

  out += "Menus and toolbars:\n";
  ComPtr<_CommandBars> bars;
  if (SUCCEEDED(explorer->get_CommandBars(bars.ReleaseAndGetAddressOf())))
    s.list_bars(bars.Get(), false, out);

  if (ComPtr<_Inspector> inspector = s.inspector()) {
    BSTR title = nullptr;
    inspector->get_Caption(&title);
    VARIANT_BOOL editing = VARIANT_FALSE;
    inspector->get_Editing(&editing);
    ComPtr<IDispatch> item;
    inspector->get_CurrentItem(item.ReleaseAndGetAddressOf());
    out +=
        "-- " + take(title) + " (" + (editing != VARIANT_FALSE ? "editing" : "reading") + ") --\n";
    out += "Subject: " + text_property(item.Get(), u"Subject") + "\n";
    out += user_fields(item.Get());
    out += text_property(item.Get(), u"Body") + "\n";
    ComPtr<_CommandBars> own;
    if (SUCCEEDED(inspector->get_CommandBars(own.ReleaseAndGetAddressOf())))
      s.list_bars(own.Get(), true, out);
  }
  return out;
}

bool PersonOutlook::run(const std::string& line, std::string* reply) {
  State& s = *state_;
  std::string said;
  auto done = [&](std::string text) {
    if (reply) *reply = std::move(text);
    s.check_alive();
    return !s.ended;
  };
  s.check_alive();
  if (s.ended) return done("Outlook has ended.");
  const std::size_t space = line.find(' ');
  const std::string command = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
  const std::size_t n = number(rest);
  HRESULT hr = S_OK;

  if (command.empty() || command == "look") {
    if (ComPtr<_Explorer> explorer = s.explorer()) {
      ComPtr<MAPIFolder> current;
      if (SUCCEEDED(explorer->get_CurrentFolder(current.ReleaseAndGetAddressOf())) && current)
        hr = explorer->put_CurrentFolder(current.Get());
    }
  } else if (command == "help") {
    return done(kHelp);
  } else if (command == "folder") {
    if (n < 1 || n > s.folders.size()) return done("There is no folder " + rest + ".");
    s.selected.clear();
    ComPtr<_Explorer> explorer = s.explorer();
    hr = explorer ? explorer->put_CurrentFolder(s.folders[n - 1].Get()) : E_FAIL;
  } else if (command == "select") {
    if (n < 1 || n > s.items.size()) return done("There is no item " + rest + ".");
    s.selected = text_property(s.items[n - 1].Get(), u"EntryID");
  } else if (command == "open") {
    if (n < 1 || n > s.items.size()) return done("There is no item " + rest + ".");
    s.selected = text_property(s.items[n - 1].Get(), u"EntryID");
    ComPtr<_OutlookItem> typed;
    hr = s.items[n - 1]->QueryInterface(IID_PPV_ARGS(typed.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) hr = typed->Display(missing().get());
  } else if (command == "type" || command == "save" || command == "close" || command == "close!") {
    ComPtr<_Inspector> inspector = s.inspector();
    if (!inspector) return done("No item is open.");
    ComPtr<IDispatch> item;
    ComPtr<_OutlookItem> typed;
    inspector->get_CurrentItem(item.ReleaseAndGetAddressOf());
    if (item) item->QueryInterface(IID_PPV_ARGS(typed.ReleaseAndGetAddressOf()));
    if (!typed) return done("No item is open.");
    if (command == "type") {
      hr = inspector->TypeText(Bstr::from_utf8(rest).get());
      if (hr == E_ACCESSDENIED)
        return done("The item is open for reading; choose Edit Item on its Edit menu first.");
    } else if (command == "save") {
      const std::string before = text_property(typed.Get(), u"EntryID");
      hr = typed->Save();
      if (SUCCEEDED(hr)) said = before.empty() || text_property(typed.Get(), u"EntryID") == before
                                    ? "Saved."
                                    : kSavedAsCopy;
    } else {
      VARIANT_BOOL saved = VARIANT_TRUE;
      typed->get_Saved(&saved);
      if (command == "close" && saved == VARIANT_FALSE)
        return done("The item has unsaved changes: \"save\" keeps them, \"close!\" drops them.");
      hr = inspector->Close(olDiscard);
    }
  } else if (command == "click") {
    const std::size_t at = number(rest.size() > 1 && rest[0] == 'c' ? rest.substr(1) : rest);
    if (at < 1 || at > s.controls.size()) return done("There is no control " + rest + ".");
    ComPtr<CommandBarControl> control = s.controls[at - 1];
    LONG id = 0;
    control->get_Id(&id);
    const bool deletes = id == kDeleteCommand && !s.inspector();
    if (deletes && s.selected.empty())
      return done("Nothing is selected: choose the item to delete with \"select N\" first.");
    hr = control->Execute();
    if (SUCCEEDED(hr) && deletes) {
      hr = s.delete_selected();
      if (hr == MAPI_E_NOT_FOUND) return done("The selected item is not in this folder any more.");
      if (SUCCEEDED(hr)) said = "Deleted.";
    }
  } else if (command == "quit" || command == "quit!") {
    if (command == "quit" && s.unsaved_changes()) {
      return done(
          "The open item has unsaved changes: \"save\" keeps them, \"quit!\" ends Outlook "
          "without them.");
    }
    hr = s.app->Quit();
    s.ended = SUCCEEDED(hr) || hr == RPC_E_DISCONNECTED;
    return done(s.ended ? "Outlook has ended." : "Outlook did not end: " + failure(hr));
  } else {
    return done("Unknown command \"" + command + "\". " + kHelp);
  }
  if (FAILED(hr) && hr != RPC_E_DISCONNECTED) return done(failure(hr));
  return done(said);
}

bool converse(std::istream& in, std::ostream& out, std::string* why) {
  if (FAILED(CoInitialize(nullptr))) {
    *why = "Cannot start COM";
    return false;
  }
  auto outlook = PersonOutlook::start(why);
  if (!outlook) {
    CoUninitialize();
    return false;
  }
  out << outlook->screen() << std::flush;
  std::string line;
  while (outlook->running()) {
    out << "> " << std::flush;
    const bool input = static_cast<bool>(std::getline(in, line));
    if (!input) {
      // Nobody is left to answer: Outlook ends, and says what is lost with it.
      if (outlook->unsaved_changes()) {
        out << "\nThe input ended while the open item had unsaved changes; they are not saved "
               "(type \"save\" before the input ends to keep them).";
      }
      line = "quit!";
    }
    std::string reply;
    const bool on = outlook->run(line, &reply);
    if (!input) out << "\n";
    if (reply.empty() && !on) reply = "Outlook has ended.";
    if (!reply.empty()) out << reply << "\n";
    if (on && line != "help") out << outlook->screen();
    out << std::flush;
  }
  outlook.reset();
  CoUninitialize();
  return true;
}

}  // namespace sx::outlook
