// Fuzz target for what the machine's page passes on to a window of the web host: any line is read
// without crashing; a line taken is one of the page's shapes and comes out the same when written
// again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sx/web_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sx::window::web;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto input = parse_window_input(line);
  if (!input) return 0;
  if (input->index < 0 || input->index > 65535 || input->text.size() > 65536) std::abort();
  const auto again = parse_window_input(window_input_line(*input));
  if (!again || again->kind != input->kind || again->index != input->index) std::abort();
  if (input->kind != WindowInput::Kind::kClose && again->handle != input->handle) std::abort();
  return 0;
}
