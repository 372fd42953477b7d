// Fuzz target for what another process puts in a connection's call slot: any bytes are split into
// frames (a 32-bit length and a body) only as far as they hold whole frames; every frame handed on
// lies inside the bytes, is not empty, and the frames with their lengths cover the bytes exactly
// when the split succeeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "call_slots.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sx::com::detail::CallSlots;
  std::size_t covered = 0;
  const bool framed = CallSlots::for_each_frame(
      data, size, [&](const std::uint8_t* body, std::size_t length) {
        if (length == 0 || body < data || body + length > data + size) std::abort();
        if (body != data + covered + 4) std::abort();  // in order, each after its length
        covered += 4 + length;
      });
  if (framed && covered != size) std::abort();
  if (!framed && covered >= size && size > 0) std::abort();
  return 0;
}
