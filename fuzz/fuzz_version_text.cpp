// Fuzz target for the configuration program's reading of version texts (the FileVersion of a file
// on the user's machine): any text gives four parts, each -1 or a number read from its leading
// digits, and a text without a dot leaves the last three at -1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "file_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::array<int, 4> parts = sx::configure::ParseVersion(text);
  if (text.empty() && parts[0] != -1) std::abort();
  if (text.find('.') == std::string::npos && (parts[1] != -1 || parts[2] != -1 || parts[3] != -1))
    std::abort();
  return 0;
}
