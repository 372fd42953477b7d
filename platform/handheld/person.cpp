#include "sx/handheld/person.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "sx/ascii.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/handheld/note_listing.h"

namespace sx::handheld {
namespace {

constexpr char kHelp[] =
    "Commands: show CATEGORY|all, find TEXT, open N, new, type TEXT, clear, category NAME, "
    "private on|off, date YYYY-MM-DD [HH:MM]|none, save, close, close!, delete, archive, "
    "categories, newcat NAME, rename OLD NEW, delcat NAME, look, help, quit, quit!.";

// Words of a command line; double quotes keep blanks inside a word.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) out.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) out.push_back(word);
  return out;
}

class Session {
 public:
  Session(NotesApp& app, std::ostream& out) : app_(app), out_(out) {}

  void show_screen() {
    app_.with_database([&](NotesDatabase& db) {
      const Categories& c = db.categories();
      list_.clear();
      std::vector<Note> shown;
      for (const Note& n : db.notes()) {
        if (!n.live()) continue;
        if (filter_ >= 0 && n.category() != filter_) continue;
        if (!find_.empty() && !note_holds(n, find_)) continue;
        list_.push_back(n.record_id);
        shown.push_back(n);
      }
      std::string heading = filter_ < 0 ? "All" : c.names[static_cast<std::size_t>(filter_)];
      if (!find_.empty()) heading += ", holding \"" + find_ + "\"";
      say("== Notes == " + heading + " (" + std::to_string(shown.size()) +
          (shown.size() == 1 ? " note)" : " notes)"));
      for (std::size_t i = 0; i < shown.size(); ++i) {
        const Note& n = shown[i];
        std::string line = std::to_string(i + 1);
        line.insert(0, line.size() < 4 ? 4 - line.size() : 0, ' ');
        std::string title = note_title(n);
        title.resize(std::max<std::size_t>(title.size(), 32), ' ');
        line += "  " + title + "  " + c.names[static_cast<std::size_t>(n.category())];
        if (n.is_private()) line += "  (private)";
        say(line);
      }
      std::string names = "Categories: All";
      for (const std::string& name : c.names)
        if (!name.empty()) names += ", " + name;
      say(names);
      if (open_) show_open_note(db);
    });
  }

  // Runs one command line (handheld code page); false after "quit".
  bool run(const std::string& line) {
    const auto w = words(line);
    if (w.empty()) return true;
    const std::string& command = w[0];
    std::size_t at = line.find(' ', line.find_first_not_of(' '));
    const std::string rest = at == std::string::npos ? "" : line.substr(at + 1);
    try {
      return dispatch(command, w, rest);
    } catch (const NotesError& e) {
      say(e.what());
      return true;
    }
  }

  bool unsaved() const { return open_ && edited_; }

 private:
  bool dispatch(const std::string& command, const std::vector<std::string>& w,
                const std::string& rest) {
    if (command == "help") {
      say(kHelp);
    } else if (command == "look") {
    } else if (command == "show" && w.size() == 2) {
      find_.clear();
      if (sx::ascii::equal_ignoring_case(w[1], "all")) {
        filter_ = -1;
      } else {
        app_.with_database([&](NotesDatabase& db) { filter_ = db.category_named(w[1]); });
      }
    } else if (command == "find" && !rest.empty()) {
      find_ = rest;
      filter_ = -1;
    } else if (command == "open" && w.size() == 2) {
      const std::size_t n =
          static_cast<std::size_t>(sx::cli::parse_number(w[1], 1, 999999).value_or(0));
      if (n < 1 || n > list_.size()) return refuse("There is no note " + w[1] + " in the list.");
      if (unsaved())
        return refuse("The open note has unsaved changes: \"save\" or \"close!\" first.");
      app_.with_database([&](NotesDatabase& db) { open_note(db.note(list_[n - 1])); });
    } else if (command == "new" && w.size() == 1) {
      if (unsaved())
        return refuse("The open note has unsaved changes: \"save\" or \"close!\" first.");
      open_ = true;
      record_ = 0;
      draft_ = NoteChange{};
      draft_.text = "";
      if (filter_ > 0) draft_.category = filter_;
      edited_ = false;
    } else if (command == "quit" || command == "quit!") {
      if (command == "quit" && unsaved())
        return refuse(
            "The open note has unsaved changes: \"save\" keeps them, \"quit!\" ends "
            "without them.");
      say("The notes application has ended.");
      return false;
    } else if (command == "categories") {
      app_.with_database([&](NotesDatabase& db) {
        for (const std::string& l : category_lines(db)) say(l);
      });
      return true;
    } else if (command == "newcat" && w.size() == 2) {
      app_.with_database([&](NotesDatabase& db) { db.add_category(w[1]); });
      say("Made the category \"" + w[1] + "\".");
    } else if (command == "rename" && w.size() == 3) {
      app_.with_database(
          [&](NotesDatabase& db) { db.rename_category(db.category_named(w[1]), w[2]); });
      say("Renamed the category \"" + w[1] + "\" to \"" + w[2] + "\".");
    } else if (command == "delcat" && w.size() == 2) {
      app_.with_database([&](NotesDatabase& db) { db.delete_category(db.category_named(w[1])); });
      if (filter_ >= 0) filter_ = -1;
      say("Deleted the category \"" + w[1] + "\"; its notes are Unfiled now.");
    } else if (open_) {
      return note_command(command, w, rest);
    } else if (is_note_command(command)) {
      return refuse("No note is open: \"open N\" or \"new\" first.");
    } else {
      return refuse("Unknown command \"" + command + "\". " + kHelp);
    }
    return true;
  }

