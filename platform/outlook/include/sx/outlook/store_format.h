// Constants of the store file format (the personal folders files of the Outlook stand-in).
// The format is described in docs/outlook-store-format.md; change both together.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sx::outlook::format {

// Every record starts with this magic, so that a reader can find the next record after damage.
inline constexpr std::uint8_t kRecordMagic[4] = {'S', 'X', 'R', 0x1A};
// magic (4) + masked CRC32C (4) + payload length (4) + record type (1)
inline constexpr std::size_t kHeaderSize = 13;
// A record's payload is never longer; a longer length field is damage.
inline constexpr std::uint32_t kMaxPayload = 16u << 20;

enum class RecordType : std::uint8_t {
  kFileHeader = 1,    // first record: file magic, format version, store id
  kFolderPut = 2,     // a folder's whole state (create or change)
  kFolderDelete = 3,  // a folder and everything under it are gone
  kItemPut = 4,       // an item's whole state (create, change or move)
  kItemDelete = 5,    // an item is gone
  kFileLength = 6,    // second record of format 2: the length of the file's written records
};

// The file header record's payload starts with these 8 bytes, then the version (u32) and the
// 16-byte store id.
inline constexpr char kFileMagic[8] = {'S', 'X', 'P', 'S', 'T', 'O', 'R', 'E'};
inline constexpr std::uint32_t kFormatVersion = 2;
// Files of format 1 have no file length record; they are still read and written.
inline constexpr std::uint32_t kFirstFormatVersion = 1;
inline constexpr std::size_t kStoreIdSize = 16;

// Format 2 keeps, right after the file header, a record of fixed size holding the length up to
// which the file's records were written in full. Every append rewrites it in place after the
// records are written, so that a file cut short anywhere (at a record boundary as well) is told
// from one that is whole.
inline constexpr std::size_t kFileHeaderRecordSize = kHeaderSize + 8 + 4 + kStoreIdSize;
inline constexpr std::size_t kFileLengthOffset = kFileHeaderRecordSize;
inline constexpr std::size_t kFileLengthRecordSize = kHeaderSize + 8;
inline constexpr std::size_t kFileLengthEnd = kFileLengthOffset + kFileLengthRecordSize;

// Limits a reader enforces on decoded payloads.
inline constexpr std::uint32_t kMaxTextBytes = 8u << 20;
inline constexpr std::uint32_t kMaxListEntries = 1u << 16;

// Value tags inside payloads.
enum class ValueTag : std::uint8_t {
  kEmpty = 0,
  kText = 1,
  kNumber = 2,
  kDate = 3,
  kBool = 4,
  kInt = 5
};

// The root folder of every store has this id; its parent is kNoFolder.
inline constexpr std::uint32_t kRootFolderId = 1;
inline constexpr std::uint32_t kNoFolder = 0;

// CRCs are stored masked, as LevelDB does, so that a CRC over data holding CRCs stays strong.
inline constexpr std::uint32_t kCrcMaskDelta = 0xa282ead8u;
inline std::uint32_t mask_crc(std::uint32_t crc) {
  return ((crc >> 15) | (crc << 17)) + kCrcMaskDelta;
}
inline std::uint32_t unmask_crc(std::uint32_t masked) {
  std::uint32_t rot = masked - kCrcMaskDelta;
  return (rot >> 17) | (rot << 15);
}

}  // namespace sx::outlook::format
