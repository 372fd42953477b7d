// The text of users.dat (format in hotsync/usermgr.h and docs/hotsync.md), read strictly: a file
// that breaks any rule is refused as a whole, with the first problem and its line. Pure functions;
// any thread.
#pragma once

#include <string>
#include <vector>

#include "hotsync/usermgr.h"

namespace sx::hotsync::detail {

inline constexpr std::size_t kMaxUsers = 4096;
inline constexpr std::size_t kMaxNameBytes = 255;

// The users of `text` in file order (into *users unless it is null), or false with the problem in
// *why ("line 3: ...").
[[nodiscard]] bool parse_users_text(const std::string& text, std::vector<CUser>* users,
                                    std::string* why);
std::string format_users_text(const std::vector<CUser>& users);

// A user's directory is one plain folder name of drive C: 1 to 255 bytes, not "." or "..", none of
// \ / : * ? " < > | or control characters, not ending in a space or a dot, not a device name (CON,
// NUL, COM1, ...). False with the reason otherwise.
[[nodiscard]] bool plain_folder_name(const std::string& name, std::string* why);

// A user name: 1 to 255 bytes without tab, CR, LF or NUL (a NUL would cut it short where the name
// is handed out as a C string, and it could not be written back).
bool valid_user_name(const std::string& name);

// Whether two directory names name one folder on drive C: (ASCII letter case aside).
bool same_folder(const std::string& a, const std::string& b);

}  // namespace sx::hotsync::detail
