// On-disk constants of Palm database files (.pdb), as the emulated handheld keeps them.
// The format page is docs/hotsync.md ("Palm database files"). All integers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sx::hotsync::pdb {

inline constexpr std::size_t kHeaderSize = 78;      // 72-byte database header + record list header
inline constexpr std::size_t kRecordEntrySize = 8;  // offset (4), attributes (1), unique ID (3)
inline constexpr std::size_t kNameSize = 32;        // NUL-padded, at most 31 characters
inline constexpr std::size_t kGapAfterEntries = 2;  // two zero bytes Palm tools write
inline constexpr std::size_t kMaxRecords = 0xFFFF;  // the record count is 16 bits
inline constexpr std::size_t kMaxRecordBytes = 0xFFFF;
inline constexpr std::uint32_t kMaxUniqueId = 0xFFFFFF;

// Header field offsets.
inline constexpr std::size_t kOffName = 0x00;
inline constexpr std::size_t kOffAttributes = 0x20;
inline constexpr std::size_t kOffVersion = 0x22;
inline constexpr std::size_t kOffCreated = 0x24;
inline constexpr std::size_t kOffModified = 0x28;
inline constexpr std::size_t kOffBackedUp = 0x2C;
inline constexpr std::size_t kOffModNumber = 0x30;
inline constexpr std::size_t kOffAppInfo = 0x34;
inline constexpr std::size_t kOffSortInfo = 0x38;
inline constexpr std::size_t kOffType = 0x3C;
inline constexpr std::size_t kOffCreator = 0x40;
inline constexpr std::size_t kOffSeed = 0x44;
inline constexpr std::size_t kOffNextList = 0x48;
inline constexpr std::size_t kOffRecordCount = 0x4C;

// Database attributes.
inline constexpr std::uint16_t kDbResource = 0x0001;
inline constexpr std::uint16_t kDbBackup = 0x0008;

// Record attribute byte in the file.
inline constexpr std::uint8_t kRecDelete = 0x80;
inline constexpr std::uint8_t kRecDirty = 0x40;
inline constexpr std::uint8_t kRecBusy = 0x20;
inline constexpr std::uint8_t kRecSecret = 0x10;
inline constexpr std::uint8_t kRecArchive = 0x08;  // only meaningful with kRecDelete
inline constexpr std::uint8_t kRecCategoryMask = 0x0F;

// Seconds between 1904-01-01 (Palm dates) and 1970-01-01 (Unix time).
inline constexpr std::int64_t kPalmEpochOffset = 2082844800;

}  // namespace sx::hotsync::pdb
