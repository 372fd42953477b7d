#include "version_block.h"
#include "sx/ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "sx/version_stamp.h"

namespace sx::modules {
namespace {

constexpr char kBlockMagic[8] = {'S', 'X', 'V', 'B', 'L', 'K', '1', '\0'};
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kFixedAt = kHeaderSize;
constexpr std::size_t kEntriesAt = kFixedAt + sizeof(VS_FIXEDFILEINFO);
constexpr std::size_t kEntrySize = 12;
static_assert(kEntriesAt % 4 == 0, "entries stay DWORD-aligned");

bool valid_name(std::string_view name) {
  if (name.empty() || name.size() > sx::version::kMaxNameBytes) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool parse_hex(std::string_view text, std::uint32_t* out) {
  if (text.size() != 8) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                  : -1;
    if (digit < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(digit);
  }
  *out = v;
  return true;
}

DWORD read_dword(const char* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

void put_dword(std::vector<char>& block, std::size_t at, DWORD v) {
  std::memcpy(block.data() + at, &v, sizeof(v));
}

}  // namespace

bool parse_version_text(std::string_view text, VersionData* out) {
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    text = text.substr(0, nul);
  }
  if (text.size() > sx::version::kMaxTextBytes) return false;
  VersionData data;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line != sx::version::kMagicLine) return false;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (value.size() > sx::version::kMaxValueBytes) return false;
    if (name == "@Translation") {
      std::uint32_t v;
      if (!parse_hex(value, &v)) return false;
      data.language = static_cast<WORD>(v >> 16);
      data.code_page = static_cast<WORD>(v & 0xFFFF);
    } else if (name == "@FileType") {
      if (value != "APP" && value != "DLL") return false;
      data.is_program = value == "APP";
    } else {
      if (!valid_name(name) || data.values.size() >= sx::version::kMaxValues) return false;
      data.values.emplace_back(std::string(name), std::string(value));
    }
  }
  if (first) return false;  // no magic line
  *out = std::move(data);
  return true;
}

void parse_version_numbers(std::string_view text, DWORD* ms, DWORD* ls) {
  DWORD parts[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) break;
    std::uint32_t v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      v = std::min<std::uint32_t>(v * 10 + static_cast<std::uint32_t>(text[i] - '0'), 65535);
      ++i;
    }
    parts[part] = v;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || (text[i] != '.' && text[i] != ',')) break;
    ++i;
  }
  *ms = (parts[0] << 16) | parts[1];
  *ls = (parts[2] << 16) | parts[3];
}

std::vector<char> build_version_block(const VersionData& data) {
  std::size_t size = kEntriesAt + data.values.size() * kEntrySize;
  for (const auto& [name, value] : data.values) size += name.size() + 1 + value.size() + 1;
  size = (size + 3) & ~static_cast<std::size_t>(3);
  std::vector<char> block(size, '\0');
  std::memcpy(block.data(), kBlockMagic, sizeof(kBlockMagic));
  put_dword(block, 8, static_cast<DWORD>(size));
  put_dword(block, 12,
            static_cast<DWORD>(data.language) | (static_cast<DWORD>(data.code_page) << 16));
  put_dword(block, 16, static_cast<DWORD>(data.values.size()));

  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = VS_FFI_SIGNATURE;
  fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
  fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
  fixed.dwFileOS = VOS_NT_WINDOWS32;
  fixed.dwFileType = data.is_program ? VFT_APP : VFT_DLL;
  for (const auto& [name, value] : data.values) {
    if (sx::ascii::equal_ignoring_case(name, "FileVersion")) {
      parse_version_numbers(value, &fixed.dwFileVersionMS, &fixed.dwFileVersionLS);
    } else if (sx::ascii::equal_ignoring_case(name, "ProductVersion")) {
      parse_version_numbers(value, &fixed.dwProductVersionMS, &fixed.dwProductVersionLS);
    }
  }
  std::memcpy(block.data() + kFixedAt, &fixed, sizeof(fixed));

  std::size_t text_at = kEntriesAt + data.values.size() * kEntrySize;
  std::size_t entry_at = kEntriesAt;
  for (const auto& [name, value] : data.values) {
    put_dword(block, entry_at, static_cast<DWORD>(text_at));
    std::memcpy(block.data() + text_at, name.c_str(), name.size() + 1);
    text_at += name.size() + 1;
    put_dword(block, entry_at + 4, static_cast<DWORD>(text_at));
    put_dword(block, entry_at + 8, static_cast<DWORD>(value.size() + 1));
    std::memcpy(block.data() + text_at, value.c_str(), value.size() + 1);
    text_at += value.size() + 1;
    entry_at += kEntrySize;
  }
  return block;
}

bool query_version_block(const void* block_ptr, std::string_view sub_block, void** value,
                         UINT* length, DWORD* error) {
  const char* block = static_cast<const char*>(block_ptr);
  if (block == nullptr || std::memcmp(block, kBlockMagic, sizeof(kBlockMagic)) != 0) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const DWORD total = read_dword(block + 8);
  const DWORD count = read_dword(block + 16);
  if (total < kEntriesAt || count > (total - kEntriesAt) / kEntrySize) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  *error = ERROR_RESOURCE_TYPE_NOT_FOUND;

  // Split "\A\B\C" into its parts; leading and doubled backslashes do not count.
  std::vector<std::string_view> parts;
  for (std::size_t i = 0; i < sub_block.size();) {
    const std::size_t end = std::min(sub_block.find('\\', i), sub_block.size());
    if (end > i) parts.push_back(sub_block.substr(i, end - i));
    i = end + 1;
  }
  if (parts.empty()) {
    *value = const_cast<char*>(block + kFixedAt);
    *length = sizeof(VS_FIXEDFILEINFO);
    return true;
  }
  if (parts.size() == 2 && sx::ascii::equal_ignoring_case(parts[0], "VarFileInfo") &&
      sx::ascii::equal_ignoring_case(parts[1], "Translation")) {
    *value = const_cast<char*>(block + 12);
    *length = 4;
    return true;
  }
  if (parts.size() != 3 || !sx::ascii::equal_ignoring_case(parts[0], "StringFileInfo"))
    return false;
  const DWORD translation = read_dword(block + 12);
  char table[9];
  std::snprintf(table, sizeof(table), "%04X%04X", translation & 0xFFFF, translation >> 16);
  if (!sx::ascii::equal_ignoring_case(parts[1], table)) return false;
  for (DWORD i = 0; i < count; ++i) {
    const char* entry = block + kEntriesAt + i * kEntrySize;
    const DWORD name_at = read_dword(entry);
    const DWORD value_at = read_dword(entry + 4);
    const DWORD value_length = read_dword(entry + 8);
    if (name_at >= total || value_at >= total || value_length > total - value_at) return false;
    const char* name = block + name_at;
    const std::size_t name_length = strnlen(name, total - name_at);
    if (sx::ascii::equal_ignoring_case(std::string_view(name, name_length), parts[2])) {
      *value = const_cast<char*>(block + value_at);
      *length = value_length;
      return true;
    }
  }
  return false;
}

}  // namespace sx::modules
