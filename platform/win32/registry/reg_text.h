// The registry file's text: the REGEDIT4 export format (see README.md beside this file).
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Vorlan Software\Scribbix]
//   "Path"="C:\\Program Files\\Scribbix"
//   "Last"=dword:0000002a
//   @="default value"
//   "Blob"=hex:01,02,ff
//   "Expand"=hex(2):25,54,45,4d,50,25,00
//
// Pure functions on memory; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "reg_tree.h"

namespace sx::registry {

inline constexpr std::string_view kHeader = "REGEDIT4";
// Longest physical line we read; longer lines are reported and skipped.
inline constexpr std::size_t kMaxLineLength = 1 << 20;
// Longest value line after joining its "\" continuation lines.
inline constexpr std::size_t kMaxJoinedLineLength = 4 << 20;

// Called once per problem with the 1-based line number and what is wrong.
using ProblemReporter = std::function<void(int line, const std::string& problem)>;

struct ParseResult {
  Tree tree;
  int problems = 0;  // lines skipped, a missing header, ...: the file is damaged when non-zero
};

// Reads a registry file's text. Never fails: what parses is kept, every line that does not is
// reported and skipped. Later values of the same name replace earlier ones (keeping their place);
// sections of the same key merge.
ParseResult parse_registry_text(std::string_view text, const ProblemReporter& report);

// Writes the tree as REGEDIT4 text that parse_registry_text reads back unchanged: every key that is
// not a root gets a section (so empty keys persist), roots only when they hold values. Texts that a
// quoted string cannot carry (control characters, a missing or inner NUL) are written as hex(1).
std::string format_registry_text(const Tree& tree);

}  // namespace sx::registry
