// The version block: its text (sx/version_stamp.h) parsed into values, and the binary form that
// GetFileVersionInfoA hands out and VerQueryValueA reads.
//
// Binary form (little-endian on this machine, every offset from the start of the block):
//   0   char[8]  "SXVBLK1\0"
//   8   DWORD    total size of the block
//   12  DWORD    translation: LOWORD language, HIWORD code page
//   16  DWORD    number of values n
//   20  DWORD    0
//   24  VS_FIXEDFILEINFO (52 bytes)
//   76  n x { DWORD name offset, DWORD value offset, DWORD value length with its NUL }
//   then the NUL-terminated names and values.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "win32/module.h"

namespace sx::modules {

struct VersionData {
  WORD language = 0x0409;
  WORD code_page = 0x04B0;
  bool is_program = true;
  std::vector<std::pair<std::string, std::string>> values;  // in the order of the text
};

// Parses the block's text; false when it breaks the format's rules.
bool parse_version_text(std::string_view text, VersionData* out);

// The binary block of `data`.
std::vector<char> build_version_block(const VersionData& data);

// The numbers of "a.b.c.d" (or "a, b, c, d"), missing ones 0, each at most 65535; as MS and LS.
void parse_version_numbers(std::string_view text, DWORD* ms, DWORD* ls);

// VerQueryValueA on a binary block; false with the Windows error in `error`.
bool query_version_block(const void* block, std::string_view sub_block, void** value, UINT* length,
                         DWORD* error);

}  // namespace sx::modules