  static bool is_note_command(const std::string& c) {
    for (const char* n : {"type", "clear", "category", "private", "date", "save", "close", "close!",
                          "delete", "archive"})
      if (c == n) return true;
    return false;
  }

  bool note_command(const std::string& command, const std::vector<std::string>& w,
                    const std::string& rest) {
    if (command == "type") {
      std::string text = draft_.text.value_or(saved_text_);
      draft_.text = text.empty() ? rest : text + "\n" + rest;
      edited_ = true;
    } else if (command == "clear" && w.size() == 1) {
      draft_.text = "";
      edited_ = true;
    } else if (command == "category" && w.size() == 2) {
      app_.with_database([&](NotesDatabase& db) { draft_.category = db.category_named(w[1]); });
      edited_ = true;
    } else if (command == "private" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
      draft_.is_private = w[1] == "on";
      edited_ = true;
    } else if (command == "date" && w.size() >= 2) {
      if (rest == "none") {
        draft_.date = PackedDate{};
      } else {
        const auto t = parse_minutes(rest);
        const auto packed = t ? PackedDate::of(*t) : std::nullopt;
        if (!packed)
          return refuse("\"" + rest + "\" is not a date from 1905 to 2031 (YYYY-MM-DD [HH:MM]).");
        draft_.date = packed;
      }
      edited_ = true;
    } else if (command == "save" && w.size() == 1) {
      save();
    } else if ((command == "close" || command == "close!") && w.size() == 1) {
      if (command == "close" && unsaved())
        return refuse("The note has unsaved changes: \"save\" keeps them, \"close!\" drops them.");
      open_ = false;
    } else if ((command == "delete" || command == "archive") && w.size() == 1) {
      if (record_ == 0) {
        open_ = false;
        say("The new note was not saved; nothing to delete.");
        return true;
      }
      app_.with_database([&](NotesDatabase& db) { db.delete_note(record_, command == "archive"); });
      open_ = false;
      say(command == "archive" ? "Archived; the next HotSync keeps a copy on the desktop."
                               : "Deleted.");
    } else {
      return refuse("Unknown command \"" + command + "\". " + kHelp);
    }
    return true;
  }

  void save() {
    if (!edited_) {
      say("Nothing to save.");
      return;
    }
    app_.with_database([&](NotesDatabase& db) {
      if (record_ == 0) {
        record_ = db.add_note(draft_);
      } else {
        db.edit_note(record_, draft_);
      }
      open_note(db.note(record_));
    });
    say("Saved.");
  }

  void open_note(const Note& n) {
    if (!n.live() || !n.fields) throw NotesError("That note cannot be opened.");
    open_ = true;
    record_ = n.record_id;
    draft_ = NoteChange{};
    edited_ = false;
    saved_text_ = n.fields->text;
  }

  // The open note as the person sees it: what was saved, with the unsaved changes over it.
  void show_open_note(const NotesDatabase& db) {
    const Categories& c = db.categories();
    std::string text;
    int category = 0;
    bool is_private = false;
    PackedDate date;
    if (record_ != 0) {
      const Note saved = db.note(record_);
      if (!saved.live() || !saved.fields) {
        open_ = false;
        say("The open note was deleted or archived meanwhile; it is closed.");
        return;
      }
      text = saved.fields->text;
      category = saved.category();
      is_private = saved.is_private();
      date = saved.fields->date;
    } else {
      date = PackedDate::of(db.now()).value_or(PackedDate{});
    }
    text = draft_.text.value_or(text);
    category = draft_.category.value_or(category);
    is_private = draft_.is_private.value_or(is_private);
    date = draft_.date.value_or(date);
    const auto t = date.minutes();
    say(std::string("-- ") +
        (record_ == 0 ? std::string("New note") : "Note (record " + std::to_string(record_) + ")") +
        (edited_ ? ", unsaved changes" : "") + " --");
    say("Category: " + c.names[static_cast<std::size_t>(category)] + "   Private: " +
        (is_private ? "yes" : "no") + "   Date: " + (t ? minutes_text(*t) : std::string("none")));
    std::size_t at = 0;
    while (at <= text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      say("  " + text.substr(at, end - at));
      at = end + 1;
    }
  }

  bool refuse(const std::string& text) {
    say(text);
    return true;
  }
  void say(const std::string& ansi) { out_ << sx::cli::ansi_to_terminal(ansi) << "\n"; }

  NotesApp& app_;
  std::ostream& out_;
  int filter_ = -1;  // -1: all categories
  std::string find_;
  std::vector<std::uint32_t> list_;  // record IDs of the numbered list
  bool open_ = false;
  std::uint32_t record_ = 0;  // the open note's record; 0 for a new note not saved yet
  NoteChange draft_;          // the open note's unsaved changes
  std::string saved_text_;    // the open note's text when it was opened or saved
  bool edited_ = false;
};

}  // namespace

void converse(NotesApp& app, std::istream& in, std::ostream& out) {
  Session session(app, out);
  for (bool on = true; on;) {
    try {
      session.show_screen();
    } catch (const NotesError& e) {
      out << sx::cli::ansi_to_terminal(e.what()) << "\n";
    }
    out << "> " << std::flush;
    std::string line;
    if (!std::getline(in, line)) {
      out << "\n";
      if (session.unsaved())
        out << "The input ended while the open note had unsaved changes; they are not saved.\n";
      out << "The notes application has ended.\n" << std::flush;
      return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto ansi = sx::cli::terminal_to_ansi(line);
    if (!ansi) {
      out << "That line has characters the handheld cannot hold (its code page is "
             "Windows-1252); nothing was done.\n";
      continue;
    }
    on = session.run(*ansi);
  }
  out << std::flush;
}

}  // namespace sx::handheld
