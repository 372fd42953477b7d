// A Palm record database (.pdb) in memory, and its reading from and writing to bytes.
//
// parse_pdb() treats its input as untrusted: every offset and length is checked before use, and a
// damaged file gives `false` with a one-line reason, never a crash or a silent truncation. Resource
// databases (.prc) are refused. serialize_pdb() writes the layout other Palm tools expect (header,
// record list, two zero bytes, AppInfo, SortInfo, records back to back).
//
// Plain values; no locking. Thread-compatible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sx::hotsync {

struct PdbRecord {
  std::uint8_t attributes = 0;  // the file's attribute byte (see pdb_format.h)
  std::uint32_t unique_id = 0;  // 24 bits
  std::vector<std::uint8_t> data;
};

struct PdbDatabase {
  std::string name;  // at most 31 bytes
  std::uint16_t attributes = 0;
  std::uint16_t version = 0;
  std::uint32_t created = 0;  // Palm seconds (since 1904)
  std::uint32_t modified = 0;
  std::uint32_t backed_up = 0;
  std::uint32_t mod_number = 0;
  std::uint32_t type = 0;
  std::uint32_t creator = 0;
  std::uint32_t seed = 0;
  std::optional<std::vector<std::uint8_t>> app_info;
  std::optional<std::vector<std::uint8_t>> sort_info;
  std::vector<PdbRecord> records;

  // Index of the record with this unique ID, or -1.
  int find(std::uint32_t unique_id) const;
  // A fresh unique ID from the seed (never 0, never one in use); advances the seed.
  std::uint32_t take_unique_id();
};

// Reads a database from the bytes of a .pdb file. On failure returns false and says why.
[[nodiscard]] bool parse_pdb(std::span<const std::uint8_t> bytes, PdbDatabase* out,
                             std::string* why);

// The bytes of a .pdb file for `db`. The caller keeps names, sizes and counts within the format's
// limits (checked by check_pdb_limits).
std::vector<std::uint8_t> serialize_pdb(const PdbDatabase& db);

// False with a reason when `db` cannot be written as a .pdb file (name too long, too many records,
// a record above 64 KiB, a unique ID above 24 bits or twice).
[[nodiscard]] bool check_pdb_limits(const PdbDatabase& db, std::string* why);

}  // namespace sx::hotsync
