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

// A name or text from the command line (UTF-8) in the machine's ANSI code page, for what the
// machine keeps in that code page (users, profiles, registry keys and values). Convert each once,
// in the command's action (the code page is the machine's, known once its root is set). Throws
// Failure, naming `what` ("user name") and the text, when a character has no byte there.
std::string machine_text(const std::string& utf8, const std::string& what);

}  // namespace sx::cli
