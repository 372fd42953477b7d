#include "reg_text.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace sx::registry {
namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// The order in which the roots appear in the file.
constexpr RootId kFileOrder[] = {RootId::kLocalMachine, RootId::kCurrentUser, RootId::kClassesRoot,
                                 RootId::kUsers};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// A byte that has no place in a text line of the file (tab is allowed, bytes >= 0x80 are text).
bool is_control(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 && c != '\t';
}

bool has_control(std::string_view s) {
  for (char c : s) {
    if (is_control(c)) return true;
  }
  return false;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 0x20);
    if (a != prefix[i]) return false;
  }
  return true;
}

// Parses 1 to 8 hex digits filling all of `s`.
bool parse_hex32(std::string_view s, std::uint32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = hex_digit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  *out = v;
  return true;
}

// Reads a quoted string at the start of `s` (which starts with '"'), undoing \\ and \". On success
// `s` is left after the closing quote.
bool read_quoted(std::string_view* s, std::string* out, std::string* why) {
  out->clear();
  std::size_t i = 1;
  while (i < s->size()) {
    // Plain runs are copied whole: texts can be long.
    const std::size_t special = s->find_first_of("\"\\", i);
    if (special == std::string_view::npos) break;
    out->append(s->substr(i, special - i));
    i = special;
    if ((*s)[i] == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (i + 1 >= s->size() || ((*s)[i + 1] != '\\' && (*s)[i + 1] != '"')) {
      *why = "a backslash in a quoted string must be written \\\\ (or \\\" for a quote)";
      return false;
    }
    out->push_back((*s)[i + 1]);
    i += 2;
  }
  *why = "the quoted string has no closing quote";
  return false;
}

// Comma-separated bytes of hex, as after "hex:" ("01,02,ff"); empty means no bytes.
bool parse_hex_bytes(std::string_view s, std::string* out, std::string* why) {
  out->clear();
  s = trim(s);
  if (s.empty()) return true;
  while (true) {
    std::size_t comma = s.find(',');
    std::string_view item = trim(s.substr(0, comma));
    int hi = item.size() == 2 ? hex_digit(item[0]) : 0;
    int lo = item.empty() || item.size() > 2 ? -1 : hex_digit(item.back());
    if (hi < 0 || lo < 0) {
      *why = "\"" + std::string(item.substr(0, 16)) + "\" is not a byte in hex";
      return false;
    }
    if (out->size() >= kMaxValueDataSize) {
      *why = "the value is larger than " + std::to_string(kMaxValueDataSize) + " bytes";
      return false;
    }
    out->push_back(static_cast<char>(hi * 16 + lo));
    if (comma == std::string_view::npos) return true;
    s.remove_prefix(comma + 1);
  }
}

// Reads the data after "=" of a value line.
bool parse_data(std::string_view s, std::uint32_t* type, std::string* data, std::string* why) {
  if (!s.empty() && s.front() == '"') {
    if (!read_quoted(&s, data, why)) return false;
    if (!trim(s).empty()) {
      *why = "text after the closing quote";
      return false;
    }
    if (data->size() >= kMaxValueDataSize) {
      *why = "the value is larger than " + std::to_string(kMaxValueDataSize) + " bytes";
      return false;
    }
    data->push_back('\0');
    *type = kRegSz;
    return true;
  }
  if (starts_with_nocase(s, "dword:")) {
    std::uint32_t v = 0;
    if (!parse_hex32(trim(s.substr(6)), &v)) {
      *why = "dword: needs 1 to 8 hex digits";
      return false;
    }
    data->assign(4, '\0');
    for (int i = 0; i < 4; ++i) (*data)[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    *type = kRegDword;
    return true;
  }
  if (starts_with_nocase(s, "hex:")) {
    *type = kRegBinary;
    return parse_hex_bytes(s.substr(4), data, why);
  }
  if (starts_with_nocase(s, "hex(")) {
    std::size_t close = s.find("):");
    if (close == std::string_view::npos || !parse_hex32(s.substr(4, close - 4), type)) {
      *why = "hex(N): needs the type N in hex";
      return false;
    }
    return parse_hex_bytes(s.substr(close + 2), data, why);
  }
  if (!s.empty() && s.front() == '-') {
    *why = "deleting a value (=-) belongs in an import file, not in the registry";
    return false;
  }
  *why = "the data is none of \"text\", dword:, hex: or hex(N):";
  return false;
}

class Parser {
 public:
  Parser(std::string_view text, const ProblemReporter& report) : text_(text), report_(report) {}

  ParseResult run() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;  // an editor's UTF-8 mark
    std::string_view line;
    bool header_seen = false;
    while (next_line(&line)) {
      line = trim(line);
      if (line.empty()) continue;
      if (!header_seen) {
        header_seen = true;
        if (line == kHeader) continue;
        problem(line_no_, "the file does not start with the line REGEDIT4");
      }
      handle_line(line);
    }
    return std::move(result_);
  }

 private:
  void problem(int line, const std::string& why) {
    ++result_.problems;
    report_(line, why);
  }

  // The next physical line without its line end. Lines that are too long or hold control bytes
  // are reported and skipped here.
  bool next_line(std::string_view* line) {
    while (pos_ < text_.size()) {
      std::size_t end = text_.find('\n', pos_);
      if (end == std::string_view::npos) end = text_.size();
      std::string_view l = text_.substr(pos_, end - pos_);
      pos_ = end + 1;
      ++line_no_;
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
      if (l.size() > kMaxLineLength) {
        problem(line_no_, "the line is too long (" + std::to_string(l.size()) + " bytes)");
        continue;
      }
      if (has_control(l)) {
        problem(line_no_, "the line holds binary data or control characters");
        continue;
      }
      *line = l;
      return true;
    }
    return false;
  }

  void handle_line(std::string_view line) {
    if (line.front() == ';') return;
    if (line.front() == '[') return handle_section(line);
    if (line.front() == '"' || line.front() == '@') return handle_value(line);
    problem(line_no_, "not a [key] line, a value line or a ; comment");
  }

  void handle_section(std::string_view line) {
    int line_no = line_no_;
    current_ = nullptr;
    if (line.back() != ']') return problem(line_no, "a [key] line must end with ]");
    std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-') {
      return problem(line_no, "deleting a key ([-...]) belongs in an import file");
    }
    std::size_t cut = path.find('\\');
    RootId root;
    if (!parse_root_name(path.substr(0, cut), &root)) {
      return problem(line_no, "unknown root key \"" + std::string(path.substr(0, cut)) + "\"");
    }
    std::vector<std::string_view> parts;
    std::string_view rest = cut == std::string_view::npos ? "" : path.substr(cut + 1);
    if ((cut != std::string_view::npos && rest.empty()) || !split_key_path(rest, &parts)) {
      return problem(line_no,
                     "the key path has an empty or overlong name in it, or is deeper than " +
                         std::to_string(kMaxKeyDepth) + " levels");
    }
    std::shared_ptr<Key> key = result_.tree.roots[static_cast<int>(root)];
    for (std::string_view part : parts) key = key->get_or_add_child(part);
    current_ = key;
  }

  void handle_value(std::string_view line) {
    int line_no = line_no_;
    std::string why;
    // Join continuation lines of hex data (a line ending in a backslash goes on below).
    std::string joined;
    if (line.back() == '\\' && line.find("=hex") != std::string_view::npos) {
      joined.assign(line.substr(0, line.size() - 1));
      std::string_view next;
      bool more = true;
      while (more && next_line(&next)) {
        next = trim(next);
        more = !next.empty() && next.back() == '\\';
        if (more) next.remove_suffix(1);
        joined.append(next);
        if (joined.size() > kMaxJoinedLineLength) {
          // Skip what is left of this value too.
          while (more && next_line(&next)) more = !trim(next).empty() && trim(next).back() == '\\';
          return problem(line_no, "the value's hex data is too long");
        }
      }
      line = joined;
    }
    if (!current_) return problem(line_no, "a value line outside a readable [key] section");

    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!read_quoted(&line, &name, &why)) {
      return problem(line_no, "value name: " + why);
    }
    if (name.size() > kMaxValueNameLength) return problem(line_no, "the value name is too long");
    line = trim(line);
    if (line.empty() || line.front() != '=') return problem(line_no, "= is missing");
    line = trim(line.substr(1));
    std::uint32_t type = 0;
    std::string data;
    if (!parse_data(line, &type, &data, &why)) return problem(line_no, why);
    current_->set_value(name, type, std::move(data));
  }

  std::string_view text_;
  const ProblemReporter& report_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
  std::shared_ptr<Key> current_;  // the key of the last good [key] line
  ParseResult result_;
};

