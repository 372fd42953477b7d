#include "sx/outlook/filter.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace sx::outlook {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::optional<Filter> parse(std::string* why) {
    Filter f;
    do {
      Condition c;
      if (!condition(&c)) return error(why);
      f.all.push_back(std::move(c));
      blanks();
    } while (keyword("AND"));
    blanks();
    if (pos_ != s_.size()) {
      problem_ = "expected AND or the end";
      return error(why);
    }
    return f;
  }

 private:
  std::optional<Filter> error(std::string* why) {
    if (why)
      *why = "Cannot parse condition: " + problem_ + " at position " + std::to_string(pos_ + 1);
    return std::nullopt;
  }
  void blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool keyword(std::string_view word) {
    blanks();
    if (s_.size() - pos_ < word.size() + 1) return false;
    if (!equal_ignoring_case(s_.substr(pos_, word.size()), word)) return false;
    char after = s_[pos_ + word.size()];
    if (after != ' ' && after != '\t' && after != '[') return false;
    pos_ += word.size();
    return true;
  }
  bool condition(Condition* c) {
    blanks();
    if (pos_ >= s_.size() || s_[pos_] != '[') return fail("expected [");
    const std::size_t close = s_.find(']', pos_ + 1);
    if (close == std::string_view::npos) return fail("expected ]");
    c->name = std::string(s_.substr(pos_ + 1, close - pos_ - 1));
    if (c->name.empty()) return fail("empty property name");
    pos_ = close + 1;
    blanks();
    if (pos_ >= s_.size() || s_[pos_] != '=') return fail("expected =");
    ++pos_;
    blanks();
    return literal(&c->literal);
  }
  bool literal(Value* v) {
    if (pos_ >= s_.size()) return fail("expected a value");
    const char q = s_[pos_];
    if (q == '"' || q == '\'') {
      std::string text;
      for (++pos_;; ++pos_) {
        if (pos_ >= s_.size()) return fail("unterminated text");
        if (s_[pos_] == q) {
          if (pos_ + 1 < s_.size() && s_[pos_ + 1] == q) {
            text += q;
            ++pos_;
            continue;
          }
          ++pos_;
          break;
        }
        text += s_[pos_];
      }
      *v = Value::text_of(std::move(text));
      return true;
    }
    std::size_t end = pos_;
    while (end < s_.size() && s_[end] != ' ' && s_[end] != '\t') ++end;
    std::string_view word = s_.substr(pos_, end - pos_);
    if (equal_ignoring_case(word, "true") || equal_ignoring_case(word, "yes")) {
      *v = Value::number_of(1);
    } else if (equal_ignoring_case(word, "false") || equal_ignoring_case(word, "no")) {
      *v = Value::number_of(0);
    } else if (auto n = read_number(word)) {
      *v = Value::number_of(*n);
    } else {
      return fail("expected a number or a quoted text");
    }
    pos_ = end;
    return true;
  }
  bool fail(const char* why) {
    problem_ = why;
    return false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string problem_;
};

bool is_numeric(const Value& v) {
  return v.tag == Value::Tag::kNumber || v.tag == Value::Tag::kDate || v.tag == Value::Tag::kBool ||
         v.tag == Value::Tag::kInt;
}

}  // namespace

std::optional<double> read_number(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  if (b == e || e - b > 64) return std::nullopt;
  std::string s(text.substr(b, e - b));
  for (char c : s)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' ||
          c == 'e' || c == 'E'))
      return std::nullopt;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<Filter> parse_filter(std::string_view text, std::string* why) {
  return Parser(text).parse(why);
}

bool matches(const ItemData& item, const Condition& c) {
  const Value* v = item.find_any(c.name);
  if (v == nullptr || v->empty()) return false;
  if (c.literal.tag == Value::Tag::kText) {
    if (v->tag == Value::Tag::kText) return equal_ignoring_case(v->text, c.literal.text);
    auto n = read_number(c.literal.text);
    return n && is_numeric(*v) && v->number == *n;
  }
  if (is_numeric(*v)) return v->number == c.literal.number;
  auto n = read_number(v->text);
  return n && *n == c.literal.number;
}

bool matches(const ItemData& item, const Filter& filter) {
  for (const auto& c : filter.all)
    if (!matches(item, c)) return false;
  return true;
}

}  // namespace sx::outlook
