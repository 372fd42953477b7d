// HotSync's install aide ("instaide.dll"): HotSync's users for programs that load it at run time.
#include "hotsync/instaide.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sx/hotsync.h"

namespace {

std::vector<sx::hotsync::UserEntry> users() {
  std::vector<sx::hotsync::UserEntry> list;
  if (!sx::hotsync::read_users(&list, nullptr)) list.clear();
  return list;
}

// Copies `text` into the caller's buffer by the aide's rule (see instaide.h).
int copy_out(const std::string& text, char* buffer, short* size) {
  if (text.size() + 1 > static_cast<std::size_t>(*size)) {
    *size = static_cast<short>(std::min<std::size_t>(text.size() + 1, 0x7FFF));
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *size = static_cast<short>(text.size());
  return static_cast<int>(text.size());
}

}  // namespace

extern "C" int PltGetUserCount() {
  try {
    return static_cast<int>(users().size());
  } catch (...) {
    return 0;
  }
}

extern "C" int PltGetUser(unsigned int index, char* buffer, short* size) {
  try {
    if (buffer == nullptr || size == nullptr || *size <= 0) return 0;
    const auto list = users();
    if (index >= list.size()) return 0;
    return copy_out(list[index].name, buffer, size);
  } catch (...) {
    return 0;
  }
}

extern "C" int PltGetUserDirectory(const char* user, char* buffer, short* size) {
  try {
    if (user == nullptr || buffer == nullptr || size == nullptr || *size <= 0) return 0;
    for (const auto& u : users()) {
      if (u.name == user) return copy_out(u.directory, buffer, size);
    }
    return 0;
  } catch (...) {
    return 0;
  }
}
