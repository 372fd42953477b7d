// Fuzz target for the result file the preview's worker leaves on the copy of the machine: any text
// is refused or read without crashing, what reads prints, and its snapshots read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sx/preview/preview.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(data[i]);
    }
  }
  sx::preview::Preview preview;
  try {
    preview = sx::preview::preview_from_lines("Jo Smith", lines);
  } catch (const sx::preview::PreviewError&) {
    return 0;
  }
  (void)sx::preview::preview_lines(preview);
  const auto before = sx::preview::snapshot_lines(preview.before);
  std::size_t pos = 0;
  sx::preview::Snapshot again;
  if (!sx::preview::parse_snapshot(before, &pos, &again) || !(again == preview.before)) {
    std::abort();
  }
  return 0;
}
