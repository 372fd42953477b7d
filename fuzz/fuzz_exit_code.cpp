// Fuzz target for the file in which a child process leaves its full exit code: any text gives a
// code whose low 8 bits are the status the host saw.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "inheritance.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int status = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::uint32_t code = sx::process::exit_code_from_text(text, status);
  if ((code & 0xFFu) != static_cast<std::uint32_t>(status)) std::abort();
  return 0;
}
