// One note of the notes application's database "ScribbixDB", as the handheld keeps it in a record.
//
// Layout (big-endian, no gaps): Mod@0 (4), ID@4 (4), Created@8, Modified@12, Date@16 (4 each: a
// date word with bits 15-9 years since 1904, 8-5 month, 4-0 day, then an hour byte and a minute
// byte; year bits 0 mean no date), Resv1@20 (4), Resv2@24 (2), then three NUL-terminated texts from
// offset 26: the first text, the contact and the note text. Texts are in the handheld's code page
// with LF line ends. Mod holds a bit per field changed on the handheld since the last HotSync.
//
// unpack_note() treats its bytes as untrusted: a record too short for the fixed fields or a text
// without its NUL is refused with a reason. Plain values; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sx::handheld {

// The largest record the conduit can read (its record buffer).
inline constexpr std::size_t kMaxRecordBytes = 0x8400;

// The Mod bits of the fields a person changes.
inline constexpr std::uint32_t kModCreated = 1u << 2;
inline constexpr std::uint32_t kModModified = 1u << 3;
inline constexpr std::uint32_t kModDate = 1u << 4;
inline constexpr std::uint32_t kModResv1 = 1u << 5;
inline constexpr std::uint32_t kModResv2 = 1u << 6;
inline constexpr std::uint32_t kModText1 = 1u << 7;
inline constexpr std::uint32_t kModContact = 1u << 8;
inline constexpr std::uint32_t kModText = 1u << 9;
inline constexpr std::uint32_t kModPrivate = 1u << 30;
inline constexpr std::uint32_t kModCategory = 1u << 31;

// A calendar time at minute resolution.
struct Minutes {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  friend bool operator==(const Minutes&, const Minutes&) = default;
};

// A date field as stored: kept byte for byte, so that a note's fields nobody changed are written
// back as they were read.
struct PackedDate {
  std::uint16_t word = 0;
  std::uint8_t hour = 0, minute = 0;
  // No date: a word whose year bits are 0.
  bool empty() const { return (word >> 9) == 0; }
  // The time it holds; nothing for no date or a word that is not a calendar day.
  std::optional<Minutes> minutes() const;
  // The packed form of `t`; nothing for years outside 1905-2031, a day that does not exist, an hour
  // above 23 or a minute above 59.
  static std::optional<PackedDate> of(const Minutes& t);
  friend bool operator==(const PackedDate&, const PackedDate&) = default;
};

struct NoteFields {
  std::uint32_t mod = 0;
  std::int32_t id = 0;  // 0 until the first HotSync gives the note its ID
  PackedDate created, modified, date;
  std::uint32_t resv1 = 0;
  std::uint16_t resv2 = 0;
  std::string text1, contact, text;  // handheld code page, LF line ends
  std::vector<std::uint8_t> tail;    // bytes after the third text, kept as they were
  friend bool operator==(const NoteFields&, const NoteFields&) = default;
};

[[nodiscard]] bool unpack_note(std::span<const std::uint8_t> bytes, NoteFields* out,
                               std::string* why);
std::vector<std::uint8_t> pack_note(const NoteFields& note);

// "YYYY-MM-DD HH:MM".
std::string minutes_text(const Minutes& t);
// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" (blanks around it allowed); nothing for anything else or a day
// that does not exist.
std::optional<Minutes> parse_minutes(std::string_view text);

}  // namespace sx::handheld
