// HotSync's install aide ("instaide.dll"): HotSync's users for programs that load it at run time.
#include "hotsync/instaide.h"

#include <cstring>
#include <string>
#include <vector>

#include "sx/hotsync.h"

namespace {

std::vector<std::string> user_names() {
  std::vector<sx::hotsync::UserEntry> users;
  std::vector<std::string> names;
  if (!sx::hotsync::read_users(&users, nullptr)) return names;
  for (const auto& u : users) names.push_back(u.name);
  return names;
}

}  // namespace

extern "C" int PltGetUserCount() {
  try {
    return static_cast<int>(user_names().size());
  } catch (...) {
    return 0;
  }
}

extern "C" int PltGetUser(unsigned int index, char* buffer, short* size) {
  try {
    if (buffer == nullptr || size == nullptr || *size <= 0) return 0;
    const auto names = user_names();
    if (index >= names.size()) return 0;
    const std::string& name = names[index];
    if (name.size() + 1 > static_cast<std::size_t>(*size)) {
      *size = static_cast<short>(std::min<std::size_t>(name.size() + 1, 0x7FFF));
      return 0;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<short>(name.size());
    return static_cast<int>(name.size());
  } catch (...) {
    return 0;
  }
}
