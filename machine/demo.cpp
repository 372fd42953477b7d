// sxdemo DIR: the main job on a fresh simulated machine. Makes the machine in DIR (replacing one
// there), installs HotSync, Outlook and the system as setup would, writes notes with the
// handheld's notes application and in Outlook, synchronises them once, then changes notes on both
// sides (new on each side, one note changed on both
// sides in different fields, a conflict, an archived note, deleted notes, a private note,
// categories, non-ASCII text), presses HotSync and prints the HotSync log and the notes of both
// sides before and after. The machine stays for a person to look at with the tools.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comdef.h"
#include "commands.h"
#include "scribbixout/scribbixout.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/program.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/handheld/note_listing.h"
#include "sx/handheld/notes_database.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "windows.h"

namespace {

using sx::com::Variant;

constexpr char kUser[] = "Ana Lopez";

// A note as a person reads it in the tables.
struct Note {
  std::string category;
  std::string flags;
  std::string text;  // ANSI
};
using Notes = std::multimap<std::int32_t, Note>;  // new handheld notes have no ID yet

void step(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"sxmachine"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  if (sx::machine_tool::make_program()->run(static_cast<int>(argv.size()), argv.data()) != 0) {
    throw std::runtime_error("the machine could not be made");
  }
}

// --- The handheld, through its notes application (what a person does there)

namespace hh = sx::handheld;

void on_handheld(const std::function<void(hh::NotesDatabase&)>& work) {
  hh::NotesApp app(kUser);
  app.with_database(work);
}

// The record of the live note whose text starts with `starts`.
std::uint32_t record_of(const hh::NotesDatabase& db, const std::string& starts) {
  for (const hh::Note& n : db.notes()) {
    if (n.live() && n.fields && n.fields->text.rfind(starts, 0) == 0) return n.record_id;
  }
  throw std::runtime_error("no note \"" + starts + "\" on the handheld");
}

hh::NoteChange text_change(const std::string& text) {
  hh::NoteChange c;
  c.text = text;
  return c;
}

Notes handheld_notes() {
  Notes out;
  on_handheld([&](hh::NotesDatabase& db) {
    for (const hh::Note& n : db.notes()) {
      if (!n.live() || !n.fields) continue;
      const std::string& name = db.categories().names[static_cast<std::size_t>(n.category())];
      out.emplace(n.fields->id,
                  Note{n.category() == 0 ? "" : name, hh::note_flags(n), n.fields->text});
    }
  });
  return out;
}

void make_handheld() {
  on_handheld([](hh::NotesDatabase& db) {
    const int business = db.category_named("Business"), personal = db.category_named("Personal");
    for (const auto& [text, category] :
         std::vector<std::pair<const char*, int>>{{"Shopping list\nmilk, eggs, bread", business},
                                                  {"Call the dentist on Monday", personal},
                                                  {"Quarterly report: draft due Friday", business},
                                                  {"Old idea for the garden", 0},
                                                  {"Parking: level 3, row F", 0},
                                                  {"Gift ideas for Sam", personal}}) {
      hh::NoteChange c = text_change(text);
      c.category = category;
      db.add_note(c);
    }
  });
}

// The person's changes on the handheld after the first HotSync.
void change_handheld() {
  on_handheld([](hh::NotesDatabase& db) {
    // Its text here, its category in Outlook.
    db.edit_note(record_of(db, "Shopping list"),
                 text_change("Shopping list\nmilk, eggs, bread, caf\xe9"));
    // Changed on both sides: a conflict.
    db.edit_note(record_of(db, "Quarterly report"),
                 text_change("Quarterly report: draft due Thursday (handheld)"));
    db.delete_note(record_of(db, "Old idea"), true);  // archived: its data kept for the desktop
    db.delete_note(record_of(db, "Parking"), false);
    hh::NoteChange secret = text_change("Gift ideas for Sam (a secret)");
    secret.is_private = true;
    db.edit_note(record_of(db, "Gift ideas"), secret);
    hh::NoteChange question = text_change("Na\xefve question for J\xfcrgen");
    question.category = db.category_named("Personal");
    db.add_note(question);
  });
}

// --- Outlook's notes folder, through the access component (as the notes add-in would write)

class NotesFolder {
 public:
  NotesFolder() {
    CLSID clsid{};
    check(CLSIDFromProgID(u"ScribbixOut.Class1", &clsid));
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Class1::kIid, c_.PutVoid()));
    LONG r = 0;
    c_->LoadOutlook(&r);
    Variant profile = Variant::from_utf8("Outlook");
    c_->LogonOutlook(&profile.get(), &r);
    c_->GetScribbixFolder(&r);
    if (r != 0) throw std::runtime_error("the notes folder is not there");
  }
  ~NotesFolder() {
    LONG r = 0;
    c_->UnloadOutlook(&r);
  }
  Notes read() {
    Notes out;
    LONG r = 0;
    c_->BeginItem(&r);
    for (c_->NextItem(&r); r > 0; c_->NextItem(&r)) {
      Variant v[9];
      LONG read = 0;
      c_->ReadItem(&v[0].get(), &v[1].get(), &v[2].get(), &v[3].get(), &v[4].get(), &v[5].get(),
                   &v[6].get(), &v[7].get(), &v[8].get(), &read);
      if (read != 0) continue;
      Note n;
      n.category = v[5].to_ansi();
      n.flags =
          std::string(v[7].to_i4() & 2 ? "private " : "") + (v[8].to_bool() ? "archived" : "");
      n.text = v[4].to_ansi();
      out.emplace(static_cast<std::int32_t>(v[0].to_r8()), n);
    }
    return out;
  }
  void add(const std::string& text, const std::string& category, int sense) {
    write(false, 0, text, category, sense);
  }
  void update(double key, const std::string& text, const std::string& category) {
    write(true, key, text, category, -1);
  }
  void remove(double key) {
    LONG r = 0;
    c_->BeginItem(&r);
    Variant k = Variant::from_r8(key);
    c_->DeleteItem(&k.get(), &r);
  }

 private:
  static void check(HRESULT hr) {
    if (FAILED(hr))
      throw std::runtime_error("ScribbixOut cannot be created: " + sx::com::error_message(hr));
  }
  void write(bool update, double key, const std::string& text, const std::string& category,
             int sense) {
    LONG r = 0;
    c_->BeginItem(&r);
    Variant k = Variant::from_r8(key), d, s, b, c, n, p = Variant::from_i4(sense),
            f = Variant::from_i4(update ? -1 : 0), fmt = Variant::from_i4(1);
    if (!text.empty()) {
      s = Variant::from_ansi(text.substr(0, text.find('\r')));
      b = Variant::from_ansi(text);
    }
    if (!category.empty()) c = Variant::from_ansi(category);
    if (update) {
      c_->UpdateItem(&k.get(), &d.get(), &s.get(), &b.get(), &c.get(), &n.get(), &p.get(), &f.get(),
                     &fmt.get(), &r);
    } else {
      c_->NewItem(&k.get(), &d.get(), &s.get(), &b.get(), &c.get(), &n.get(), &p.get(), &f.get(),
                  &fmt.get(), &r);
    }
  }
  sx::com::ComPtr<_Class1> c_;
};

