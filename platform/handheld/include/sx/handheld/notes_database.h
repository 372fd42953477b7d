// The notes application of the emulated handheld: its database "ScribbixDB" (creator 'VSXq', type
// 'DATA', version 2) changed as the application changes it, so that the conduit meets what a real
// handheld leaves. A new note has note ID 0 (the HotSync gives it one) and a fresh record ID; every
// change marks the record dirty and sets the Mod bit of each field it changed (bit 31 category,
// bit 30 private); a deleted note keeps its record with the delete bit and no data until the next
// HotSync, an archived one ("Save archive copy on PC") the delete and archive bits and its data.
// Category changes mark the category renamed in the category block; a deleted category's notes
// move to Unfiled.
//
// NotesDatabase is the database in memory with the application's operations; NotesApp reaches a
// HotSync user's handheld, makes the database when the handheld has none (as installing the
// application does) and writes every change back under the handheld's HotSync lock, so that the
// application never writes while a HotSync of the handheld runs. A database written back gets the
// handheld clock's time as its modification time (always after its last HotSync, so that the next
// HotSync sees the change) and its modification number steps.
//
// Texts are in the handheld's code page (the machine's ANSI code page, as the conduit reads them).
// Failures throw NotesError with a sentence for a person. One thread at a time per object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sx/handheld/categories.h"
#include "sx/handheld/note_record.h"
#include "sx/hotsync_pdb.h"

namespace sx::handheld {

inline constexpr char kDatabaseName[] = "ScribbixDB";
inline constexpr std::uint32_t kCreator = 0x56535871;  // 'VSXq'
inline constexpr std::uint32_t kType = 0x44415441;     // 'DATA'
inline constexpr std::uint16_t kVersion = 2;

// Record attribute bits of the database file.
inline constexpr std::uint8_t kAttrDeleted = 0x80;
inline constexpr std::uint8_t kAttrDirty = 0x40;
inline constexpr std::uint8_t kAttrPrivate = 0x10;
inline constexpr std::uint8_t kAttrArchived = 0x08;
inline constexpr std::uint8_t kAttrCategory = 0x0F;

class NotesError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One record of the database as the application reads it.
struct Note {
  std::uint32_t record_id = 0;
  std::uint8_t attributes = 0;
  std::optional<NoteFields> fields;  // nothing for a deleted note or a damaged record
  std::string damage;                // why a record with data cannot be read

  bool live() const { return (attributes & kAttrDeleted) == 0; }
  bool archived() const { return !live() && (attributes & kAttrArchived) != 0; }
  bool deleted() const { return !live() && !archived(); }
  bool is_private() const { return (attributes & kAttrPrivate) != 0; }
  bool dirty() const { return (attributes & kAttrDirty) != 0; }
  // Its category; 0 for a note that is not live (the file keeps none for it).
  int category() const { return live() ? attributes & kAttrCategory : 0; }
};

// What a person gives a new note or changes in one; what is not given stays as it is (a new note:
// empty, no category, not private, dated now).
struct NoteChange {
  std::optional<std::string> text;  // CR dropped (the handheld keeps LF line ends)
  std::optional<int> category;      // 0-15, a category that exists
  std::optional<bool> is_private;
  std::optional<PackedDate> date;  // PackedDate{} for no date
  std::optional<PackedDate> created;
  std::optional<std::string> text1, contact;
  std::optional<std::uint32_t> resv1;
  std::optional<std::uint16_t> resv2;
};

class NotesDatabase {
 public:
  // `db` as read from the handheld; `now` the handheld clock's time. Throws NotesError when it is
  // not the notes application's database or its category block is damaged.
  NotesDatabase(sx::hotsync::PdbDatabase db, Minutes now);

  // Every record, in the database's order.
  std::vector<Note> notes() const;
  // The record with this record ID; throws NotesError when there is none.
  Note note(std::uint32_t record_id) const;
  const Categories& categories() const { return categories_; }
  Minutes now() const { return now_; }

  // The note's record ID. Throws NotesError (nothing changed) for an empty text, a text the record
  // cannot hold, or a category that does not exist.
  std::uint32_t add_note(const NoteChange& note);
  // False when it changed nothing (every given value was the note's already). Throws NotesError
  // for a note that is deleted, archived or damaged, and as add_note.
  bool edit_note(std::uint32_t record_id, const NoteChange& change);
  // Deletes the note, or archives it (its data kept for the desktop). Throws NotesError for a note
  // that is deleted or archived already.
  void delete_note(std::uint32_t record_id, bool archive);

  int add_category(const std::string& name);
  void rename_category(int index, const std::string& name);
  // The category's notes move to Unfiled (each marked changed in its category).
  void delete_category(int index);
  // The category of this name; throws NotesError naming the categories there are.
  int category_named(const std::string& name) const;

  bool changed() const { return changed_; }
  // The database to write back (categories included).
  sx::hotsync::PdbDatabase database() const;

 private:
  std::size_t index_of(std::uint32_t record_id) const;
  void store(std::size_t index, std::uint8_t attributes, const NoteFields& fields);
  void apply(const NoteChange& change, NoteFields* fields, std::uint8_t* attributes) const;

  sx::hotsync::PdbDatabase db_;
  Categories categories_;
  Minutes now_;
  PackedDate packed_now_;
  bool changed_ = false;
};

// The notes application on the handheld of a HotSync user.
class NotesApp {
 public:
  // `user`: the name in users.dat (handheld code page). Throws NotesError when HotSync is not
  // installed, its user list cannot be read, or there is no such user.
  explicit NotesApp(const std::string& user);

  // The database's file on the handheld (where it is made when there is none).
  std::filesystem::path database_file() const;

  // Runs `work` on the database under the handheld's HotSync lock and writes the database back
  // when `work` changed it (or when it was just made). Throws NotesError when a HotSync of the
  // handheld is in progress, the database is damaged or another application's, or it cannot be
  // written; what `work` throws goes through, and nothing is written then.
  void with_database(const std::function<void(NotesDatabase&)>& work);
  // Whether the last with_database made the database.
  bool made_database() const { return made_; }

  // The handheld clock's offset from the desktop's, in seconds; set_clock_offset changes it.
  std::int64_t clock_offset() const;
  void set_clock_offset(std::int64_t seconds);

 private:
  std::filesystem::path handheld_;
  bool made_ = false;
};

// The handheld clock's time (seconds since 1904, local) as a calendar time.
Minutes minutes_of_palm_time(std::uint32_t palm_seconds);

}  // namespace sx::handheld
