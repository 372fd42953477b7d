// The machine's ANSI code page (what the registry and HotSync's files hold) to and from UTF-8 (what
// a terminal speaks), for our programs' arguments and output. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sx::cli {

// Every ANSI byte has a character.
std::string ansi_to_terminal(std::string_view ansi);

// Malformed UTF-8 is taken as ANSI bytes already. Returns nothing when a character has no byte in
// the ANSI code page.
std::optional<std::string> terminal_to_ansi(std::string_view utf8);

}  // namespace sx::cli
