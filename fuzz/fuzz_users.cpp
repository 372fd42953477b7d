// Fuzz target for HotSync's user list (users.dat): any input is read without crashing, a refusal
// always says why, and whatever is read writes back to text that reads again to the same users.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "users_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<CUser> users;
  std::string why;
  if (!sx::hotsync::detail::parse_users_text(text, &users, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  std::vector<CUser> again;
  if (!sx::hotsync::detail::parse_users_text(sx::hotsync::detail::format_users_text(users), &again,
                                             &why) ||
      again.size() != users.size()) {
    std::abort();
  }
  for (std::size_t i = 0; i < users.size(); ++i) {
    if (std::string(again[i].GetName()) != users[i].GetName() ||
        std::string(again[i].GetDirName()) != users[i].GetDirName() ||
        again[i].GetUserID() != users[i].GetUserID()) {
      std::abort();
    }
  }
  return 0;
}
