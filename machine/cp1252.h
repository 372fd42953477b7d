// Windows-1252 (the machine's ANSI code page, what the registry holds) to and from UTF-8 (what a
// terminal speaks), for the machine tool's arguments and output. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sx::machine_tool {

// Every byte has a character (the five unassigned ones map to the C1 controls, as Windows does).
std::string cp1252_to_utf8(std::string_view text);

// Malformed UTF-8 bytes are taken as Windows-1252 bytes already. Returns nothing when a character
// has no Windows-1252 byte.
std::optional<std::string> utf8_to_cp1252(std::string_view text);

}  // namespace sx::machine_tool
