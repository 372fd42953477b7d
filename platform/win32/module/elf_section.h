// Reading one named section out of an ELF file without loading it. The file is untrusted: every
// offset and size is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sx::modules {

enum class SectionStatus {
  kFound,
  kNotElf,     // the file does not start with the ELF magic
  kNoSection,  // an ELF file without that section (or without section headers)
  kDamaged,    // an ELF file whose headers point outside it, or a section larger than allowed
  kReadError,  // the host could not read the file
};

struct SectionResult {
  SectionStatus status = SectionStatus::kNotElf;
  std::string content;  // the section's bytes when found
};

// Looks for section `name` in the ELF file open on `fd` (of `file_size` bytes). A section larger
// than `max_size` counts as damaged. Both ELF classes and byte orders are read.
SectionResult read_elf_section(int fd, std::uint64_t file_size, std::string_view name,
                               std::size_t max_size);

}  // namespace sx::modules
