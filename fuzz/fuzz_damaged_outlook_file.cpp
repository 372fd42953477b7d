// Fuzz target for Outlook's refusal of a damaged file, as the conduit and the configuration program
// read it from an error description: any bytes are searched for the file's path.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scribbix/damaged_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string file = sx::common::damaged_outlook_file(text);
  if (file.size() > size) __builtin_trap();  // the path is a part of the text
  return 0;
}
