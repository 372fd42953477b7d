// What each side of a Palm user's notes holds at one moment: the notes of the handheld's
// "ScribbixDB" and the posts of the Outlook notes folder, as a person sees them (date, text,
// contact, category name, private), with the handheld's category names. Read on the current
// machine root; nothing is written, except that Outlook's access component stamps a post made by
// hand with its note properties the first time it is read, as every HotSync does.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sx::preview {

enum class Side { kHandheld, kOutlook };

// The field names a note shows, in this order.
inline constexpr const char* kFieldNames[] = {"Date", "Note Text", "Contact", "Category",
                                              "Private"};

struct NoteView {
  // What identifies the note on its side across a HotSync: the handheld record id, or the post's
  // key with its position among posts of the same key ("7001", "7001#2").
  std::string identity;
  std::int32_t id = 0;  // the note ID (handheld) or post key (Outlook)
  bool archived = false;
  std::vector<std::pair<std::string, std::string>> fields;  // kFieldNames order, value texts

  const std::string& field(const std::string& name) const;
  std::string title() const;  // the first line of the note text, at most 32 characters
  friend bool operator==(const NoteView&, const NoteView&) = default;
};

struct SideView {
  bool read = false;  // false: the side could not be read (why says so)
  std::string why;
  std::vector<NoteView> notes;          // archived ones included
  std::vector<std::string> categories;  // category names the side knows
  std::size_t live_count() const;
  friend bool operator==(const SideView&, const SideView&) = default;
};

struct Snapshot {
  SideView handheld, outlook;
  const SideView& side(Side s) const { return s == Side::kHandheld ? handheld : outlook; }
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

// The creator of the notes application's database, and the database's name.
inline constexpr std::uint32_t kNotesCreator = 0x56535871;  // 'VSXq'
inline constexpr const char* kNotesDatabase = "ScribbixDB";

// The handheld side from the user's handheld folder (host path).
SideView read_handheld(const std::string& handheld_folder);
// The Outlook side: the notes folder of the profile paired with `user` (through Outlook's access
// component, as the conduit reads it). Call with no Outlook object held on this thread.
SideView read_outlook(const std::string& user);
// Both sides of a HotSync user (name in users.dat).
Snapshot take_snapshot(const std::string& user, const std::string& user_directory);

// The snapshot as text lines and back (the preview's worker hands its snapshots over this way).
std::vector<std::string> snapshot_lines(const Snapshot& snapshot);
// Reads what snapshot_lines wrote, from *pos on; stops after the snapshot's end line. False when
// the lines are not such a snapshot.
bool parse_snapshot(const std::vector<std::string>& lines, std::size_t* pos, Snapshot* out);

// A text with backslash, tab, CR and LF escaped (one line, no tabs), and back.
std::string escape(const std::string& text);
std::string unescape(const std::string& text);

}  // namespace sx::preview