std::int32_t key_of(const Notes& notes, const std::string& starts) {
  for (const auto& [id, n] : notes) {
    if (n.text.rfind(starts, 0) == 0) return id;
  }
  return 0;
}

// The person's changes in Outlook after the first HotSync.
void change_outlook() {
  NotesFolder outlook;
  const Notes notes = outlook.read();
  outlook.update(key_of(notes, "Shopping list"), "",
                 "Personal");  // another field than the handheld's
  outlook.update(key_of(notes, "Quarterly report"),
                 "Quarterly report: draft due Wednesday (Outlook)", "");
  outlook.remove(key_of(notes, "Call the dentist"));
  outlook.add("Flight AF 1234 \x96 gate 42, seat 17C\r\nTaxi booked for 6:15", "Travel", 0);
  outlook.add("PIN for the garage: 4711", "", 2);
}

// --- What is shown

std::string shown(const std::string& ansi) {
  std::string one_line;
  for (char c : ansi) {
    if (c == '\r') continue;
    one_line += c == '\n' ? std::string(" / ") : std::string(1, c);
  }
  if (one_line.size() > 46) one_line = one_line.substr(0, 45) + "~";
  return sx::cli::ansi_to_terminal(one_line);
}

void print_table(const char* title, const Notes& notes) {
  std::printf("\n  %s (%zu notes)\n", title, notes.size());
  std::printf("  %-11s %-9s %-16s %s\n", "note ID", "category", "flags", "text");
  for (const auto& [id, n] : notes) {
    std::printf("  %-11d %-9s %-16s %s\n", id, sx::cli::ansi_to_terminal(n.category).c_str(),
                n.flags.c_str(), shown(n.text).c_str());
  }
}

