// Fuzz target for a HotSync user's SyncActions.txt: any text is read without crashing, every
// action read is a known kind with a sync type of 0 or more, and what reads is written back to a
// text that reads again the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "actions_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sx::hotsync::detail;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const SyncActions actions = parse_actions_text(text);
  for (const auto& [key, action] : actions) {
    if (key.empty() || (action.first != "default" && action.first != "once") || action.second < 0) {
      std::abort();
    }
  }
  if (parse_actions_text(format_actions_text(actions)) != actions) std::abort();
  return 0;
}
