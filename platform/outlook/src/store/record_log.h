// The record log under a store file: framing (magic, checksum, length, type) and the payload codec.
// Layout in docs/outlook-store-format.md. Pure functions over bytes; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sx/outlook/store_data.h"

namespace sx::outlook {

// A whole framed record (header + payload) for `record`.
std::string encode_record(const Record& record);

// A whole file of `records`: when the second is a file length record, it records the file's length.
std::string encode_file(const std::vector<Record>& records);

// Decodes one payload of type `type`. False with a reason when the payload is malformed (every
// length is checked against what is left; texts and lists have limits; trailing bytes are damage).
[[nodiscard]] bool decode_payload(format::RecordType type, const std::uint8_t* data,
                                  std::size_t size, Record* out, std::string* why);

// A stretch of the log that could not be read.
struct Damage {
  std::uint64_t offset = 0;  // where the unreadable bytes start
  std::uint64_t length = 0;  // how many bytes were skipped
  std::string reason;
};

struct ScanResult {
  // Where reading stopped: the end of the data, or the start of a torn tail. The next read resumes
  // here; a writer truncates a torn tail and appends here.
  std::uint64_t end = 0;
  bool torn_tail = false;      // the data ended inside a record (a write that did not finish)
  std::vector<Damage> damage;  // unreadable stretches followed by readable records, or at the end
};

// The format version in the file header at the start of `data`; 0 when no good header is there.
std::uint32_t header_version(const std::uint8_t* data, std::size_t size);

// The length a format 2 file records for itself: `data` holds the bytes at kFileLengthOffset.
// Nothing when no good file length record is there.
std::optional<std::uint64_t> recorded_file_length(const std::uint8_t* data, std::size_t size);

// How far a file of `size` bytes is read, from what it records of its length.
struct FileExtent {
  std::uint64_t limit = 0;       // records are read up to here
  bool unfinished_tail = false;  // bytes past the recorded length: a write that did not finish
  std::uint64_t missing = 0;     // bytes the file recorded but no longer has: its end is lost
};
// Format 1 files and files whose length record is unreadable are read to their end.
FileExtent file_extent(std::uint32_t version, std::optional<std::uint64_t> recorded,
                       std::uint64_t size);

// Walks the records of `data[start, size)`, calling `on_record(offset, record)` for each whole,
// checksummed and decodable record in order. After damage it searches forward for the next valid
// record and goes on. Never reads outside the buffer.
ScanResult scan_records(const std::uint8_t* data, std::size_t size, std::size_t start,
                        const std::function<void(std::uint64_t, Record&&)>& on_record);

}  // namespace sx::outlook
