// Fuzz target for the handheld notes application's reading of a "ScribbixDB" file: any bytes are
// read as a Palm database, each record as a note and the AppInfo block as the category block,
// without crashing; a refusal names its reason, and what reads packs back to bytes that read the
// same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sx/handheld/categories.h"
#include "sx/handheld/note_record.h"
#include "sx/hotsync_pdb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sx::handheld;
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::parse_pdb({data, size}, &db, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  for (const auto& record : db.records) {
    NoteFields note;
    why.clear();
    if (!unpack_note(record.data, &note, &why)) {
      if (why.empty()) std::abort();
      continue;
    }
    NoteFields again;
    if (!unpack_note(pack_note(note), &again, &why) || !(again == note)) std::abort();
    for (const PackedDate& d : {note.created, note.modified, note.date}) {
      if (const auto t = d.minutes()) {
        const auto packed = PackedDate::of(*t);
        if (!packed || !(*packed == d)) std::abort();
      }
    }
  }
  if (db.app_info) {
    Categories categories;
    why.clear();
    if (!parse_categories(*db.app_info, &categories, &why)) {
      if (why.empty()) std::abort();
      return 0;
    }
    Categories again;
    if (!parse_categories(serialize_categories(categories), &again, &why)) std::abort();
    for (int i = 0; i < kCategoryCount; ++i) {
      const auto slot = static_cast<std::size_t>(i);
      if (again.names[slot] != categories.names[slot]) std::abort();
    }
  }
  return 0;
}
