// What a store holds, as plain values: property values, items and folders, and the records that
// change them. Texts are UTF-8. No COM here; the object model wraps these.
//
// Values are plain data: copy freely, no thread rules beyond those of std::string.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "sx/outlook/store_format.h"

namespace sx::outlook {

// One property value. Dates are automation dates (days since 30 December 1899).
struct Value {
  using Tag = format::ValueTag;
  Tag tag = Tag::kEmpty;
  std::string text;   // kText
  double number = 0;  // kNumber, kDate, kBool (0 or 1), kInt

  static Value text_of(std::string t) { return Value{Tag::kText, std::move(t), 0}; }
  static Value number_of(double n) { return Value{Tag::kNumber, {}, n}; }
  static Value date_of(double d) { return Value{Tag::kDate, {}, d}; }
  static Value bool_of(bool b) { return Value{Tag::kBool, {}, b ? 1.0 : 0.0}; }
  static Value int_of(std::int32_t i) { return Value{Tag::kInt, {}, static_cast<double>(i)}; }
  bool empty() const { return tag == Tag::kEmpty; }
  friend bool operator==(const Value&, const Value&) = default;
};

// User property types as Outlook numbers them.
enum UserPropertyType : std::int32_t {
  kUserText = 1,
  kUserNumber = 3,
  kUserDateTime = 5,
  kUserYesNo = 6,
};

struct UserProp {
  std::string name;
  std::int32_t type = kUserText;
  Value value;
  friend bool operator==(const UserProp&, const UserProp&) = default;
};

// A link from an item to a contact: the contact's name and entry id (see entry_id_text).
struct LinkData {
  std::string name;
  std::string entry_id;
  friend bool operator==(const LinkData&, const LinkData&) = default;
};

// An item's whole state. Standard properties (Subject, Body, MessageClass, LastName, ...) are kept
// by name; names compare without regard to ASCII case.
struct ItemData {
  std::int32_t object_class = 45;  // Outlook's OlObjectClass: 43 mail, 40 contact, 45 post
  std::vector<std::pair<std::string, Value>> props;
  std::vector<UserProp> user_props;
  std::vector<LinkData> links;

  const Value* find(std::string_view name) const;
  void set(std::string_view name, Value value);
  // The standard property, else the user property of that name; null when neither exists.
  const Value* find_any(std::string_view name) const;
  const UserProp* find_user(std::string_view name) const;
  UserProp* find_user(std::string_view name);
  std::string text(std::string_view name) const;  // "" when absent or not text
  friend bool operator==(const ItemData&, const ItemData&) = default;
};

// OlItemType: the kinds of item a folder holds by default and CreateItem makes.
enum ItemType : std::int32_t { kMailItemType = 0, kContactItemType = 2, kPostItemType = 6 };

// The special role of a folder in its store (for GetDefaultFolder).
enum class FolderRole : std::uint8_t { kNone = 0, kContacts = 1, kInbox = 2 };

struct FolderRecord {
  std::uint32_t id = 0;
  std::uint32_t parent = format::kNoFolder;
  std::string name;
  std::int32_t default_item_type = kMailItemType;
  std::string default_message_class = "IPM.Note";
  FolderRole role = FolderRole::kNone;
  friend bool operator==(const FolderRecord&, const FolderRecord&) = default;
};

using StoreId = std::array<std::uint8_t, format::kStoreIdSize>;

struct FileHeaderRecord {
  std::uint32_t version = format::kFormatVersion;
  StoreId store_id{};
};
// Format 2: the length of the file up to which its records were written in full.
struct FileLengthRecord {
  std::uint64_t length = 0;
};
struct FolderDeleteRecord {
  std::uint32_t id = 0;
};
struct ItemPutRecord {
  std::uint64_t id = 0;
  std::uint32_t folder = 0;
  ItemData data;
};
struct ItemDeleteRecord {
  std::uint64_t id = 0;
};

using Record = std::variant<FileHeaderRecord, FolderRecord, FolderDeleteRecord, ItemPutRecord,
                            ItemDeleteRecord, FileLengthRecord>;

// Case-insensitive (ASCII) equality and folding, as Outlook compares property names.
bool equal_ignoring_case(std::string_view a, std::string_view b);
std::string fold_case(std::string_view text);

// The entry id text of item `id` in store `store`: 32 hex digits of the store id, 16 of the item
// id.
std::string entry_id_text(const StoreId& store, std::uint64_t id);
// Splits an entry id text; nothing when it is malformed.
std::optional<std::pair<StoreId, std::uint64_t>> parse_entry_id(std::string_view text);

}  // namespace sx::outlook
