// Fuzz target for reading a named section out of a file that claims to be ELF (the version block
// of a program or library is found so): any file is read without crashing or reading outside it,
// and a section that is found fits in the file and in the size asked for.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../platform/win32/module/elf_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("elf", 0);
  if (fd < 0) std::abort();
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  constexpr std::size_t kMax = 4096;
  for (const char* name : {".sxversion", ".dynamic", ".dynstr", ""}) {
    const auto result = sx::modules::read_elf_section(fd, size, name, kMax);
    if (result.status == sx::modules::SectionStatus::kFound &&
        (result.content.size() > kMax || result.content.size() > size)) {
      std::abort();
    }
  }
  return 0;
}
