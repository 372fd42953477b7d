// Fuzz target for the conduit's unpacking of a handheld note record: any bytes are unpacked without
// crashing or reading past them, a refusal names its reason, and a record that unpacks packs back
// to bytes that unpack to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "note_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > sx::conduit::kRecordBufferSize) return 0;  // the sync manager never hands more
  // A copy of exactly `size` bytes, so that a read past them is caught.
  const std::vector<BYTE> bytes(data, data + size);
  sx::conduit::NoteRecord note;
  std::string why;
  if (!note.unpack(bytes.data(), bytes.size(), &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  std::vector<BYTE> packed(sx::conduit::kRecordBufferSize);
  const std::size_t packed_size = note.pack(packed.data(), packed.size());
  if (packed_size != note.packedSize() || packed_size == 0) std::abort();
  packed.resize(packed_size);
  sx::conduit::NoteRecord again;
  if (!again.unpack(packed.data(), packed.size(), &why)) std::abort();
  for (std::size_t i = 0; i < sx::conduit::NoteRecord::kFieldCount; ++i) {
    if (!note.field(i).equals(again.field(i))) std::abort();
  }
  note.settleAfterUnpack();
  (void)note.title();
  return 0;
}
