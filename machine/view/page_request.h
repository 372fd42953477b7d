// What the machine's page asks the server to do, read from the JSON body of a POST. The body comes
// from a browser and is untrusted: parse_page_request accepts exactly the shapes below and throws
// BadPageRequest with a sentence for the person for anything else, never more.
//
//   {"side": "handheld", "action": "new", "text": T, "category": C?, "private": B?}
//   {"side": "handheld", "action": "edit", "record": N, "text": T?, "category": C?, "private": B?}
//   {"side": "handheld", "action": "delete" | "archive", "record": N}
//   {"side": "outlook", "action": "add", "subject": S?, "body": B, "categories": C?}
//   {"side": "outlook", "action": "edit", "entry_id": E, "subject": S?, "body": B?, "categories": C?}
//   {"side": "outlook", "action": "delete", "entry_id": E}
//   {"side": "hotsync", "action": "sync" | "preview"}
//   {"side": "window", "window": NAME, "action": "click" | "type" | "select" | "close",
//    "handle": H (not for close), "text": T (type), "index": N (select, 0 to 65535)}
//
// A window's NAME is the one its file has under the machine's view folder (sx/web_windows.h):
// digits, '-', lower-case hexadecimal digits, at most 40 characters.
// Texts are UTF-8 and at most 64 KiB each; record IDs are 1 to 0xFFFFFF (the handheld's range);
// an entry ID is 1 to 128 hexadecimal digits.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sx::machine_view {

class BadPageRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Side { kHandheld, kOutlook, kHotSync, kWindow };
enum class Action { kNew, kEdit, kDelete, kArchive, kSync, kPreview, kClick, kType, kSelect, kClose };

struct PageRequest {
  Side side = Side::kHandheld;
  Action action = Action::kNew;
  std::uint32_t record = 0;  // handheld edit, delete, archive
  std::string entry_id;      // outlook edit, delete
  // Values to set; what is not given stays as it is.
  std::optional<std::string> text, category;  // handheld
  std::optional<bool> is_private;
  std::optional<std::string> subject, body, categories;  // outlook
  std::string window;        // window
  std::uint64_t handle = 0;  // window: the control
  int index = 0;             // window select
};

PageRequest parse_page_request(std::string_view json);

}  // namespace sx::machine_view
