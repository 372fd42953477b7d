// Fuzz target for the files through which processes of a machine see each other's windows: a
// window entry, a message letter and an answer. Any text is read without crashing; whatever reads
// is written back to a text that reads again the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "machine_windows_format.h"

using namespace sx::window::detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  WindowEntry entry;
  if (parse_window_entry(text, &entry)) {
    WindowEntry again;
    if (!parse_window_entry(format_window_entry(entry), &again) || again.pid != entry.pid ||
        again.class_name != entry.class_name || again.title != entry.title) {
      std::abort();
    }
  }
  Letter letter;
  if (parse_letter(text, &letter)) {
    Letter again;
    if (!parse_letter(format_letter(letter), &again) || again.hwnd != letter.hwnd ||
        again.msg != letter.msg || again.wparam != letter.wparam || again.lparam != letter.lparam ||
        again.reply != letter.reply) {
      std::abort();
    }
  }
  std::uint64_t handle = 0;
  if (parse_handle_name(text, &handle) && parse_handle_name(handle_name(handle), &handle) != true) {
    std::abort();
  }
  (void)parse_answer(text);
  return 0;
}
