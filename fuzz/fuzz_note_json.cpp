// Fuzz target for the handheld notes application's import file: any text is read as JSON notes
// without crashing; a refusal is a NotesError with a reason, and every note read has what a new
// note needs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sx/handheld/note_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sx::handheld;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const ImportFile file = parse_import(text);
    for (const ImportedNote& note : file.notes) {
      if (note.date && !note.date->empty() && !note.date->minutes()) std::abort();
    }
  } catch (const NotesError& e) {
    if (std::string_view(e.what()).empty()) std::abort();
  }
  return 0;
}
