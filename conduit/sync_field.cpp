#include "sync_field.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "com/vardate.h"
#include "resources.h"

namespace sx::conduit {

std::string SyncField::displayName() const {
  if (name_id_ == kCategoryNameId) return "Category";
  if (name_id_ == kPrivateNameId) return "Private";
  auto text = load_string(name_id_);
  if (!text) return {};
  const auto semicolon = text->find(';');
  return semicolon == std::string::npos ? std::string() : text->substr(semicolon + 1);
}

// --- IntField
// -------------------------------------------------------------------------------------

std::string IntField::logText() const {
  char text[32];
  if (hex_) {
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(value_)));
  } else {
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(value_));
  }
  return text;
}

void IntField::print(std::string* out) const {
  out->append(std::to_string(static_cast<std::uint32_t>(value_)));
}

std::size_t IntField::pack(BYTE* buffer, std::size_t room) const {
  const auto width = static_cast<std::size_t>(width_);
  if (room < width) return 0;
  const auto v = static_cast<std::uint32_t>(value_);
  for (std::size_t i = 0; i < width; ++i) {
    buffer[i] = static_cast<BYTE>(v >> (8 * (width - 1 - i)));
  }
  return width;
}

bool IntField::equals(const SyncField& other) const {
  return other.kind() == Kind::kInteger && static_cast<const IntField&>(other).value_ == value_;
}

std::size_t IntField::unpack(const BYTE* data, std::size_t available) {
  const auto width = static_cast<std::size_t>(width_);
  if (available < width) return 0;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | data[i];
  value_ = static_cast<std::int32_t>(v);
  return width;
}

void IntField::setWidth(int width) {
  if (width == 1 || width == 2 || width == 4) width_ = static_cast<std::uint8_t>(width);
}

void IntField::assign(const SyncField& other) {
  if (other.kind() == Kind::kInteger) set(static_cast<const IntField&>(other).value_);
}

std::string BoolField::logText() const { return value_ != 0 ? "TRUE" : "FALSE"; }
void BoolField::print(std::string* out) const { out->append(logText()); }

// --- DateField
// ------------------------------------------------------------------------------------

void DateField::packed(BYTE out[4]) const {
  std::memset(out, 0, 4);
  if (value_ == 0) return;
  const auto t = sx::com::minutes_from_date(value_);
  if (!t) return;
  const auto word = sx::com::pack_date_word(t->year, t->month, t->day);
  if (!word) return;
  out[0] = static_cast<BYTE>(*word >> 8);
  out[1] = static_cast<BYTE>(*word);
  out[2] = static_cast<BYTE>(t->hour);
  out[3] = static_cast<BYTE>(t->minute);
}

std::string DateField::logText() const {
  if (value_ == 0) return "na";
  const auto t = sx::com::minutes_from_date(value_);
  if (!t) return "na";
  std::tm tm{};
  tm.tm_year = t->year - 1900;
  tm.tm_mon = t->month - 1;
  tm.tm_mday = t->day;
  tm.tm_hour = t->hour;
  tm.tm_min = t->minute;
  tm.tm_isdst = -1;
  std::time_t probe = std::mktime(&tm);  // fills the day of the week
  (void)probe;
  char text[64];
  if (std::strftime(text, sizeof text, "%c", &tm) == 0) return "na";
  return text;
}

void DateField::print(std::string* out) const { out->append(logText()); }

std::size_t DateField::pack(BYTE* buffer, std::size_t room) const {
  if (room < 4) return 0;
  packed(buffer);
  return 4;
}

bool DateField::equals(const SyncField& other) const {
  if (other.kind() != Kind::kDate) return false;
  BYTE a[4], b[4];
  packed(a);
  static_cast<const DateField&>(other).packed(b);
  return std::memcmp(a, b, 4) == 0;
}

std::size_t DateField::unpack(const BYTE* data, std::size_t available) {
  if (available < 4) return 0;
  const auto word = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
  value_ = 0;
  if ((word >> 9) != 0) {
    if (auto t = sx::com::unpack_date_word(word, data[2], data[3])) {
      if (auto date = sx::com::date_from_minutes(*t)) value_ = *date;
    }
  }
  return 4;
}

void DateField::assign(const SyncField& other) {
  if (other.kind() == Kind::kDate) set(static_cast<const DateField&>(other).value_);
}

// --- TextField
// ------------------------------------------------------------------------------------

std::string TextField::logText() const { return "\"" + desktop_ + "\""; }
void TextField::print(std::string* out) const { out->append(desktop_); }

std::string TextField::handheld() const {
  if (handheld_as_read_ != nullptr) return *handheld_as_read_;
  std::string out;
  out.reserve(handheld_size_);
  for (char c : desktop_) {
    if (c != '\r') out.push_back(c);
  }
  return out;
}

std::size_t TextField::pack(BYTE* buffer, std::size_t room) const {
  const std::size_t size = handheld_size_ + 1;
  if (room < size) return 0;
  if (handheld_as_read_ != nullptr) {
    std::memcpy(buffer, handheld_as_read_->data(), handheld_size_);
  } else {
    // The desktop form without its CRs, copied in runs between them.
    BYTE* out = buffer;
    const char* at = desktop_.data();
    const char* end = at + desktop_.size();
    while (at < end) {
      const auto* cr =
          static_cast<const char*>(std::memchr(at, '\r', static_cast<std::size_t>(end - at)));
      const char* stop = cr != nullptr ? cr : end;
      std::memcpy(out, at, static_cast<std::size_t>(stop - at));
      out += stop - at;
      at = stop + 1;
    }
  }
  buffer[handheld_size_] = 0;
  return size;
}

bool TextField::equals(const SyncField& other) const {
  return other.kind() == Kind::kText && static_cast<const TextField&>(other).desktop_ == desktop_;
}

std::size_t TextField::unpack(const BYTE* data, std::size_t available) {
  const void* nul = std::memchr(data, 0, available);
  if (nul == nullptr) return 0;
  const auto length = static_cast<std::size_t>(static_cast<const BYTE*>(nul) - data);
  const char* text = reinterpret_cast<const char*>(data);
  handheld_size_ = length;
  handheld_as_read_.reset();
  if (std::memchr(text, '\r', length) != nullptr) {
    handheld_as_read_ = std::make_unique<std::string>(text, length);
  }
  // The desktop form: every LF preceded by a CR, copied in runs between the LFs.
  desktop_.clear();
  desktop_.reserve(length + length / 16);
  const char* at = text;
  const char* end = text + length;
  while (at < end) {
    const auto* lf =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (lf == nullptr) {
      desktop_.append(at, end);
      break;
    }
    desktop_.append(at, lf);
    desktop_.append("\r\n", 2);
    at = lf + 1;
  }
  return length + 1;
}

void TextField::setDesktop(std::string text) {
  desktop_ = std::move(text);
  handheld_size_ = desktop_.size() -
                   static_cast<std::size_t>(std::count(desktop_.begin(), desktop_.end(), '\r'));
  handheld_as_read_.reset();
  changed_in_memory = true;
}

void TextField::assign(const SyncField& other) {
  if (other.kind() == Kind::kText) setDesktop(static_cast<const TextField&>(other).desktop_);
}

}  // namespace sx::conduit
