// The registry in memory: four root keys, each a tree of keys holding values.
//
// Names are Windows-1252 bytes, compared case-insensitively and stored as first written. Subkeys
// are kept sorted by their folded name (the enumeration order); values keep the order in which they
// were first written. Not thread-safe: the store (reg_store.h) guards a tree with its mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sx::registry {

// Longest key name component and value name, in characters, as on Windows.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
// Deepest key below a root, in levels, as on Windows.
inline constexpr std::size_t kMaxKeyDepth = 512;
// Largest value data we accept (keeps every line of the file within the parser's line limit).
inline constexpr std::size_t kMaxValueDataSize = 256 * 1024;

// Case folding used for every name comparison: Windows-1252 letters to upper case.
std::string fold(std::string_view name);

struct Value {
  std::string name;  // as first written; "" is the default value
  std::uint32_t type = 0;
  std::string data;  // raw bytes
};

class Key {
 public:
  explicit Key(std::string name) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  // Subkeys in enumeration order.
  const std::vector<std::shared_ptr<Key>>& children() const { return children_; }
  // The subkey called `folded_name` (already folded), or null.
  std::shared_ptr<Key> child(std::string_view folded_name) const;
  // The subkey called `name`, created when missing; `created` tells which.
  std::shared_ptr<Key> get_or_add_child(std::string_view name, bool* created = nullptr);
  // Detaches the subkey called `folded_name`. Returns it, or null when there is none.
  std::shared_ptr<Key> remove_child(std::string_view folded_name);

  // Detaches every subkey; returns them.
  std::vector<std::shared_ptr<Key>> take_children();

  // Values in the order first written.
  const std::vector<Value>& values() const { return values_; }
  // The value called `folded_name` (already folded), or null.
  const Value* value(std::string_view folded_name) const;
  // Sets a value; a new one goes last, an existing one keeps its place and its name's spelling.
  void set_value(std::string_view name, std::uint32_t type, std::string data);
  // Removes a value. Returns false when there was none.
  bool remove_value(std::string_view folded_name);
  // Removes every value.
  void clear_values();

  // A deleted key stays reachable from open handles, which then report ERROR_KEY_DELETED.
  bool deleted() const { return deleted_; }
  void mark_deleted() { deleted_ = true; }
  // Marks this key and every key below it deleted (without recursion: trees may be deep).
  void mark_tree_deleted();

 private:
  std::vector<std::shared_ptr<Key>>::const_iterator lower_bound(std::string_view folded) const;

  std::string name_;
  std::vector<std::shared_ptr<Key>> children_;  // sorted by fold(name)
  std::vector<std::string> child_folded_;       // fold(children_[i]->name()), same order
  std::vector<Value> values_;
  // Looks names up without making a std::string of the key.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>>
      value_index_;  // fold(name)
  bool deleted_ = false;
};

// The four roots, indexed by RootId.
enum class RootId : int { kClassesRoot = 0, kCurrentUser = 1, kLocalMachine = 2, kUsers = 3 };
inline constexpr int kRootCount = 4;

// Full name of a root ("HKEY_LOCAL_MACHINE").
const char* root_name(RootId root);
// The root of a full name or an abbreviation (HKLM, HKCU, HKCR, HKU), any case; false when unknown.
bool parse_root_name(std::string_view text, RootId* root);

struct Tree {
  Tree();
  std::shared_ptr<Key> roots[kRootCount];
  Key& root(RootId id) { return *roots[static_cast<int>(id)]; }
};

// Splits a key path ("Software\Vorlan Software\Scribbix") into its components. One trailing
// backslash is allowed. Returns false for a leading backslash, an empty component, a component
// longer than kMaxKeyNameLength or more than kMaxKeyDepth components. An empty path gives no
// components.
bool split_key_path(std::string_view path, std::vector<std::string_view>* parts);

}  // namespace sx::registry
