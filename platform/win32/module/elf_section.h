// Reading one named section out of an ELF file without loading it. The file is untrusted: every
// offset and size is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The libraries a shared library of this machine's ELF class and byte order needs (its DT_NEEDED
// entries), from the contents of its ".dynamic" and ".dynstr" sections. Entries past the table's
// end (DT_NULL) are not read; a name that does not lie wholly within `strings` is skipped, as is a
// table whose size is not a whole number of entries (nothing is read from it).
std::vector<std::string> needed_libraries(std::string_view dynamic, std::string_view strings);

}  // namespace sx::modules
