#include "desktop_note_database.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <optional>
#include <set>

#include "com/bstr.h"
#include "com/variant_value.h"
#include "dialogs.h"
#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "progress.h"
#include "resources.h"
#include "scribbix/damaged_store.h"
#include "scribbix/note_text.h"
#include "scribbix/profile_prompt_watcher.h"
#include "settings.h"
#include "state_file.h"
#include "sx/clock.h"
#include "windows.h"

namespace sx::conduit {
namespace {

constexpr long kFailure = 4101;
constexpr std::size_t kMaxContact = 255;
constexpr std::size_t kMaxCategory = 15;
constexpr char kProfilesKey[] = "Software\\Vorlan Software\\Scribbix\\Profiles";
constexpr const char* kAddInKeys[] = {
    "Software\\Microsoft\\Office\\Outlook\\Addins\\ScribbixMonitorAddIn.Connect",
    "Software\\Microsoft\\Office\\Outlook\\Addins\\VorScribOutlookAddIn.Connect",
};
constexpr DWORD kHeldBack = 8;

bool equal_without_case(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The nine values of one post, as ReadItem fills them.
enum Value { kKey, kDate, kCreate, kModify, kBody, kCategory, kContact, kSense, kFlag, kValues };

class Values {
 public:
  Values() {
    for (auto& v : v_) VariantInit(&v);
  }
  ~Values() {
    for (auto& v : v_) VariantClear(&v);
  }
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  VARIANT* operator[](int i) { return &v_[i]; }
  VARIANT* data() { return v_; }

 private:
  VARIANT v_[kValues];
};

// A VARIANT's value, or `otherwise` when it is empty or cannot be converted.
double number(const VARIANT* v, double otherwise = 0) {
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return otherwise;
  try {
    return com::Variant(*v).to_r8();
  } catch (...) {
    return otherwise;
  }
}
DATE date_of(const VARIANT* v) {
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return 0;
  try {
    return com::Variant(*v).to_date();
  } catch (...) {
    return 0;
  }
}
std::string ansi_of(const VARIANT* v) {
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return {};
  try {
    return com::Variant(*v).to_ansi();
  } catch (...) {
    return {};
  }
}
// A text value in the ANSI code page; *lossy tells whether characters had no form there (they read
// as "?", or as a look-alike).
std::string ansi_of(const VARIANT* v, bool* lossy) {
  *lossy = false;
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return {};
  try {
    const com::Variant text = com::Variant(*v).changed_to(VT_BSTR);
    const BSTR b = text.get().bstrVal;
    const std::u16string_view wide(b, b != nullptr ? SysStringLen(b) : 0);
    std::string ansi = com::u16_to_ansi(wide);
    *lossy = com::ansi_to_u16(ansi) != wide;
    return ansi;
  } catch (...) {
    return {};
  }
}
std::int32_t key_of(const VARIANT* v) {
  const double key = std::trunc(number(v));
  if (!(key >= -2147483648.0 && key <= 2147483647.0)) return 0;
  return static_cast<std::int32_t>(key);
}

void set_text_if_different(TextField& field, const std::string& text, bool mark) {
  if (field.desktop() == text) return;
  field.setDesktop(text);
  if (mark) field.modified_here = true;
}

void set_date_if_different(DateField& field, double value, bool mark) {
  DateField probe(0);
  probe.set(value);
  if (field.equals(probe)) {
    field.set(value);  // the same minute: keep the exact time Outlook holds
    return;
  }
  field.set(value);
  if (mark) field.modified_here = true;
}

}  // namespace

std::string cut_for_handheld(const std::string& text) {
  std::size_t handheld = 0, at = 0;
  for (; at < text.size(); ++at) {
    if (text[at] == '\r') continue;
    if (handheld == kHandheldTextLimit) break;
    ++handheld;
  }
  // A CR whose LF did not fit goes too.
  while (at > 0 && text[at - 1] == '\r') --at;
  return text.substr(0, at);
}

// --- Subject of a post

std::u16string derive_subject(const std::u16string& text) {
  constexpr std::size_t kLimit = 60;
  std::u16string out;
  bool seen_text = false;
  std::size_t i = 0;
  for (; i < text.size() && i < kLimit; ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (seen_text) return out;
      out += u'.';
      continue;
    }
    out += c;
    if (!std::iswspace(static_cast<wint_t>(c))) seen_text = true;
  }
  out.append(text, i, std::u16string::npos);
  if (out.size() <= kLimit) return out;
  for (std::size_t p = kLimit; p >= 31; --p) {
    if (out[p] == u' ') return out.substr(0, p);
  }
  return out.substr(0, kLimit);
}

// --- DesktopNoteRecord

DesktopNoteRecord::DesktopNoteRecord(DesktopNoteDatabase& database) : database_(database) {
  protect_in_state_file = true;
}

namespace {

// The eight arguments of NewItem and UpdateItem for `note`. Adding gives every value (sense and
// flag as VT_INT). Updating gives only what changed in memory since the note was read or made,
// and the archive mark when the note is archived: an argument left Empty (sense and flag -1, date
// 0) leaves Outlook's value alone, so a field the other side did not change is never written back
// in the form this side holds it (a text with "?" for characters the handheld lacks). The body of
// a note whose text is incomplete is never given.
struct PostArguments {
  com::Variant key, date, subject, body, category, contact, sense, flag;
  PostArguments(DesktopNoteRecord& note, const DesktopNoteDatabase& database, bool adding) {
    key = com::Variant::from_r8(note.noteId());
    date = com::Variant::from_date(0);
    sense = com::Variant::from_i4(-1);
    flag = com::Variant::from_i4(-1);
    if (adding || note.date(NoteRecord::kDate).changed_in_memory)
      date = com::Variant::from_date(note.date(NoteRecord::kDate).value());
    const TextField& text_field = note.text(NoteRecord::kText);
    if ((adding || text_field.changed_in_memory) && !note.text_incomplete) {
      const std::u16string text = com::ansi_to_u16(text_field.desktop());
      subject = com::Variant::from_bstr(derive_subject(text));
      body = com::Variant::from_bstr(text);
    }
    if (adding || note.category().changed_in_memory) {
      const int index = note.category().value();
      category =
          com::Variant::from_ansi(index > 0 && index < 16 ? database.categoryName(index) : "");
    }
    if (adding || note.text(NoteRecord::kText2).changed_in_memory) {
      std::u16string who = com::ansi_to_u16(note.text(NoteRecord::kText2).desktop());
      if (who.size() > kMaxContact) who.resize(kMaxContact);
      contact = com::Variant::from_bstr(who);
    }
    if (adding || note.privateFlag().changed_in_memory)
      sense = com::Variant::from_i4(note.privateFlag().get() ? 2 : 0);
    const bool archived = (note.attributes() & kAttrArchived) != 0;
    if (adding || archived) flag = com::Variant::from_i4(archived ? 1 : 0);
    if (adding) {
      sense.get().vt = VT_INT;
      flag.get().vt = VT_INT;
    }
  }
};

}  // namespace

long DesktopNoteRecord::addToOutlook() {
  if (needsRewrite() || noteId() == 0) {
    const std::int32_t id = database_.newNoteId();
    if (id == 0) return kNoKeyDrawn;
    setNoteId(id);
    needs_rewrite = false;
  }
  PostArguments a(*this, database_, true);
  const long result = database_.assistant().NewItem(
      &a.key.get(), &a.date.get(), &a.subject.get(), &a.body.get(), &a.category.get(),
      &a.contact.get(), &a.sense.get(), &a.flag.get());
  clearChangedMarks();
  if (result < 0) {
    log_line("Adding an Entry to Outlook", slText);
    log_line(format_string(IDS_NOT_ADDED_DESKTOP, title().c_str()), slWarning);
    posted = false;
    return kFailure;
  }
  posted = true;
  post_key = noteId();
  return 0;
}

long DesktopNoteRecord::updateInOutlook() {
  SyncYieldCycles(1);
  TextField& body = text(NoteRecord::kText);
  if (text_incomplete && body.changed_in_memory) {
    // Outlook holds more of the text than this note: the post keeps it. The merge makes a text the
    // handheld edited a note of its own, so this is a safety net; the note takes the text it was
    // read with back, so that the state file remembers what the post holds.
    std::string subject = com::u16_to_ansi(derive_subject(com::ansi_to_u16(body.desktop())));
    if (subject.size() > 100) subject.resize(100);
    log_line("Oversized entry in Outlook not updated: \"" + subject + "\"", slText);
    body.setDesktop(text_as_read);
    body.changed_in_memory = false;
  }
  PostArguments a(*this, database_, false);
  const long result = database_.assistant().UpdateItem(
      &a.key.get(), &a.date.get(), &a.subject.get(), &a.body.get(), &a.category.get(),
      &a.contact.get(), &a.sense.get(), &a.flag.get());
  if (result != 0) {
    char line[64];
    std::snprintf(line, sizeof line, "Updating an Entry in Outlook (%08X)",
                  static_cast<unsigned>(result));
    log_line(line, slText);
    write_refused = true;  // the handheld keeps it marked (keep_changes_the_desktop_refused)
    return kFailure;
  }
  return 0;
}

long DesktopNoteRecord::deleteFromOutlook() {
  com::Variant key = com::Variant::from_r8(noteId());
  const long result = database_.assistant().DeleteItem(&key.get());
  if (result < 0) {
    log_line("Deleting an Entry from Outlook", slText);
    database_.deletion_failed_ = true;
    return kFailure;
  }
  return result;
}

// --- DesktopNoteDatabase

DesktopNoteDatabase::DesktopNoteDatabase(SyncProperties* properties)
    : NoteDatabase("desktop", properties, false, IDS_DESKTOP_DB),
      assistant_(std::make_unique<OutlookAssistant>()) {
  if (properties != nullptr) {
    user_name_.assign(properties->m_UserName,
                      strnlen(properties->m_UserName, sizeof properties->m_UserName));
  }
}

DesktopNoteDatabase::~DesktopNoteDatabase() {
  try {
    DesktopNoteDatabase::close();
  } catch (...) {
  }
}

long DesktopNoteDatabase::close() {
  const long result = NoteDatabase::close();
  if (!state_saved_ && !lost_posts_.empty()) forgetLostPosts();
  lost_posts_.clear();
  assistant_.reset();  // unloads Outlook and ends the worker
  open_ = false;
  return result;
}

long DesktopNoteDatabase::open(const std::string& path, bool create) {
  desktop_path_ = path;
  name_ = path;
  create_ = create;
  if (!assistant_) assistant_ = std::make_unique<OutlookAssistant>();
  open_time_ = static_cast<DWORD>(sx::clock::wall_unix_ms() / 1000);
  state_path_ = state_file_path(
      properties_ != nullptr
          ? std::string(properties_->m_PathName,
                        strnlen(properties_->m_PathName, sizeof properties_->m_PathName))
          : std::string(),
      path);
  const long state = read_state_file(state_path_, *this,
                                     [this] { return std::make_unique<DesktopNoteRecord>(*this); });
  recover_lost_posts_ =
      GetFileAttributesA(recovery_marker_path(state_path_).c_str()) != INVALID_FILE_ATTRIBUTES;
  last_sync_time = modification_time;
  // Outlook cannot tell whether its folder changed without reading it: the desktop always counts
  // as changed, so a fast sync never stops at "nothing changed" on its account.
  modification_time = std::max(open_time_, last_sync_time + 1);
  if (const long r = connect(); r != 0) return r;
  open_ = true;
  if (state == 0 && assistant_->GetScribbixFolder() != 0) {
    if (!tell_damaged_file())
      log_line(format_string(IDS_FOLDER_NOT_FOUND, profile_.c_str()), slWarning);
    return kFailure;
  }
  return state;
}

bool DesktopNoteDatabase::tell_damaged_file() {
  const std::string file = sx::common::damaged_outlook_file(assistant_->GetLastErrorText());
  if (file.empty()) return false;
  log_line(format_string(IDS_OUTLOOK_FILE_DAMAGED, file.c_str(), sx::common::kRepairCommand),
           slWarning);
  // A repair keeps what can be read: posts in the damaged part are gone, and the state file of the
  // last sync would take them as deleted in Outlook. The marker makes the next sync that reads the
  // folder write them again from the handheld instead (readAll).
  HANDLE marker = CreateFileA(recovery_marker_path(state_path_).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) {
    const std::string text = file + "\r\n";
    DWORD written = 0;
    WriteFile(marker, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(marker);
  }
  return true;
}

long DesktopNoteDatabase::startOutlook() {
  const long loaded = assistant_->IsOutlookLoaded();
  if (loaded == 1) {
    log_line("Already loaded??", slText);
    return 0;
  }
  if (loaded != 0) return loaded;
  // The system's add-ins stay out of this Outlook: their "LoadBehavior" is 8 while it starts.
  std::optional<DWORD> kept[std::size(kAddInKeys)];
  for (std::size_t i = 0; i < std::size(kAddInKeys); ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAddInKeys[i], 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      continue;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExA(key, "LoadBehavior", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
      kept[i] = value;
      RegSetValueExA(key, "LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kHeldBack),
                     sizeof kHeldBack);
    }
    RegCloseKey(key);
  }
  const long result = assistant_->LoadOutlook();
  if (result != 0) log_line("Outlook Failure", slText);
  for (std::size_t i = 0; i < std::size(kAddInKeys); ++i) {
    if (!kept[i]) continue;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAddInKeys[i], 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      continue;
    RegSetValueExA(key, "LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*kept[i]),
                   sizeof(DWORD));
    RegCloseKey(key);
  }
  return result;
}

long DesktopNoteDatabase::connect() {
  // The watcher already runs while Outlook starts: an Outlook that asks for a profile as it starts
  // answers no call until its chooser is closed, so a watcher started only afterwards would never
  // see it. Once Outlook has started, the watcher gets its three seconds anew and is waited for.
  {
    sx::common::ProfilePromptWatcher watcher;
    watcher.start();
    if (startOutlook() != 0) {
      watcher.stop();
      log_line("Error Connecting to Outlook", slText);
      return kFailure;
    }
    watcher.start();
    watcher.wait();
  }
  profile_.clear();
  bool found = false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProfilesKey, 0, 0x20019, &key) == ERROR_SUCCESS) {
    char value[1024] = {};
    DWORD size = sizeof value - 1, type = 0;
    if (RegQueryValueExA(key, user_name_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      profile_.assign(value, strnlen(value, sizeof value));
      found = true;
    }
    RegCloseKey(key);
  }
  if (found) {
    com::Variant profile = com::Variant::from_ansi(profile_);
    if (assistant_->LogonOutlook(&profile.get()) == 0) return 0;
    // Another profile would hold other notes, or none: the damaged file is repaired first.
    if (tell_damaged_file()) return kFailure;
    log_line(format_string(IDS_LOGON_FAILED, profile_.c_str()), slText);
  } else if (!ask_unknown_user()) {
    log_line(load_string(IDS_LOGON_CANCELLED).value_or(""), slText);
    return kFailure;
  }
  com::Variant empty = com::Variant::from_ansi("");
  if (assistant_->LogonOutlook(&empty.get()) != 0) {
    log_line(load_string(IDS_LOGON_CANCELLED).value_or(""), slText);
    return kFailure;
  }
  return 0;
}

// --- Reading the notes folder

std::string category_name(const std::string& text) {
  std::string name = text.substr(0, text.find(','));
  if (name.size() != text.size()) {
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
  }
  std::size_t start = 0;
  while (start < name.size() && std::isspace(static_cast<unsigned char>(name[start]))) ++start;
  return name.substr(start, kMaxCategory);
}

int DesktopNoteDatabase::categoryFor(const std::string& text, bool create) {
  const std::string name = category_name(text);
  if (name.empty()) return 0;
  for (int i = 1; i < 16; ++i) {
    if (equal_without_case(categories_[static_cast<std::size_t>(i)], name)) return i;
  }
  if (!create) return 0;
  for (int i = 1; i < 16; ++i) {
    if (categories_[static_cast<std::size_t>(i)].empty()) {
      categories_[static_cast<std::size_t>(i)] = name;
      return i;
    }
  }
  return 0;
}

void DesktopNoteDatabase::readPost(VARIANT* values, DesktopNoteRecord* known) {
  bool lossy = false;
  const std::string whole = ansi_of(&values[kBody], &lossy);
  const bool is_private = (static_cast<long>(number(&values[kSense])) & 2) != 0;
  const std::string contact = ansi_of(&values[kContact]);
  const std::string category_text = ansi_of(&values[kCategory]);
  DesktopNoteRecord* note = known;
  // A post the state file does not know is a new desktop note: every field Outlook holds is
  // reported as changed here. Fields Outlook does not hold (Resv1, Resv2, the first text) keep
  // what the note had.
  const bool fresh = note == nullptr;
  if (fresh) {
    auto made = std::make_unique<DesktopNoteRecord>(*this);
    made->setNoteId(key_of(&values[kKey]));
    note = static_cast<DesktopNoteRecord*>(&admit(std::move(made)));
  }
  note->post_key = key_of(&values[kKey]);
  note->setDeleted(false);
  note->date(NoteRecord::kCreated).set(date_of(&values[kCreate]));
  note->date(NoteRecord::kModified).set(date_of(&values[kModify]));
  // A post always has a date (its first reading stamps one); a note without one keeps having none
  // rather than taking the stamp as a change made in Outlook.
  if (fresh || note->date(NoteRecord::kDate).value() != 0) {
    set_date_if_different(note->date(NoteRecord::kDate), date_of(&values[kDate]), true);
  }
  readText(*note, whole, lossy, fresh);
  // A contact linked by a text reads back in Outlook's form ("Doe, Jane" as "Doe,Jane"): the same
  // contact is no change.
  if (!sx::common::same_contact_text(com::ansi_to_u16(contact),
                                     com::ansi_to_u16(note->text(NoteRecord::kText2).desktop()))) {
    set_text_if_different(note->text(NoteRecord::kText2), contact, true);
  }
  if (note->privateFlag().get() != is_private) {
    note->privateFlag().setBool(is_private);
    note->privateFlag().modified_here = true;
  }
  // A category name new to both sides takes a free slot on this path too, so that a category
  // given to a note in Outlook reaches the handheld instead of being dropped. When no slot is
  // free, the note keeps its category (said once a run).
  const int current = note->category().value();
  const std::string name = category_name(category_text);
  const bool same = !name.empty() && current > 0 && current < 16 &&
                    equal_without_case(categories_[static_cast<std::size_t>(current)], name);
  // The handheld renamed (or deleted) the note's category since the last HotSync: the post still
  // carries the category's former name. The note keeps its category, and the post is written
  // again with the category's name now.
  const bool renamed_there = !fresh && !same && !name.empty() && current > 0 && current < 16 &&
                             (renamed_on_handheld_ & (1u << current)) != 0;
  if (!same && !renamed_there) {
    const int index = categoryFor(name, true);
    if (index == 0 && !name.empty()) {
      if (std::find(categories_without_room_.begin(), categories_without_room_.end(), name) ==
          categories_without_room_.end()) {
        categories_without_room_.push_back(name);
        log_line(format_string(IDS_NO_ROOM_FOR_CATEGORY, name.c_str()), slText);
      }
    } else if (index != current) {
      note->category().set(index);
      note->category().modified_here = true;
    }
  }
  if (fresh) {
    for (int i : {NoteRecord::kDate, NoteRecord::kText2, NoteRecord::kText}) {
      note->field(static_cast<std::size_t>(i)).modified_here = true;
    }
    note->category().modified_here = true;
    note->privateFlag().modified_here = true;
  }
  note->clearChangedMarks();
  if (renamed_there) note->category().changed_in_memory = true;
  progress().item(1, *note);
}

// The note's text from the post's body (`whole`, ANSI; `lossy` when characters had no form). The
// handheld holds at most kHandheldTextLimit characters of a text: a longer body is cut, and the
// note is marked incomplete, as a lossy one is, so that nothing is ever written over the post's
// text from it. A body that reads as the state file remembers the note (whole, or cut as before)
// is no change: a text cut on reading is not a change made in Outlook.
void DesktopNoteDatabase::readText(DesktopNoteRecord& note, const std::string& whole, bool lossy,
                                   bool fresh) {
  TextField& text = note.text(NoteRecord::kText);
  if (!fresh && !lossy && whole == text.desktop()) return;  // as it was, whole
  const std::string held = cut_for_handheld(whole);
  note.oversized = held.size() != whole.size();
  note.lossy = lossy;
  note.text_incomplete = note.oversized || lossy;
  if (!fresh && held == text.desktop()) {
    note.text_as_read = held;
    return;
  }
  text.setDesktop(held);
  text.modified_here = true;
  note.text_as_read = held;
  if (note.oversized) {
    std::size_t length = 0;
    for (char c : whole) length += c != '\r' ? 1 : 0;
    log_line(format_string(IDS_TEXT_CUT_FOR_HANDHELD, note.title().c_str(),
                           static_cast<unsigned long>(length),
                           static_cast<unsigned long>(kHandheldTextLimit)),
             slText);
  } else if (lossy) {
    log_line(format_string(IDS_TEXT_LOSSY_FOR_HANDHELD, note.title().c_str()), slText);
  }
}

long DesktopNoteDatabase::readAll() {
  for (auto& [id, note] : notes_) note->setDeleted(true);
  progress().step(1, *this);
  const long count = assistant_->BeginItem();
  if (count < 0) {
    log_line("Reading from Outlook", slText);
    return kFailure;
  }
  item_count_ = static_cast<int>(count);
  records_to_read_ = item_count_;
  progress().step(1, *this);  // now that the count is known, the bar has its range
  long result = 0;
  std::map<std::int32_t, bool> seen;  // keys of the live posts read this run
  std::set<std::int32_t> posts;       // keys of every post read, archived ones too
  long visited = 0;
  for (long index = assistant_->NextItem(); index > 0; index = assistant_->NextItem()) {
    ++visited;
    Values values;
    const long read = assistant_->ReadItem(values[0], values[1], values[2], values[3], values[4],
                                           values[5], values[6], values[7], values[8]);
    const bool failed = read < 0;
    if (failed) {
      char line[64];
      std::snprintf(line, sizeof line, "Error Reading an Outlook entry (%ld). ", read);
      log_line(line + assistant_->GetLastErrorText(), slText);
    }
    SyncYieldCycles(1);
    if (!failed) posts.insert(key_of(values[kKey]));
    if (!failed && number(values[kFlag]) == 0) {
      const std::int32_t key = key_of(values[kKey]);
      auto* known = static_cast<DesktopNoteRecord*>(find(key));
      // A second post with one key is a note of its own (admitted under a provisional ID).
      if (known != nullptr && seen[key]) known = nullptr;
      seen[key] = true;
      readPost(values.data(), known);
    }
    if (failed) {
      log_line("Outlook Automation Failure", slText);
      result = kFailure;
      (void)assistant_->EndItem();
    }
  }
  records_to_read_ = 0;
  // NextItem answers -1 both at the end and when the next post cannot be fetched: a walk that
  // ended before the folder's count would leave the posts not read looking deleted in Outlook, and
  // the merge would delete their notes on the handheld.
  if (result == 0 && visited < count) {
    log_line("Reading from Outlook", slText);
    result = kFailure;
  }
  if (result == 0 && recover_lost_posts_) forgetPostsLostWithDamage(posts);
  return result;
}

// Since a HotSync found Outlook's file damaged, a note of the state whose post is gone (not
// archived) was lost with the damage: forgotten here, it is a note the desktop lacks, and the
// handheld's copy is written to Outlook again.
void DesktopNoteDatabase::forgetPostsLostWithDamage(const std::set<std::int32_t>& posts) {
  unsigned long forgotten = 0;
  for (auto it = notes_.begin(); it != notes_.end();) {
    const NoteRecord& note = *it->second;
    if (note.isDeletedOrArchived() && posts.count(note.noteId()) == 0) {
      it = notes_.erase(it);
      ++forgotten;
    } else {
      ++it;
    }
  }
  if (forgotten > 0) log_line(format_string(IDS_POSTS_LOST_WITH_DAMAGE, forgotten), slText);
}

void DesktopNoteDatabase::setCategoriesFrom(const BYTE* block) {
  if (block == nullptr) return;
  renamed_on_handheld_ = static_cast<std::uint16_t>((block[0] << 8) | block[1]);
  for (int i = 0; i < 16; ++i) {
    const char* name = reinterpret_cast<const char*>(block + 2 + 16 * i);
    categories_[static_cast<std::size_t>(i)].assign(name, strnlen(name, 16));
  }
}

long DesktopNoteDatabase::transferCategoriesTo(NoteDatabase& target) {
  auto* handheld = dynamic_cast<HandheldNoteDatabase*>(&target);
  if (handheld == nullptr) return 0;
  BYTE* block = handheld->categoryBlock();
  for (int i = 1; i < 16; ++i) {
    const std::string& name = categories_[static_cast<std::size_t>(i)];
    char* slot = reinterpret_cast<char*>(block + 2 + 16 * i);
    if (name.empty() || name == std::string(slot, strnlen(slot, 16))) continue;
    std::memset(slot, 0, 16);
    std::memcpy(slot, name.data(), std::min<std::size_t>(name.size(), kMaxCategory));
    handheld->setCategoryBlockChanged();
  }
  return 0;
}

// --- Writing

std::unique_ptr<NoteRecord> DesktopNoteDatabase::createRecord(const NoteRecord* from) {
  auto note = std::make_unique<DesktopNoteRecord>(*this);
  if (from == nullptr) return note;
  note->copyFrom(*from);
  note->info().m_RecId = from->info().m_RecId;
  const long result = note->addToOutlook();
  if (result == kNoKeyDrawn) return nullptr;
  // A post that could not be made leaves its note out of the state file (saveState): the next sync
  // makes it again. The run goes on with the other notes.
  if (result != 0) {
    ++unposted_;
    note->write_refused = true;
  }
  ++item_count_;
  SyncYieldCycles(1);
  return note;
}

long DesktopNoteDatabase::writeChangedRecord(NoteRecord& note) {
  return static_cast<DesktopNoteRecord&>(note).updateInOutlook();
}

long DesktopNoteDatabase::handleArchivedRecord(NoteRecord& note) {
  auto& desktop = static_cast<DesktopNoteRecord&>(note);
  if (!desktop.posted) return 0;
  return desktop.updateInOutlook();
}

long DesktopNoteDatabase::deleteRecord(NoteRecord& note) {
  const long result = static_cast<DesktopNoteRecord&>(note).deleteFromOutlook();
  note.markForDeletion();
  --item_count_;
  return result == kFailure ? kFailure : 0;
}

// Notes whose ID the merge changed (a second post with one key, given a key of its own) are written
// with their new keys. The component finds a post by key only, so every post of the old key is
// removed and each note that was read from one is posted again.
long DesktopNoteDatabase::rekeyPosts() {
  std::map<std::int32_t, std::vector<DesktopNoteRecord*>> by_old_key;
  bool any = false;
  for (auto& [id, note] : notes_) {
    auto* d = static_cast<DesktopNoteRecord*>(note.get());
    if (d->post_key == 0 || d->isDeletedOrArchived()) continue;
    by_old_key[d->post_key].push_back(d);
    if (d->post_key != d->noteId()) any = true;
  }
  if (!any) return 0;
  long result = 0;
  for (auto& [old_key, group] : by_old_key) {
    const bool moved =
        std::any_of(group.begin(), group.end(), [](auto* d) { return d->post_key != d->noteId(); });
    const bool whole =
        std::none_of(group.begin(), group.end(), [](auto* d) { return d->oversized; });
    if (!moved || !whole) continue;  // a cut text is never written back: the post stays
    com::Variant key = com::Variant::from_r8(old_key);
    long removed = 1;
    for (int guard = 0; guard < 64 && removed > 0; ++guard)
      removed = assistant_->DeleteItem(&key.get());
    if (removed < 0) {
      // A post of the old key could not be removed: making the notes again beside it would leave
      // two posts of one note. The group stays as it is; the next sync tries again.
      log_line("Deleting an Entry from Outlook", slText);
      result = kFailure;
      continue;
    }
    for (DesktopNoteRecord* d : group) {
      d->needs_rewrite = false;
      if (d->addToOutlook() != 0) {
        result = kFailure;
        lost_posts_.push_back(d->noteId());
      }
    }
  }
  return result;
}

long DesktopNoteDatabase::writeAll() {
  long result = rekeyPosts();
  const long base = NoteDatabase::writeAll();
  if (result == 0) result = base;
  return result;
}

long DesktopNoteDatabase::saveState() {
  // A note whose post could not be made is not remembered as on the desktop: the next sync sees it
  // missing here and makes it again, instead of taking it as deleted in Outlook.
  for (auto it = notes_.begin(); it != notes_.end();) {
    it = static_cast<DesktopNoteRecord*>(it->second.get())->posted ? std::next(it)
                                                                   : notes_.erase(it);
  }
  const long result = write_state_file(state_path_, *this);
  if (result == 0) state_saved_ = true;
  // What the damage lost reached Outlook again.
  if (result == 0 && recover_lost_posts_) DeleteFileA(recovery_marker_path(state_path_).c_str());
  // The run is still a failure: a note did not reach Outlook.
  return result == 0 && unposted_ > 0 ? kFailure : result;
}

// The run failed after a post was removed and could not be made again: the state file of the last
// sync would take the missing post as a deletion in Outlook and delete the note on the handheld.
// The kept state forgets those notes, so the next sync makes their posts again from the handheld.
void DesktopNoteDatabase::forgetLostPosts() {
  NoteDatabase previous("state", properties_, false, IDS_DESKTOP_DB);
  if (read_state_file(state_path_, previous) != 0) return;
  for (std::int32_t id : lost_posts_) previous.notes().erase(id);
  (void)write_state_file(state_path_, previous);
}

std::string recovery_marker_path(const std::string& state_path) {
  return state_path + ".outlook-damaged";
}

std::unique_ptr<NoteDatabase> make_desktop_database(SyncProperties* properties) {
  return std::make_unique<DesktopNoteDatabase>(properties);
}

}  // namespace sx::conduit
