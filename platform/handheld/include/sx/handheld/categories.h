// The category block of "ScribbixDB" (its AppInfo block): which categories were renamed since the
// last HotSync (bit i of a big-endian 16-bit word), sixteen names of 16 bytes, a unique ID per
// category, the last unique ID given, and the application's own bytes up to 296 bytes in all.
// Category 0 is "Unfiled". A name of the category block holds at most 15 characters of the
// handheld's code page, so that a NUL always ends it; names compare without regard to ASCII case,
// as the conduit compares them.
//
// parse_categories() treats the block as untrusted (a block shorter than the standard 276 bytes is
// refused). Plain values; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sx::handheld {

inline constexpr int kCategoryCount = 16;
inline constexpr std::size_t kMaxCategoryName = 15;
inline constexpr std::size_t kCategoryBlockBytes = 296;  // what the conduit reads and writes

struct Categories {
  std::uint16_t renamed = 0;
  std::array<std::string, kCategoryCount> names;
  std::array<std::uint8_t, kCategoryCount> unique_ids{};
  std::uint8_t last_unique_id = 0;
  // From byte 275 on (the pad byte and the application's bytes); zeros up to 296 bytes when
  // shorter.
  std::vector<std::uint8_t> rest;

  // The block a freshly installed notes application makes: "Unfiled", "Business", "Personal".
  static Categories fresh();
  // The index of the category of this name (any letter case); nothing when there is none.
  std::optional<int> find(std::string_view name) const;

  // What a person does in the application's category editor. Each refuses with a reason for the
  // person (an empty name or one of more than 15 characters, a name in use, no free slot, "Unfiled"
  // renamed or deleted, no such category) and then changes nothing.
  [[nodiscard]] std::optional<int> add(const std::string& name, std::string* why);
  [[nodiscard]] bool rename(int index, const std::string& name, std::string* why);
  // Empties the slot; the notes of the category are the caller's to move to Unfiled.
  [[nodiscard]] bool remove(int index, std::string* why);

  friend bool operator==(const Categories&, const Categories&) = default;
};

[[nodiscard]] bool parse_categories(std::span<const std::uint8_t> block, Categories* out,
                                    std::string* why);
std::vector<std::uint8_t> serialize_categories(const Categories& categories);

}  // namespace sx::handheld
