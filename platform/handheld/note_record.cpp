#include "sx/handheld/note_record.h"

#include <algorithm>
#include <cstdio>

#include "sx/calendar.h"

namespace sx::handheld {
namespace {

constexpr std::size_t kFixedBytes = 26;
constexpr int kFirstYear = 1904;

std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

PackedDate date_at(std::span<const std::uint8_t> b, std::size_t at) {
  return {static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]), b[at + 2], b[at + 3]};
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void put_date(std::vector<std::uint8_t>& out, const PackedDate& d) {
  out.push_back(static_cast<std::uint8_t>(d.word >> 8));
  out.push_back(static_cast<std::uint8_t>(d.word));
  out.push_back(d.hour);
  out.push_back(d.minute);
}

bool valid(const Minutes& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         static_cast<unsigned>(t.day) <=
             sx::calendar::days_in_month(t.year, static_cast<unsigned>(t.month)) &&
         t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59;
}

}  // namespace

std::optional<Minutes> PackedDate::minutes() const {
  if (empty()) return std::nullopt;
  Minutes t{kFirstYear + (word >> 9), (word >> 5) & 0x0F, word & 0x1F, hour, minute};
  if (!valid(t)) return std::nullopt;
  return t;
}

std::optional<PackedDate> PackedDate::of(const Minutes& t) {
  if (t.year <= kFirstYear || t.year > kFirstYear + 127 || !valid(t)) return std::nullopt;
  const auto word =
      static_cast<std::uint16_t>(((t.year - kFirstYear) << 9) | (t.month << 5) | t.day);
  return PackedDate{word, static_cast<std::uint8_t>(t.hour), static_cast<std::uint8_t>(t.minute)};
}

bool unpack_note(std::span<const std::uint8_t> bytes, NoteFields* out, std::string* why) {
  if (bytes.size() < kFixedBytes) {
    *why = "the record has " + std::to_string(bytes.size()) + " bytes, fewer than the " +
           std::to_string(kFixedBytes) + " of a note's fixed fields";
    return false;
  }
  NoteFields n;
  n.mod = be32(bytes, 0);
  n.id = static_cast<std::int32_t>(be32(bytes, 4));
  n.created = date_at(bytes, 8);
  n.modified = date_at(bytes, 12);
  n.date = date_at(bytes, 16);
  n.resv1 = be32(bytes, 20);
  n.resv2 = static_cast<std::uint16_t>((bytes[24] << 8) | bytes[25]);
  std::size_t at = kFixedBytes;
  for (std::string* text : {&n.text1, &n.contact, &n.text}) {
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    const auto end = std::find(begin, bytes.end(), 0);
    if (end == bytes.end()) {
      *why = "a text of the record has no end (no NUL byte before the record ends)";
      return false;
    }
    text->assign(begin, end);
    at = static_cast<std::size_t>(end - bytes.begin()) + 1;
  }
  n.tail.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  *out = std::move(n);
  return true;
}

std::vector<std::uint8_t> pack_note(const NoteFields& n) {
  std::vector<std::uint8_t> out;
  out.reserve(kFixedBytes + n.text1.size() + n.contact.size() + n.text.size() + 3 + n.tail.size());
  put32(out, n.mod);
  put32(out, static_cast<std::uint32_t>(n.id));
  put_date(out, n.created);
  put_date(out, n.modified);
  put_date(out, n.date);
  put32(out, n.resv1);
  out.push_back(static_cast<std::uint8_t>(n.resv2 >> 8));
  out.push_back(static_cast<std::uint8_t>(n.resv2));
  for (const std::string* text : {&n.text1, &n.contact, &n.text}) {
    out.insert(out.end(), text->begin(), text->end());
    out.push_back(0);
  }
  out.insert(out.end(), n.tail.begin(), n.tail.end());
  return out;
}

std::string minutes_text(const Minutes& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

std::optional<Minutes> parse_minutes(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  auto digits = [&](std::size_t at, std::size_t count, int* value) {
    if (at + count > text.size()) return false;
    *value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      *value = *value * 10 + (text[i] - '0');
    }
    return true;
  };
  Minutes t;
  if (!digits(0, 4, &t.year) || text.size() < 10 || text[4] != '-' || !digits(5, 2, &t.month) ||
      text[7] != '-' || !digits(8, 2, &t.day)) {
    return std::nullopt;
  }
  if (text.size() != 10) {
    std::size_t at = 10;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at == 10 || text.size() != at + 5 || !digits(at, 2, &t.hour) || text[at + 2] != ':' ||
        !digits(at + 3, 2, &t.minute)) {
      return std::nullopt;
    }
  }
  if (!valid(t)) return std::nullopt;
  return t;
}

}  // namespace sx::handheld
