// Fuzz target for the desktop state file reader: any bytes are read as a state file without
// crashing; a refusal names its reason, and what is read writes back to bytes that read again to
// the same notes. The unit tests call the same check over seeded random and cut inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!sx::conduit::check_state_file_bytes(data, size)) std::abort();
  return 0;
}
