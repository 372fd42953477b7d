#include "elf_section.h"

#include <link.h>
#include <unistd.h>

#include <cstring>

namespace sx::modules {
namespace {

constexpr unsigned char kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr std::uint32_t kStringTable = 3;         // SHT_STRTAB
constexpr std::uint32_t kNoBits = 8;              // SHT_NOBITS: occupies no file space
constexpr std::uint64_t kExtendedIndex = 0xFFFF;  // SHN_XINDEX
constexpr std::uint64_t kMaxSections = 1u << 20;

// Decodes the fields of one ELF class and byte order from raw bytes.
struct Decoder {
  bool big_endian = false;
  std::uint64_t get(const unsigned char* p, int bytes) const {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const int shift = big_endian ? (bytes - 1 - i) * 8 : i * 8;
      v |= static_cast<std::uint64_t>(p[i]) << shift;
    }
    return v;
  }
};

// Field offsets and sizes of the two ELF classes.
struct Layout {
  std::uint64_t header_size;
  int shoff_at, shoff_size, shentsize_at, shnum_at, shstrndx_at;
  std::uint64_t section_header_size;
  int name_at, type_at, offset_at, size_at, link_at, word;  // `word`: size of offset/size fields
};
constexpr Layout kElf32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24, 4};
constexpr Layout kElf64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40, 8};

bool read_exact(int fd, void* out, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// [offset, offset + size) lies within the file (no overflow).
bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t file_size) {
  return offset <= file_size && size <= file_size - offset;
}

struct SectionHeader {
  std::uint64_t name, type, offset, size, link;
};

}  // namespace

SectionResult read_elf_section(int fd, std::uint64_t file_size, std::string_view name,
                               std::size_t max_size) {
  SectionResult result;
  unsigned char header[64] = {};
  if (file_size < 16) return result;  // kNotElf
  if (!read_exact(fd, header, 16, 0)) {
    result.status = SectionStatus::kReadError;
    return result;
  }
  if (std::memcmp(header, kElfMagic, 4) != 0) return result;
  result.status = SectionStatus::kDamaged;
  const Layout* layout = header[4] == 1 ? &kElf32 : header[4] == 2 ? &kElf64 : nullptr;
  if (layout == nullptr || (header[5] != 1 && header[5] != 2)) return result;
  Decoder d{header[5] == 2};
  if (file_size < layout->header_size || !read_exact(fd, header, layout->header_size, 0)) {
    return result;
  }
  const std::uint64_t shoff = d.get(header + layout->shoff_at, layout->shoff_size);
  const std::uint64_t shentsize = d.get(header + layout->shentsize_at, 2);
  std::uint64_t shnum = d.get(header + layout->shnum_at, 2);
  std::uint64_t shstrndx = d.get(header + layout->shstrndx_at, 2);
  if (shoff == 0) {
    result.status = SectionStatus::kNoSection;
    return result;
  }
  if (shentsize < layout->section_header_size || shentsize > 4096) return result;

  auto read_section = [&](std::uint64_t index, SectionHeader* out) {
    const std::uint64_t at = shoff + index * shentsize;  // index < shnum, checked to fit below
    unsigned char raw[64];
    if (!read_exact(fd, raw, layout->section_header_size, at)) return false;
    out->name = d.get(raw + layout->name_at, 4);
    out->type = d.get(raw + layout->type_at, 4);
    out->offset = d.get(raw + layout->offset_at, layout->word);
    out->size = d.get(raw + layout->size_at, layout->word);
    out->link = d.get(raw + layout->link_at, 4);
    return true;
  };

  if (!within(shoff, shentsize, file_size)) return result;
  if (shnum == 0 || shstrndx == kExtendedIndex) {
    // Many sections: the real count and string table index live in section 0.
    SectionHeader first;
    if (!read_section(0, &first)) return result;
    if (shnum == 0) shnum = first.size;
    if (shstrndx == kExtendedIndex) shstrndx = first.link;
  }
  if (shnum == 0 || shnum > kMaxSections || shnum > (file_size - shoff) / shentsize) return result;
  if (shstrndx >= shnum) return result;

  SectionHeader strings;
  if (!read_section(shstrndx, &strings) || strings.type != kStringTable ||
      !within(strings.offset, strings.size, file_size)) {
    return result;
  }
  std::string candidate(name.size() + 1, '\0');
  for (std::uint64_t i = 0; i < shnum; ++i) {
    SectionHeader section;
    if (!read_section(i, &section)) return result;
    if (section.name >= strings.size || strings.size - section.name < name.size() + 1) continue;
    if (!read_exact(fd, candidate.data(), candidate.size(), strings.offset + section.name)) {
      return result;
    }
    if (std::string_view(candidate.data(), name.size()) != name || candidate.back() != '\0') {
      continue;
    }
    if (section.type == kNoBits) return result;
    if (!within(section.offset, section.size, file_size) || section.size > max_size) return result;
    result.content.resize(static_cast<std::size_t>(section.size));
    if (!read_exact(fd, result.content.data(), result.content.size(), section.offset)) {
      result.content.clear();
      return result;
    }
    result.status = SectionStatus::kFound;
    return result;
  }
  result.status = SectionStatus::kNoSection;
  return result;
}

std::vector<std::string> needed_libraries(std::string_view dynamic, std::string_view strings) {
  std::vector<std::string> needed;
  if (dynamic.size() % sizeof(ElfW(Dyn)) != 0) return needed;
  for (std::size_t at = 0; at < dynamic.size(); at += sizeof(ElfW(Dyn))) {
    ElfW(Dyn) entry;
    std::memcpy(&entry, dynamic.data() + at, sizeof entry);  // the section need not be aligned
    if (entry.d_tag == DT_NULL) break;
    if (entry.d_tag != DT_NEEDED || entry.d_un.d_val >= strings.size()) continue;
    const std::string_view rest = strings.substr(entry.d_un.d_val);
    const std::size_t end = rest.find('\0');
    if (end == std::string_view::npos || end == 0) continue;
    needed.emplace_back(rest.substr(0, end));
  }
  return needed;
}

}  // namespace sx::modules
