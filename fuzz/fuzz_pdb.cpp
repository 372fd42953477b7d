// Fuzz target for the Palm database file reader of the handheld stand-in: any input is read without
// crashing, and whatever is read writes back to bytes that read again to the same database.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "sx/hotsync_pdb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::parse_pdb(std::span<const std::uint8_t>(data, size), &db, &why)) {
    if (why.empty()) std::abort();  // every refusal says why
    return 0;
  }
  if (!sx::hotsync::check_pdb_limits(db, &why))
    return 0;  // e.g. an empty name: readable, not writable
  const auto bytes = sx::hotsync::serialize_pdb(db);
  sx::hotsync::PdbDatabase again;
  if (!sx::hotsync::parse_pdb(bytes, &again, &why)) std::abort();
  if (again.records.size() != db.records.size() || again.name != db.name ||
      again.app_info != db.app_info || again.sort_info != db.sort_info) {
    std::abort();
  }
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    if (again.records[i].data != db.records[i].data ||
        again.records[i].attributes != db.records[i].attributes ||
        again.records[i].unique_id != db.records[i].unique_id) {
      std::abort();
    }
  }
  return 0;
}
