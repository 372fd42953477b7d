#include "sx/cli/terminal_text.h"

#include "sx/cli/program.h"
#include "win32/codepage.h"

namespace sx::cli {

std::string ansi_to_terminal(std::string_view ansi) { return sx::codepage::ansi_to_utf8(ansi); }

std::optional<std::string> terminal_to_ansi(std::string_view utf8) {
  if (utf8.empty() || GetACP() == CP_UTF8) return std::string(utf8);
  const int size = static_cast<int>(utf8.size());
  const int wide_length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (wide_length == 0) return std::string(utf8);  // not UTF-8: ANSI bytes already
  std::u16string wide(static_cast<std::size_t>(wide_length), u'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), wide_length);
  BOOL used_default = FALSE;
  const int ansi_length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, &used_default);
  if (used_default) return std::nullopt;
  std::string ansi(static_cast<std::size_t>(ansi_length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, ansi.data(), ansi_length, nullptr,
                      nullptr);
  return ansi;
}

std::string machine_text(const std::string& utf8, const std::string& what) {
  auto ansi = terminal_to_ansi(utf8);
  if (!ansi) {
    // The machine's code page is Windows-1252 or UTF-8, and UTF-8 holds every character.
    throw Failure("The " + what + " \"" + utf8 +
                  "\" has characters that the machine's code page cannot hold; use only "
                  "characters of Windows-1252 (the Latin alphabets of Western Europe).");
  }
  return *ansi;
}

}  // namespace sx::cli