void print_sides(const char* when) {
  std::printf("\n=== %s\n", when);
  print_table("Handheld (ScribbixDB)", handheld_notes());
  print_table("Outlook (Vorlan\\Scribbix)", NotesFolder().read());
}

long press_hotsync(bool show_log) {
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(kUser, &report);
  if (show_log) {
    std::printf("\n=== HotSync\n");
    for (const std::string& line : sx::hotsync::report_lines(report)) {
      std::printf("  %s\n", sx::cli::ansi_to_terminal(line).c_str());
    }
  }
  return result;
}

void set_conduit_setting(const char* name, DWORD value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER,
                    "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib", 0,
                    KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    throw std::runtime_error("the conduit is not registered");
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

int run(const std::string& dir) {
  std::printf("=== Installing on a fresh machine at %s\n", dir.c_str());
  step({"create", dir, "--replace"});
  step({"--machine", dir, "system", "install", "--user", kUser});
  sx::machine::set_root(dir);
  // The conflict is decided by the handheld's value instead of asking (the log tells it), and
  // every change is logged.
  set_conduit_setting("ConflictResolution", 1);
  set_conduit_setting("LogChanges", 1);
  make_handheld();
  {
    NotesFolder outlook;
    outlook.add("Book club: read chapters 4-6", "Personal", 0);
  }
  std::printf("\n=== First HotSync (the handheld and Outlook meet)\n");
  if (press_hotsync(false) != 0) std::printf("  (the first HotSync failed)\n");
  change_handheld();
  change_outlook();
  print_sides("Before the HotSync");
  const long result = press_hotsync(true);
  print_sides("After the HotSync");
  const std::string sxmachine = SX_COMPANION_FILE(SX_SXMACHINE_PROGRAM);
  const std::string sxfolders = SX_COMPANION_FILE(SX_SXFOLDERS_PROGRAM);
  const std::string machine = sx::cli::shell_word(dir);
  std::printf(
      "\nThe machine stays at %s. Look at it with:\n"
      "  %s --machine %s handheld \"%s\" list\n"
      "  %s --machine %s items \"Vorlan\\Scribbix\"\n"
      "  %s --machine %s hotsync sync \"%s\"\n",
      dir.c_str(), sxmachine.c_str(), machine.c_str(), kUser, sxfolders.c_str(), machine.c_str(),
      sxmachine.c_str(), machine.c_str(), kUser);
  return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool help = argc == 2 && sx::cli::is_help(argv[1]);
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::fputs(sx::cli::version_line("sxdemo").c_str(), stdout);
    return 0;
  }
  if (argc != 2 || help) {
    std::fputs(
        "Usage: sxdemo DIR\nMakes a fresh simulated machine in DIR (replacing one there), installs "
        "the system,\nsynchronises a handheld with Outlook and shows both sides before and after a "
        "HotSync.\n",
        help ? stdout : stderr);
    return help ? 0 : 1;
  }
  try {
    CoInitialize(nullptr);
    const int code = run(std::filesystem::absolute(argv[1]).string());
    CoUninitialize();
    return code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
    return 1;
  }
}
