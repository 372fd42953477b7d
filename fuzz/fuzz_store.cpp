// Fuzz target for store files: any bytes are parsed as a store image; the parser must neither
// crash nor read outside the input. Built only with clang (libFuzzer).
#include <cstddef>
#include <cstdint>

#include "sx/outlook/store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sx::outlook::StoreModel model;
  (void)sx::outlook::parse_store_bytes(data, size, &model);
  // Walking what was kept exercises the model built from hostile records.
  if (const auto* root = model.root()) (void)model.snapshot().size(), (void)root->children.size();
  return 0;
}
