// Fuzz target for the reader of a library's needed names (LoadLibraryExA reads them from a file it
// is asked to load): any ".dynamic" and ".dynstr" contents are read without crashing, and every
// name it gives lies within the string table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../platform/win32/module/elf_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes tell where the dynamic table ends and the string table begins.
  const std::size_t split = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (size - 1);
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string_view dynamic = rest.substr(0, split);
  const std::string_view strings = rest.substr(split);
  for (const auto& name : sx::modules::needed_libraries(dynamic, strings)) {
    if (name.empty() || strings.find(name) == std::string_view::npos) std::abort();
  }
  return 0;
}
