// Fuzz target for the user's Outlook settings files: any bytes are read as a command bar settings
// file and as an Outlook Bar file; the readers must neither crash nor read outside the input.
// Built only with clang (libFuzzer).
#include <cstddef>
#include <cstdint>
#include <string>

#include "sx/outlook/user_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string why;
  (void)sx::outlook::read_command_bar_settings(text, &why);
  (void)sx::outlook::read_outlook_bar_settings(text, &why);
  return 0;
}
