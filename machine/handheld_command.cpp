// sxmachine handheld USER ...: the notes application on a HotSync user's handheld, its one-shot
// commands for scripts and `run` for a person (the application is platform/handheld).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "commands.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/handheld/note_json.h"
#include "sx/handheld/note_listing.h"
#include "sx/handheld/notes_database.h"
#include "sx/handheld/person.h"
#include "sx/hotsync.h"

namespace sx::machine_tool {
namespace {

using sx::cli::ansi_to_terminal;
using sx::cli::Failure;
using sx::cli::machine_text;
namespace hh = sx::handheld;

constexpr std::uintmax_t kMaxImportBytes = 16 * 1024 * 1024;

struct Args {
  std::string user;
  std::string record;  // REC
  std::string text, category, is_private, date;
  bool set_private = false, all = false, archive = false;
  std::string new_category, delete_category, find, file;
  std::vector<std::string> rename;
  std::int64_t offset = 0;
};

void print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("%s\n", ansi_to_terminal(line).c_str());
}

// Runs `work` on the user's notes database; a NotesError becomes the command's failure.
void with_notes(const Args& a, const std::function<void(hh::NotesDatabase&)>& work) {
  try {
    hh::NotesApp app(machine_text(a.user, "user name"));
    app.with_database(work);
    if (app.made_database()) {
      std::printf(
          "The notes application was installed on the handheld: it made its database "
          "\"ScribbixDB\".\n");
    }
  } catch (const hh::NotesError& e) {
    throw Failure(sx::cli::sentence(ansi_to_terminal(e.what())));
  }
}

std::uint32_t record_id(const std::string& text) {
  const auto n = sx::cli::parse_number(text, 1, 0xFFFFFF);
  if (!n) throw Failure("\"" + text + "\" is not a record ID (a number from the list).");
  return static_cast<std::uint32_t>(*n);
}

hh::PackedDate date_of(const std::string& text) {
  if (text == "none") return {};
  const auto t = hh::parse_minutes(text);
  const auto packed = t ? hh::PackedDate::of(*t) : std::nullopt;
  if (!packed) {
    throw Failure("--date: \"" + text +
                  "\" is not a date from 1905 to 2031 (YYYY-MM-DD or \"YYYY-MM-DD HH:MM\") or "
                  "none.");
  }
  return *packed;
}

// The note values given on the line, converted once to the handheld's code page.
hh::NoteChange change_of(const Args& a, const CLI::App& command, hh::NotesDatabase& db) {
  hh::NoteChange c;
  if (command.count("--text") > 0) c.text = machine_text(a.text, "text");
  if (command.count("--category") > 0)
    c.category = db.category_named(machine_text(a.category, "category name"));
  if (command.count("--private") > 0) c.is_private = a.set_private || a.is_private == "on";
  if (command.count("--date") > 0) c.date = date_of(a.date);
  return c;
}

std::string read_import_file(const std::string& path) {
  sx::cli::check_readable_file(path, "a JSON file of notes");
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > kMaxImportBytes)
    throw Failure(path + " is larger than 16 MiB; split it into smaller files.");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_export(const std::string& path, const std::string& json) {
  if (path == "-") {
    std::fwrite(json.data(), 1, json.size(), stdout);
    return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << json;
  out.close();
  if (!out) throw Failure("Cannot write " + path + ".");
  std::printf("Wrote the handheld's notes to %s.\n", path.c_str());
}

void add_note_commands(sx::cli::Program& program, CLI::App* handheld, std::shared_ptr<Args> a) {
  CLI::App* list = handheld->add_subcommand("list",
                                            "the notes: record ID, note ID, category, "
                                            "flags, date and title");
  list->add_option("--category", a->category, "only the notes of this category")->type_name("NAME");
  list->add_flag("--all", a->all, "deleted and archived notes too (they stay until the HotSync)");
  program.action(list, [a, list] {
    with_notes(*a, [&](hh::NotesDatabase& db) {
      int only = -1;
      if (list->count("--category") > 0)
        only = db.category_named(machine_text(a->category, "category name"));
      std::vector<hh::Note> shown;
      for (const hh::Note& n : db.notes()) {
        if ((n.live() || a->all) && (only < 0 || (n.live() && n.category() == only)))
          shown.push_back(n);
      }
      print(hh::note_table(shown, db.categories()));
    });
    return 0;
  });

  CLI::App* show = handheld->add_subcommand("show", "every field of one note");
  show->add_option("REC", a->record, "the note's record ID")->required();
  program.action(show, [a] {
    const std::uint32_t id = record_id(a->record);
    with_notes(
        *a, [&](hh::NotesDatabase& db) { print(hh::note_details(db.note(id), db.categories())); });
    return 0;
  });

  CLI::App* add = handheld->add_subcommand("new", "write a new note");
  add->add_option("--text", a->text, "the note's text (a line break is a new line)")
      ->required()
      ->type_name("T");
  add->add_option("--category", a->category, "its category (default: Unfiled)")->type_name("C");
  add->add_flag("--private", a->set_private, "a private note");
  add->add_option("--date", a->date,
                  "its date: YYYY-MM-DD, \"YYYY-MM-DD HH:MM\" or none "
                  "(default: now on the handheld's clock)")
      ->type_name("D");
  program.action(add, [a, add] {
    with_notes(*a, [&](hh::NotesDatabase& db) {
      const std::uint32_t id = db.add_note(change_of(*a, *add, db));
      std::printf("Added the note with record ID %lu.\n", static_cast<unsigned long>(id));
    });
    return 0;
  });

  CLI::App* edit = handheld->add_subcommand("edit", "change a note");
  edit->add_option("REC", a->record, "the note's record ID")->required();
  edit->add_option("--text", a->text, "its new text")->type_name("T");
  edit->add_option("--category", a->category, "its new category")->type_name("C");
  edit->add_option("--private", a->is_private, "on or off")
      ->transform(sx::cli::one_of({"on", "off"}))
      ->type_name("on|off");
  edit->add_option("--date", a->date, "its new date: YYYY-MM-DD, \"YYYY-MM-DD HH:MM\" or none")
      ->type_name("D");
  program.action(edit, [a, edit] {
    const std::uint32_t id = record_id(a->record);
    with_notes(*a, [&](hh::NotesDatabase& db) {
      const bool changed = db.edit_note(id, change_of(*a, *edit, db));
      std::printf(changed ? "Changed the note with record ID %lu.\n"
                          : "The note with record ID %lu already is so; nothing changed.\n",
                  static_cast<unsigned long>(id));
    });
    return 0;
  });

  CLI::App* remove = handheld->add_subcommand("delete", "delete a note, or archive it");
  remove->add_option("REC", a->record, "the note's record ID")->required();
  remove->add_flag("--archive", a->archive,
                   "keep a copy on the desktop (\"Save archive copy on PC\")");
  program.action(remove, [a] {
    const std::uint32_t id = record_id(a->record);
    with_notes(*a, [&](hh::NotesDatabase& db) { db.delete_note(id, a->archive); });
    std::printf("%s the note with record ID %lu; the next HotSync %s.\n",
                a->archive ? "Archived" : "Deleted", static_cast<unsigned long>(id),
                a->archive ? "moves it to the desktop's archive" : "deletes it on the desktop");
    return 0;
  });

  CLI::App* find = handheld->add_subcommand("find", "the notes whose text holds TEXT (any case)");
  find->add_option("TEXT", a->find, "what to look for")->required();
  program.action(find, [a] {
    const std::string wanted = machine_text(a->find, "text");
    with_notes(*a, [&](hh::NotesDatabase& db) {
      std::vector<hh::Note> found;
      for (const hh::Note& n : db.notes()) {
        if (hh::note_holds(n, wanted)) found.push_back(n);
      }
      print(hh::note_table(found, db.categories()));
    });
    return 0;
  });
}

void add_other_commands(sx::cli::Program& program, CLI::App* handheld, std::shared_ptr<Args> a) {
  CLI::App* categories =
      handheld->add_subcommand("categories", "list the categories, or make, rename or delete one");
  categories->add_option("--new", a->new_category, "make a category")->type_name("NAME");
  categories->add_option("--rename", a->rename, "rename a category")
      ->expected(2)
      ->type_name("OLD NEW");
  categories
      ->add_option("--delete", a->delete_category, "delete a category; its notes become Unfiled")
      ->type_name("NAME");
  program.action(categories, [a, categories] {
    int given = 0;
    for (const char* o : {"--new", "--rename", "--delete"}) given += categories->count(o) > 0;
    if (given > 1) throw sx::cli::UsageError("Give one of --new, --rename and --delete.");
    std::string done;
    with_notes(*a, [&](hh::NotesDatabase& db) {
      if (categories->count("--new") > 0) {
        db.add_category(machine_text(a->new_category, "category name"));
        done = "Made the category \"" + a->new_category + "\".";
      } else if (categories->count("--rename") > 0) {
        db.rename_category(db.category_named(machine_text(a->rename[0], "category name")),
                           machine_text(a->rename[1], "category name"));
        done = "Renamed the category \"" + a->rename[0] + "\" to \"" + a->rename[1] + "\".";
      } else if (categories->count("--delete") > 0) {
        db.delete_category(db.category_named(machine_text(a->delete_category, "category name")));
        done = "Deleted the category \"" + a->delete_category + "\"; its notes are Unfiled now.";
      } else {
        print(hh::category_lines(db));
      }
    });
    if (!done.empty()) std::printf("%s\n", done.c_str());
    return 0;
  });

  CLI::App* out = handheld->add_subcommand("export", "write the notes with every field as JSON");
  out->add_option("FILE", a->file, "the file to write (- for the standard output)")->required();
  program.action(out, [a] {
    std::string json;
    with_notes(*a, [&](hh::NotesDatabase& db) { json = hh::export_json(db); });
    write_export(a->file, json);
    return 0;
  });

  CLI::App* in = handheld->add_subcommand("import", "add the notes of a JSON file as new notes");
  in->add_option("FILE", a->file, "a file as export writes it, or a list of notes")->required();
  in->footer(
      "Each note needs a \"text\"; \"category\" (made when missing), \"private\", \"date\", "
      "\"created\", \"contact\", \"text1\", \"resv1\" and \"resv2\" are taken when given. Deleted "
      "and archived notes of the file are left out. All notes come in, or none.");
  program.action(in, [a] {
    hh::ImportFile file;
    try {
      file = hh::parse_import(read_import_file(a->file));
    } catch (const hh::NotesError& e) {
      throw Failure(a->file + ": " + sx::cli::sentence(e.what()));
    }
    std::vector<std::string> made;
    with_notes(*a, [&](hh::NotesDatabase& db) { made = hh::import_notes(db, file); });
    std::printf("Imported %s", sx::cli::count_of(file.notes.size(), "note", "notes").c_str());
    if (file.left_out > 0) std::printf(" (left out %zu deleted or archived)", file.left_out);
    std::printf(".\n");
    for (const std::string& name : made)
      std::printf("Made the category \"%s\".\n", ansi_to_terminal(name).c_str());
    return 0;
  });

  CLI::App* clock = handheld->add_subcommand(
      "clock", "the handheld's clock against the desktop's, or set how far apart they are");
  clock
      ->add_option("--offset", a->offset,
                   "seconds the handheld's clock is ahead of the desktop's (negative: behind)")
      ->transform(sx::cli::number(-(1ll << 40), 1ll << 40))
      ->type_name("SECONDS");
  clock->footer(
      "HotSync reads every note when the clocks are 180 seconds or more apart; closer, a fast "
      "HotSync in which neither side changed ends at once.");
  program.action(clock, [a, clock] {
    try {
      hh::NotesApp app(machine_text(a->user, "user name"));
      if (clock->count("--offset") > 0) app.set_clock_offset(a->offset);
      const std::int64_t offset = app.clock_offset();
      const auto now = hh::minutes_of_palm_time(
          static_cast<std::uint32_t>(sx::hotsync::desktop_palm_now() + offset));
      std::printf(
          "The handheld's clock says %s, %lld seconds %s the desktop's%s.\n",
          hh::minutes_text(now).c_str(), static_cast<long long>(offset < 0 ? -offset : offset),
          offset < 0 ? "behind" : "ahead of",
          offset >= 180 || offset <= -180 ? " (180 or more: every HotSync reads all notes)" : "");
    } catch (const hh::NotesError& e) {
      throw Failure(sx::cli::sentence(ansi_to_terminal(e.what())));
    }
    return 0;
  });

  CLI::App* run = handheld->add_subcommand(
      "run", "the notes application for a person: the screen and commands from the input");
  run->footer("Type \"help\" for the commands; the end of the input ends it.");
  program.action(run, [a] {
    try {
      hh::NotesApp app(machine_text(a->user, "user name"));
      hh::converse(app, std::cin, std::cout);
    } catch (const hh::NotesError& e) {
      throw Failure(sx::cli::sentence(ansi_to_terminal(e.what())));
    }
    return 0;
  });
}

}  // namespace

void add_handheld_command(sx::cli::Program& program) {
  auto a = std::make_shared<Args>();
  CLI::App* handheld = program.app().add_subcommand(
      "handheld",
      "the notes application on USER's handheld: write, change, delete and archive "
      "notes, edit categories, set the handheld's clock");
  handheld->add_option("USER", a->user, "the HotSync user whose handheld it is")->required();
  handheld->footer(
      "The notes application's database \"ScribbixDB\" is made on the handheld the first time it "
      "runs. Texts are kept in the handheld's code page (Windows-1252); a text it cannot hold is "
      "refused.");
  add_note_commands(program, handheld, a);
  add_other_commands(program, handheld, a);
}

}  // namespace sx::machine_tool
