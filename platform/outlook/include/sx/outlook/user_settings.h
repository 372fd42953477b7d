// The user's Outlook settings files as Outlook reads them when it starts (their format:
// docs/outlook-user-interface.md): the command bar settings ("outcmd.dat") and a profile's Outlook
// Bar ("<profile>.fav"). Outlook uses a file that reads well; it keeps one that does not aside
// ("<file>.damaged") and starts from the defaults. These say which a text is, with where it is
// damaged in *why. Thread-safe.
#pragma once

#include <string>

namespace sx::outlook {

bool read_command_bar_settings(const std::string& text, std::string* why);
bool read_outlook_bar_settings(const std::string& text, std::string* why);

}  // namespace sx::outlook
