// Fuzz target for version blocks: the first line of the input is a sub-block path asked of
// VerQueryValueA, the rest the block's text as a stamp or an ELF section carries it. Any text is
// read without crashing; a text that reads gives a binary block in which every value is found
// again, with its NUL, and every query stays inside the block.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "version_block.h"

namespace {

void check_inside(const std::vector<char>& block, void* value, UINT length) {
  const char* at = static_cast<const char*>(value);
  if (at < block.data() || length > block.size() || at + length > block.data() + block.size()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = input.find('\n');
  const std::string_view query = input.substr(0, end);
  const std::string_view text =
      end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

  DWORD ms = 0, ls = 0;
  sx::modules::parse_version_numbers(query, &ms, &ls);

  sx::modules::VersionData version;
  if (!sx::modules::parse_version_text(text, &version)) return 0;
  const std::vector<char> block = sx::modules::build_version_block(version);
  void* value = nullptr;
  UINT length = 0;
  DWORD error = 0;
  if (sx::modules::query_version_block(block.data(), query, &value, &length, &error)) {
    check_inside(block, value, length);
  }
  char table[9];
  std::snprintf(table, sizeof table, "%04X%04X", version.language, version.code_page);
  for (const auto& [name, text_value] : version.values) {
    const std::string path = "\\StringFileInfo\\" + std::string(table) + "\\" + name;
    if (!sx::modules::query_version_block(block.data(), path, &value, &length, &error)) {
      std::abort();
    }
    check_inside(block, value, length);
    // The first value of a name (names match ignoring case) ends with its NUL.
    if (length == 0 || static_cast<const char*>(value)[length - 1] != '\0') std::abort();
  }
  return 0;
}
