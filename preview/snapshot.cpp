#include "sx/preview/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "com/vardate.h"
#include "com/variant_value.h"
#include "comdef.h"
#include "objbase.h"
#include "scribbixout/scribbixout.h"
#include "sx/hotsync.h"
#include "windows.h"

namespace sx::preview {
namespace {

constexpr std::size_t kFixedBytes = 26;  // Mod, ID, Created, Modified, Date, Resv1, Resv2
constexpr std::uint8_t kDeleted = 0x80, kPrivate = 0x10, kArchived = 0x08;
constexpr std::size_t kCategoryNames = 2;  // the names follow a 16-bit word
constexpr std::size_t kCategoryNameBytes = 16;

std::string minutes_text(const com::DateMinutes& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

std::uint32_t big_endian(const std::vector<std::uint8_t>& d, std::size_t at) {
  return (std::uint32_t{d[at]} << 24) | (std::uint32_t{d[at + 1]} << 16) |
         (std::uint32_t{d[at + 2]} << 8) | d[at + 3];
}

// The handheld's date field: a date word, the hour, the minute; year bits 0 mean no date.
std::string handheld_date(const std::vector<std::uint8_t>& d) {
  const std::uint16_t word = static_cast<std::uint16_t>((d[16] << 8) | d[17]);
  const auto t = com::unpack_date_word(word, d[18], d[19]);
  return t ? minutes_text(*t) : "none";
}

// The handheld keeps LF line ends, Outlook CR LF; a person reads the same text either way.
std::string plain_lines(std::string text) {
  std::erase(text, '\r');
  return text;
}

std::string category_name(const std::vector<std::string>& names, unsigned index) {
  if (index == 0) return "";  // Unfiled
  return index < names.size() ? names[index] : "";
}

std::vector<std::string> category_names(const std::vector<std::uint8_t>& block) {
  std::vector<std::string> names(16);
  for (std::size_t i = 0; i < 16; ++i) {
    const std::size_t at = kCategoryNames + i * kCategoryNameBytes;
    if (at + kCategoryNameBytes > block.size()) break;
    const char* start = reinterpret_cast<const char*>(block.data() + at);
    names[i].assign(start, strnlen(start, kCategoryNameBytes));
  }
  return names;
}

// The three NUL-terminated texts after the fixed fields; false when one has no end.
bool handheld_texts(const std::vector<std::uint8_t>& d, std::string texts[3]) {
  std::size_t at = kFixedBytes;
  for (int i = 0; i < 3; ++i) {
    const auto end = std::find(d.begin() + static_cast<std::ptrdiff_t>(at), d.end(), 0);
    if (end == d.end()) return false;
    texts[i].assign(d.begin() + static_cast<std::ptrdiff_t>(at), end);
    at = static_cast<std::size_t>(end - d.begin()) + 1;
  }
  return true;
}

std::string profile_of(const std::string& user) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return "";
  char value[512] = {};
  DWORD size = sizeof value - 1, type = 0;
  const LONG rc =
      RegQueryValueExA(key, user.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "";
}

void add_categories(SideView* side, const std::set<std::string>& names) {
  for (const auto& n : names)
    if (!n.empty()) side->categories.push_back(n);
}

}  // namespace

const std::string& NoteView::field(const std::string& name) const {
  static const std::string none;
  for (const auto& [n, v] : fields)
    if (n == name) return v;
  return none;
}

std::string NoteView::title() const {
  const std::string& text = field("Note Text");
  std::string line = text.substr(0, text.find('\n'));
  if (line.size() > 32) line.resize(32);
  return line;
}

std::size_t SideView::live_count() const {
  return static_cast<std::size_t>(
      std::count_if(notes.begin(), notes.end(), [](const NoteView& n) { return !n.archived; }));
}

SideView read_handheld(const std::string& handheld_folder) {
  SideView side;
  sx::hotsync::PdbDatabase db;
  const auto file = sx::hotsync::database_file(handheld_folder, kNotesDatabase);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    side.why = "there is no \"ScribbixDB\" on the handheld";
    return side;
  }
  if (!sx::hotsync::load_database(file, &db, &side.why)) return side;
  if (db.creator != kNotesCreator) {
    side.why = "\"ScribbixDB\" on the handheld belongs to another application";
    return side;
  }
  const std::vector<std::string> names =
      db.app_info ? category_names(*db.app_info) : std::vector<std::string>(16);
  for (const auto& record : db.records) {
    const bool archived = (record.attributes & kDeleted) && (record.attributes & kArchived);
    if ((record.attributes & kDeleted) && !archived) continue;  // deleted, gone at the HotSync
    std::string texts[3];
    if (record.data.size() < kFixedBytes || !handheld_texts(record.data, texts)) {
      side.why =
          "a note on the handheld is damaged (record id " + std::to_string(record.unique_id) + ")";
      side.notes.clear();
      return side;
    }
    NoteView note;
    note.identity = std::to_string(record.unique_id);
    note.id = static_cast<std::int32_t>(big_endian(record.data, 4));
    note.archived = archived;
    note.fields = {{"Date", handheld_date(record.data)},
                   {"Note Text", plain_lines(texts[2])},
                   {"Contact", plain_lines(texts[1])},
                   {"Category", category_name(names, record.attributes & 0x0F)},
                   {"Private", (record.attributes & kPrivate) ? "yes" : "no"}};
    side.notes.push_back(std::move(note));
  }
  add_categories(&side, std::set<std::string>(names.begin(), names.end()));
  side.read = true;
  return side;
}

SideView read_outlook(const std::string& user) {
  SideView side;
  const std::string profile = profile_of(user);
  if (profile.empty()) {
    side.why = "no Outlook profile is paired with the Palm user";
    return side;
  }
  const HRESULT init = CoInitialize(nullptr);
  try {
    CLSID clsid{};
    const std::u16string progid = com::utf8_to_u16(scribbixout::kClass1ProgId);
    com::throw_if_failed(CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progid.c_str()), &clsid));
    com::ComPtr<_Class1> component;
    com::throw_if_failed(
        CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Class1::kIid, component.PutVoid()));
    LONG r = -1;
    component->LoadOutlook(&r);
    if (r != 0) throw std::runtime_error("Outlook cannot be started");
    com::Variant name = com::Variant::from_ansi(profile);
    component->LogonOutlook(&name.get(), &r);
    if (r != 0) throw std::runtime_error("the profile \"" + profile + "\" does not log on");
    component->GetScribbixFolder(&r);
    if (r != 0) throw std::runtime_error("the profile has no notes folder");
    LONG count = -1;
    component->BeginItem(&count);
    if (count < 0) throw std::runtime_error("the notes folder cannot be read");
    std::map<std::int32_t, int> seen;
    std::set<std::string> categories;
    for (component->NextItem(&r); r > 0; component->NextItem(&r)) {
      com::Variant v[9];
      LONG read = -1;
      component->ReadItem(&v[0].get(), &v[1].get(), &v[2].get(), &v[3].get(), &v[4].get(),
                          &v[5].get(), &v[6].get(), &v[7].get(), &v[8].get(), &read);
      if (read != 0) throw std::runtime_error("a post of the notes folder cannot be read");
      NoteView note;
      note.id = static_cast<std::int32_t>(v[0].to_r8());
      const int nth = ++seen[note.id];
      note.identity = std::to_string(note.id) + (nth > 1 ? "#" + std::to_string(nth) : "");
      note.archived = v[8].to_bool();
      const auto date =
          v[1].is_empty() || v[1].is_null() ? std::nullopt : com::minutes_from_date(v[1].to_date());
      const std::string category = v[5].to_ansi();
      note.fields = {{"Date", date && v[1].to_date() != 0 ? minutes_text(*date) : "none"},
                     {"Note Text", plain_lines(v[4].to_ansi())},
                     {"Contact", plain_lines(v[6].to_ansi())},
                     {"Category", category},
                     {"Private", v[7].to_i4() != 0 ? "yes" : "no"}};
      if (!note.archived) categories.insert(category);
      side.notes.push_back(std::move(note));
    }
    component->EndItem(&r);
    component->UnloadOutlook(&r);
    add_categories(&side, categories);
    side.read = true;
  } catch (const com::ComError& e) {
    side.why = "Outlook's access component failed (" + com::error_message(e.Error()) + ")";
  } catch (const std::exception& e) {
    side.why = e.what();
  }
  if (!side.read) side.notes.clear();
  if (SUCCEEDED(init)) CoUninitialize();
  CoFreeUnusedLibraries();
  return side;
}

Snapshot take_snapshot(const std::string& user, const std::string& user_directory) {
  Snapshot s;
  s.handheld = read_handheld(sx::hotsync::handheld_dir(user_directory).string());
  s.outlook = read_outlook(user);
  return s;
}

}  // namespace sx::preview
