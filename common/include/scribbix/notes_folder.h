// The notes folder contract: where the notes live in an Outlook profile and which properties every
// deliverable that reads or writes a note post relies on (the access component, the notes add-in,
// the folder maintenance component). Their formats are on docs/scribbixout.md.
#pragma once

#include <string>

namespace sx::common {

// The store root (a personal folders file added to the profile) and the notes folder directly
// under it. Names are compared exactly (case-sensitive).
inline constexpr char kStoreRootName[] = "Vorlan";
inline constexpr char kNotesFolderName[] = "Scribbix";

// Message classes. Every note the system writes gets kNoteClass; posts whose class begins with the
// kNoteClassPrefix (its 21 characters, kOlderNoteClass among them) are notes already and keep it.
inline constexpr char kNoteClass[] = "IPM.Post.ScribbixPost2";
inline constexpr char kOlderNoteClass[] = "IPM.Post.ScribbixPost";
inline constexpr char kNoteClassPrefix[] = "IPM.Post.ScribbixPost";
inline constexpr unsigned kNoteClassPrefixLength = sizeof kNoteClassPrefix - 1;
static_assert(kNoteClassPrefixLength == 21);
// What a new note is added as before its class is set.
inline constexpr char kPostClass[] = "IPM.Post";

// User properties of a note post (Outlook user property types in brackets).
inline constexpr char kKeyProperty[] = "ScribKey";         // number: the note key
inline constexpr char kEntryDateProperty[] = "EntryDate";  // date/time: the note date
inline constexpr char kArchivedProperty[] = "Archived";    // yes/no: the archived flag
inline constexpr char kDayProperty[] = "Day";              // text: YYYY/MM/DD of the note date
inline constexpr char kMonthProperty[] = "Month";          // text: YYYY/MM
inline constexpr char kYearProperty[] = "Year";            // text: YYYY
inline constexpr char kTimeProperty[] = "Time";            // date/time: time of day on day zero
// text: the contact text the post's first link was made from (several texts name one contact:
// reading gives back the one that was written while the link names that contact)
inline constexpr char kContactTextProperty[] = "ScribContact";

// Sensitivity of a private note (olPrivate); 0 otherwise.
inline constexpr long kPrivateSensitivity = 2;
// Longest subject made from a note's text, in characters.
inline constexpr unsigned kSubjectLimit = 60;

// The installation key under HKEY_LOCAL_MACHINE: "Path", and the note key sequence "Base"/"Last".
inline constexpr char kInstallationKey[] = "Software\\Vorlan Software\\Scribbix";
inline constexpr char kBaseValue[] = "Base";
inline constexpr char kLastValue[] = "Last";

// The name of a Palm user's notes file in the installation directory: the user's name followed by
// " Vorlan.pst". A name is the handheld's to choose; characters that would lead out of the
// directory (path separators, a drive colon) become "_", so the file always lands inside it.
inline std::string NotesFileName(const std::string& palmUser) {
  std::string name = palmUser;
  for (char& c : name) {
    if (c == '\\' || c == '/' || c == ':') c = '_';
  }
  if (name == "." || name == "..") name = "_";
  return name + " Vorlan.pst";
}

}  // namespace sx::common
