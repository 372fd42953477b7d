#include "sx/outlook/store_data.h"

#include <cstdio>

namespace sx::outlook {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string fold_case(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

const Value* ItemData::find(std::string_view name) const {
  for (const auto& [n, v] : props)
    if (equal_ignoring_case(n, name)) return &v;
  return nullptr;
}

void ItemData::set(std::string_view name, Value value) {
  for (auto& [n, v] : props) {
    if (equal_ignoring_case(n, name)) {
      v = std::move(value);
      return;
    }
  }
  props.emplace_back(std::string(name), std::move(value));
}

const UserProp* ItemData::find_user(std::string_view name) const {
  for (const auto& p : user_props)
    if (equal_ignoring_case(p.name, name)) return &p;
  return nullptr;
}

UserProp* ItemData::find_user(std::string_view name) {
  for (auto& p : user_props)
    if (equal_ignoring_case(p.name, name)) return &p;
  return nullptr;
}

const Value* ItemData::find_any(std::string_view name) const {
  if (const Value* v = find(name)) return v;
  if (const UserProp* p = find_user(name)) return &p->value;
  return nullptr;
}

std::string ItemData::text(std::string_view name) const {
  const Value* v = find(name);
  return (v != nullptr && v->tag == Value::Tag::kText) ? v->text : std::string();
}

std::string entry_id_text(const StoreId& store, std::uint64_t id) {
  std::string out;
  char buf[3];
  for (std::uint8_t b : store) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
  }
  char idbuf[17];
  std::snprintf(idbuf, sizeof idbuf, "%016llX", static_cast<unsigned long long>(id));
  return out + idbuf;
}

std::optional<std::pair<StoreId, std::uint64_t>> parse_entry_id(std::string_view text) {
  if (text.size() != 48) return std::nullopt;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  StoreId store{};
  for (std::size_t i = 0; i < store.size(); ++i) {
    int hi = hex(text[2 * i]), lo = hex(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    store[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  std::uint64_t id = 0;
  for (std::size_t i = 32; i < 48; ++i) {
    int d = hex(text[i]);
    if (d < 0) return std::nullopt;
    id = id * 16 + static_cast<std::uint64_t>(d);
  }
  return std::make_pair(store, id);
}

}  // namespace sx::outlook
