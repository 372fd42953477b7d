// Fuzz target for the machine's registry file: any text is read without crashing (what does not
// parse is reported and skipped), and what is read writes back to text that reads again with no
// problem and writes back to the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reg_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int reported = 0;
  const auto count = [&reported](int line, const std::string& problem) {
    if (line < 1 || problem.empty()) std::abort();  // every report names its line and problem
    ++reported;
  };
  const auto first = sx::registry::parse_registry_text(text, count);
  if (first.problems != reported) std::abort();
  const std::string written = sx::registry::format_registry_text(first.tree);
  reported = 0;
  const auto again = sx::registry::parse_registry_text(written, count);
  if (again.problems != 0) std::abort();
  if (sx::registry::format_registry_text(again.tree) != written) std::abort();
  return 0;
}
