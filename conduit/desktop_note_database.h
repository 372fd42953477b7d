// DesktopNoteDatabase: the Outlook side of a sync run. It connects to Outlook through its
// OutlookAssistant (Outlook started with the system's add-ins held back, "Choose Profile"
// dismissed, the profile paired with the Palm user logged on, the notes folder found), reads every
// post of the notes folder into DesktopNoteRecords, marks what changed in Outlook since the state
// file of the last sync, and writes additions, changes, archive marks and deletions back as posts.
//
// Identity: a note is its post's "ScribKey". A desktop note's post is made with the note
// (createRecord), so a DesktopNoteRecord is never "new" to writeAll; its record information
// carries the handheld record id of its note, which the sync run sets and the state file keeps.
//
// What changed in Outlook: a post whose key the state file holds is compared field by field with
// the note the state file kept; each field that differs is marked modified here. A post the state
// file lacks is a new desktop note (the fields Outlook holds are marked); a note of the state file
// whose post is gone or archived keeps its deleted bit (the merge takes it as deleted here).
//
// Run thread only. Result codes: 0, 4101 (the desktop side failed), or the state file's own code.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "note_database.h"
#include "outlook_assistant.h"

namespace sx::conduit {

class DesktopNoteDatabase;

// addToOutlook's result when no new key could be drawn for a note without one (the registry).
inline constexpr long kNoKeyDrawn = -2;

class DesktopNoteRecord : public NoteRecord {
 public:
  explicit DesktopNoteRecord(DesktopNoteDatabase& database);
  // Its post is made with it.
  bool isNew() const override { return false; }

  // The post operations, through the database's assistant. Add takes a new key first when the note
  // has none of its own (provisional or 0; kNoKeyDrawn when none can be drawn); 0, or 4101 when the
  // post could not be made (logged; the note is then left out of the state file). Update writes
  // what changed in memory since the note was read or made (a field that did not change is left as
  // Outlook holds it), in place whatever the body format mode; 0 or 4101 (logged). The body of a
  // note whose text is incomplete is never written (logged; the note keeps Outlook's text). Delete:
  // DeleteItem's result, or 4101 when it failed (logged).
  long addToOutlook();
  long updateInOutlook();
  long deleteFromOutlook();

  // The post's text is longer than the handheld holds (32767 characters without CRs): the note
  // holds its beginning (text_incomplete is set too).
  bool oversized = false;
  // The post's text has characters the machine's ANSI code page lacks: the note holds it with "?"
  // for them (text_incomplete is set too).
  bool lossy = false;
  // The text the note was read with, when it is incomplete: what it goes back to when a text of the
  // other side could not be written over the post's.
  std::string text_as_read;
  // A post holds this note (false: its post could not be made this run).
  bool posted = true;
  // The key of the post this note was read from (0: not read from a post this run).
  std::int32_t post_key = 0;

 private:
  DesktopNoteDatabase& database_;
};

class DesktopNoteDatabase : public NoteDatabase {
 public:
  explicit DesktopNoteDatabase(SyncProperties* properties);
  ~DesktopNoteDatabase() override;

  int recordCount() const override { return item_count_; }
  std::string displayName() const override { return desktop_path_; }
  bool isOpen() const override { return open_; }
  // Ends Outlook's use (log off, release) and the assistant's thread; safe to call again.
  long close() override;
  long open(const std::string& path, bool create) override;
  long readAll() override;
  long writeAll() override;
  long handleArchivedRecord(NoteRecord& note) override;
  long writeChangedRecord(NoteRecord& note) override;
  long afterWriteCleanup() override { return 0; }
  long deleteRecord(NoteRecord& note) override;
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override;
  void setCategoriesFrom(const BYTE* block) override;
  long transferCategoriesTo(NoteDatabase& target) override;
  // Writes the state file; then 4101 when a note's post could not be made this run (the state
  // leaves it out, so that the next sync makes it again), else the write's result.
  long saveState() override;
  // A delete in Outlook failed this run, or the mass change guard held Outlook's deletions back:
  // the handheld keeps its deleted records for the next sync.
  bool deletionPending() const override {
    return deletion_failed_ || NoteDatabase::deletionPending();
  }

  OutlookAssistant& assistant() { return *assistant_; }
  // Category i's name (0-15).
  const std::string& categoryName(int i) const { return categories_[static_cast<std::size_t>(i)]; }
  // The category index of a post's category text (category_name), matched without regard to case
  // with names 1-15; an unknown name takes the first empty slot (0 when there is none, or when
  // `create` is false). "" gives 0.
  int categoryFor(const std::string& text, bool create);

 private:
  friend class DesktopNoteRecord;
  long connect();
  long startOutlook();
  // When the last command failed because Outlook found one of the profile's files damaged: logs
  // which file and how it is repaired, and returns true.
  bool tell_damaged_file();
  void readPost(VARIANT* values, DesktopNoteRecord* known);
  void readText(DesktopNoteRecord& note, const std::string& whole, bool lossy, bool fresh);
  long rekeyPosts();
  void forgetLostPosts();
  void forgetPostsLostWithDamage(const std::set<std::int32_t>& posts);

  std::string desktop_path_;
  bool create_ = false;
  DWORD open_time_ = 0;
  std::string state_path_;
  int item_count_ = 0;
  std::string user_name_;
  std::string profile_;  // the profile paired with the Palm user ("" when none)
  std::unique_ptr<OutlookAssistant> assistant_;
  std::array<std::string, 16> categories_;
  // The handheld's renamed marks: bit i, category i was renamed (or deleted) on the handheld since
  // the last HotSync.
  std::uint16_t renamed_on_handheld_ = 0;
  bool open_ = false;
  int unposted_ = 0;  // notes whose post could not be made this run
  bool deletion_failed_ = false;
  bool state_saved_ = false;
  // A HotSync found Outlook's file damaged since the state was last saved (recovery marker).
  bool recover_lost_posts_ = false;
  // Notes whose post this run removed and could not make again (re-keying).
  std::vector<std::int32_t> lost_posts_;
  // Category names of posts that found no free category on the handheld (told once a run).
  std::vector<std::string> categories_without_room_;
};

// The subject of a post for a note text (first line, at most 60 characters; see the notes folder
// contract in docs/conduit.md).
std::u16string derive_subject(const std::u16string& text);
// A post's category text as a category name: cut at its first comma (the blanks before it
// dropped), leading blanks skipped, at most 15 characters.
std::string category_name(const std::string& text);

// The file beside the state file that says a HotSync found Outlook's file damaged: until a sync
// has saved its state again, a post missing from the folder counts as lost, not deleted.
std::string recovery_marker_path(const std::string& state_path);

// The longest text the handheld holds, in characters of its form without CRs.
inline constexpr std::size_t kHandheldTextLimit = 32767;

// A note text (desktop form) cut so that its handheld form holds at most kHandheldTextLimit
// characters; a CR LF is never split.
std::string cut_for_handheld(const std::string& text);

// The desktop factory of the product (installed when the conduit loads).
std::unique_ptr<NoteDatabase> make_desktop_database(SyncProperties* properties);

}  // namespace sx::conduit