void append_quoted(std::string* out, std::string_view s) {
  out->push_back('"');
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t special = std::min(s.find_first_of("\\\"", i), s.size());
    out->append(s.substr(i, special - i));  // plain runs whole: texts can be long
    if (special == s.size()) break;
    out->push_back('\\');
    out->push_back(s[special]);
    i = special + 1;
  }
  out->push_back('"');
}

// A REG_SZ that the quoted form carries exactly: one NUL, at the end, and no control bytes.
bool is_plain_text(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  return !has_control(data.substr(0, data.size() - 1));
}

// Bytes as "01,02,ff", wrapped like regedit's export below 80 columns.
void append_hex(std::string* out, std::string_view data, std::size_t column) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < data.size(); ++i) {
    auto b = static_cast<unsigned char>(data[i]);
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 15]);
    column += 2;
    if (i + 1 < data.size()) {
      out->push_back(',');
      ++column;
      if (column > 75) {
        out->append("\\\n  ");
        column = 2;
      }
    }
  }
}

void append_value(std::string* out, const Value& v) {
  std::size_t start = out->size();
  if (v.name.empty()) {
    out->push_back('@');
  } else {
    append_quoted(out, v.name);
  }
  out->push_back('=');
  if (v.type == kRegSz && is_plain_text(v.data)) {
    append_quoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
  } else if (v.type == kRegDword && v.data.size() == 4) {
    std::uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
    char buf[24];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out->append(buf);
  } else {
    char buf[24];
    if (v.type == kRegBinary) {
      std::snprintf(buf, sizeof buf, "hex:");
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    }
    out->append(buf);
    append_hex(out, v.data, out->size() - start);
  }
  out->push_back('\n');
}

void append_key(std::string* out, const Key& key, const std::string& path, bool is_root) {
  if (!is_root || !key.values().empty()) {
    out->push_back('[');
    out->append(path);
    out->append("]\n");
    for (const Value& v : key.values()) append_value(out, v);
    out->push_back('\n');
  }
  for (const auto& child : key.children()) {
    append_key(out, *child, path + "\\" + child->name(), false);
  }
}

}  // namespace

ParseResult parse_registry_text(std::string_view text, const ProblemReporter& report) {
  return Parser(text, report).run();
}

std::string format_registry_text(const Tree& tree) {
  std::string out(kHeader);
  out.append("\n\n");
  for (RootId id : kFileOrder) {
    append_key(&out, *tree.roots[static_cast<int>(id)], root_name(id), true);
  }
  return out;
}

}  // namespace sx::registry
