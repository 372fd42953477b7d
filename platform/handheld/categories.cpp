#include "sx/handheld/categories.h"

#include <cstring>

#include "sx/ascii.h"

namespace sx::handheld {
namespace {

constexpr std::size_t kNamesAt = 2;
constexpr std::size_t kNameBytes = 16;
constexpr std::size_t kUniqueIdsAt = kNamesAt + kCategoryCount * kNameBytes;  // 258
constexpr std::size_t kLastUniqueIdAt = kUniqueIdsAt + kCategoryCount;        // 274
constexpr std::size_t kStandardBytes = kLastUniqueIdAt + 2;                   // 276
// Unique IDs the handheld gives its own new categories; the desktop's are above.
constexpr std::uint8_t kLastHandheldUniqueId = 127;

}  // namespace

Categories Categories::fresh() {
  Categories c;
  c.names[0] = "Unfiled";
  c.names[1] = "Business";
  c.names[2] = "Personal";
  c.unique_ids[1] = 1;
  c.unique_ids[2] = 2;
  c.last_unique_id = 2;
  return c;
}

std::optional<int> Categories::find(std::string_view name) const {
  for (int i = 0; i < kCategoryCount; ++i) {
    if (!names[static_cast<std::size_t>(i)].empty() &&
        sx::ascii::equal_ignoring_case(names[static_cast<std::size_t>(i)], name))
      return i;
  }
  return std::nullopt;
}

namespace {

bool usable_name(const Categories& c, const std::string& name, int except, std::string* why) {
  if (name.empty()) {
    *why = "A category needs a name.";
    return false;
  }
  if (name.size() > kMaxCategoryName) {
    *why = "A category name has at most 15 characters on the handheld.";
    return false;
  }
  const auto existing = c.find(name);
  if (existing && *existing != except) {
    *why = "There is a category of that name already.";
    return false;
  }
  return true;
}

bool editable(const Categories& c, int index, std::string* why) {
  if (index <= 0 || index >= kCategoryCount || c.names[static_cast<std::size_t>(index)].empty()) {
    *why = index == 0 ? "\"Unfiled\" cannot be renamed or deleted." : "There is no such category.";
    return false;
  }
  return true;
}

}  // namespace

std::optional<int> Categories::add(const std::string& name, std::string* why) {
  if (!usable_name(*this, name, -1, why)) return std::nullopt;
  for (int i = 1; i < kCategoryCount; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    if (!names[slot].empty()) continue;
    // A unique ID of the handheld's range that no category has.
    std::uint8_t id = last_unique_id;
    for (int tries = 0; tries <= kLastHandheldUniqueId; ++tries) {
      id = static_cast<std::uint8_t>(id >= kLastHandheldUniqueId ? 1 : id + 1);
      bool taken = false;
      for (int k = 0; k < kCategoryCount; ++k)
        taken = taken || (!names[static_cast<std::size_t>(k)].empty() &&
                          unique_ids[static_cast<std::size_t>(k)] == id);
      if (!taken) break;
    }
    names[slot] = name;
    unique_ids[slot] = id;
    last_unique_id = id;
    renamed = static_cast<std::uint16_t>(renamed | (1u << i));
    return i;
  }
  *why = "The handheld has 15 categories besides \"Unfiled\" already; delete one first.";
  return std::nullopt;
}

bool Categories::rename(int index, const std::string& name, std::string* why) {
  if (!editable(*this, index, why) || !usable_name(*this, name, index, why)) return false;
  names[static_cast<std::size_t>(index)] = name;
  renamed = static_cast<std::uint16_t>(renamed | (1u << index));
  return true;
}

bool Categories::remove(int index, std::string* why) {
  if (!editable(*this, index, why)) return false;
  names[static_cast<std::size_t>(index)].clear();
  unique_ids[static_cast<std::size_t>(index)] = 0;
  renamed = static_cast<std::uint16_t>(renamed | (1u << index));
  return true;
}

bool parse_categories(std::span<const std::uint8_t> block, Categories* out, std::string* why) {
  if (block.size() < kStandardBytes) {
    *why = "the category block has " + std::to_string(block.size()) +
           " bytes, fewer than the standard " + std::to_string(kStandardBytes);
    return false;
  }
  Categories c;
  c.renamed = static_cast<std::uint16_t>((block[0] << 8) | block[1]);
  for (std::size_t i = 0; i < kCategoryCount; ++i) {
    const char* name = reinterpret_cast<const char*>(block.data() + kNamesAt + i * kNameBytes);
    c.names[i].assign(name, strnlen(name, kNameBytes));
    c.unique_ids[i] = block[kUniqueIdsAt + i];
  }
  c.last_unique_id = block[kLastUniqueIdAt];
  c.rest.assign(block.begin() + kLastUniqueIdAt + 1, block.end());
  *out = std::move(c);
  return true;
}

std::vector<std::uint8_t> serialize_categories(const Categories& c) {
  std::vector<std::uint8_t> block(kLastUniqueIdAt + 1, 0);
  block[0] = static_cast<std::uint8_t>(c.renamed >> 8);
  block[1] = static_cast<std::uint8_t>(c.renamed);
  for (std::size_t i = 0; i < kCategoryCount; ++i) {
    std::memcpy(block.data() + kNamesAt + i * kNameBytes, c.names[i].data(),
                std::min(c.names[i].size(), kNameBytes));
    block[kUniqueIdsAt + i] = c.unique_ids[i];
  }
  block[kLastUniqueIdAt] = c.last_unique_id;
  block.insert(block.end(), c.rest.begin(), c.rest.end());
  if (block.size() < kCategoryBlockBytes) block.resize(kCategoryBlockBytes, 0);
  return block;
}

}  // namespace sx::handheld
