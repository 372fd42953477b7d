// Fuzz target for what the machine's page sends its server: any body is read as a page request
// without crashing; a refusal is a BadPageRequest with a reason, and every request read keeps the
// limits the server relies on (record IDs in the handheld's range, entry IDs of hexadecimal
// digits, texts of at most 64 KiB).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "page_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sx::machine_view;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const PageRequest r = parse_page_request(text);
    if (r.record > 0xFFFFFF || r.entry_id.size() > 128) std::abort();
    for (char c : r.entry_id) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
        std::abort();
    }
    for (const auto* t : {&r.text, &r.category, &r.subject, &r.body, &r.categories}) {
      if (*t && (*t)->size() > 64 * 1024) std::abort();
    }
    if (r.side == Side::kHandheld && r.action != Action::kNew && r.record == 0) std::abort();
  } catch (const BadPageRequest& e) {
    if (std::string_view(e.what()).empty()) std::abort();
  }
  return 0;
}
