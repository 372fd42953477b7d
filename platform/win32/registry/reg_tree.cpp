#include "reg_tree.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sx::registry {
namespace {

// Upper case of every Windows-1252 byte: ASCII a-z, the accented letters 0xE0-0xFE (but not the
// division sign 0xF7), and the four letters outside that block (s/z with caron, oe, y diaeresis).
constexpr std::array<unsigned char, 256> make_upper_table() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<unsigned char>(c - 0x20);
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) table[c] = static_cast<unsigned char>(c - 0x20);
  }
  table[0x9A] = 0x8A;
  table[0x9C] = 0x8C;
  table[0x9E] = 0x8E;
  table[0xFF] = 0x9F;
  return table;
}
constexpr std::array<unsigned char, 256> kUpper = make_upper_table();

constexpr const char* kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
constexpr const char* kRootAbbreviations[kRootCount] = {"HKCR", "HKCU", "HKLM", "HKU"};

}  // namespace

std::string fold(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(kUpper[static_cast<unsigned char>(c)]);
  return out;
}

std::vector<std::shared_ptr<Key>>::const_iterator Key::lower_bound(std::string_view folded) const {
  auto it = std::lower_bound(child_folded_.begin(), child_folded_.end(), folded,
                             [](const std::string& a, std::string_view b) { return a < b; });
  return children_.begin() + (it - child_folded_.begin());
}

std::shared_ptr<Key> Key::child(std::string_view folded_name) const {
  auto it = lower_bound(folded_name);
  std::size_t i = it - children_.begin();
  if (i < child_folded_.size() && child_folded_[i] == folded_name) return *it;
  return nullptr;
}

std::shared_ptr<Key> Key::get_or_add_child(std::string_view name, bool* created) {
  std::string folded = fold(name);
  std::size_t i = lower_bound(folded) - children_.begin();
  if (i < child_folded_.size() && child_folded_[i] == folded) {
    if (created) *created = false;
    return children_[i];
  }
  auto key = std::make_shared<Key>(std::string(name));
  children_.insert(children_.begin() + i, key);
  child_folded_.insert(child_folded_.begin() + i, std::move(folded));
  if (created) *created = true;
  return key;
}

std::shared_ptr<Key> Key::remove_child(std::string_view folded_name) {
  std::size_t i = lower_bound(folded_name) - children_.begin();
  if (i >= child_folded_.size() || child_folded_[i] != folded_name) return nullptr;
  std::shared_ptr<Key> key = children_[i];
  children_.erase(children_.begin() + i);
  child_folded_.erase(child_folded_.begin() + i);
  return key;
}

std::vector<std::shared_ptr<Key>> Key::take_children() {
  child_folded_.clear();
  return std::exchange(children_, {});
}

void Key::mark_tree_deleted() {
  std::vector<Key*> pending = {this};
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    key->deleted_ = true;
    for (const auto& child : key->children_) pending.push_back(child.get());
  }
}

const Value* Key::value(std::string_view folded_name) const {
  auto it = value_index_.find(folded_name);
  return it == value_index_.end() ? nullptr : &values_[it->second];
}

void Key::set_value(std::string_view name, std::uint32_t type, std::string data) {
  std::string folded = fold(name);
  auto it = value_index_.find(folded);
  if (it != value_index_.end()) {
    Value& v = values_[it->second];
    v.type = type;
    v.data = std::move(data);
    return;
  }
  value_index_.emplace(std::move(folded), values_.size());
  values_.push_back(Value{std::string(name), type, std::move(data)});
}

bool Key::remove_value(std::string_view folded_name) {
  auto it = value_index_.find(folded_name);
  if (it == value_index_.end()) return false;
  std::size_t index = it->second;
  value_index_.erase(it);
  values_.erase(values_.begin() + index);
  for (auto& [name, i] : value_index_) {
    if (i > index) --i;
  }
  return true;
}

void Key::clear_values() {
  values_.clear();
  value_index_.clear();
}

const char* root_name(RootId root) { return kRootNames[static_cast<int>(root)]; }

bool parse_root_name(std::string_view text, RootId* root) {
  std::string folded = fold(text);
  for (int i = 0; i < kRootCount; ++i) {
    if (folded == kRootNames[i] || folded == kRootAbbreviations[i]) {
      *root = static_cast<RootId>(i);
      return true;
    }
  }
  return false;
}

Tree::Tree() {
  for (int i = 0; i < kRootCount; ++i) roots[i] = std::make_shared<Key>(kRootNames[i]);
}

bool split_key_path(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  if (path.empty()) return true;
  if (path.front() == '\\') return false;
  if (path.back() == '\\') path.remove_suffix(1);
  while (true) {
    std::size_t cut = path.find('\\');
    std::string_view part = path.substr(0, cut);
    if (part.empty() || part.size() > kMaxKeyNameLength || parts->size() == kMaxKeyDepth)
      return false;
    parts->push_back(part);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

}  // namespace sx::registry
