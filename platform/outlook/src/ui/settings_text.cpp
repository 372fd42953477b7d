#include "ui/settings_text.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace sx::outlook::settings_text {

std::string escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> split(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    auto field = unescape(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (!field) return std::nullopt;
    fields.push_back(std::move(*field));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::string join(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += '\t';
    out += escape(fields[i]);
  }
  return out;
}

bool read_records(const std::string& text, std::string_view header,
                  const std::function<const char*(const std::vector<std::string>&)>& record,
                  std::string* why) {
  std::size_t start = 0;
  int line_number = 0;
  auto fail = [&](const char* what) {
    if (why) *why = std::string(what) + " at line " + std::to_string(line_number);
    return false;
  };
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (++line_number == 1) {
      if (line != header) return fail("unknown header");
      continue;
    }
    if (line.empty()) continue;
    const auto fields = split(line);
    if (!fields) return fail("a badly escaped field");
    if (const char* wrong = record(*fields)) return fail(wrong);
  }
  if (line_number == 0) {
    if (why) *why = "an empty file";
    return false;
  }
  return true;
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

bool replace_file(const std::filesystem::path& path, const std::string& text, std::string* why) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::path temporary = path;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      if (why) *why = "cannot write " + temporary.string();
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    if (why) *why = "cannot replace " + path.string() + ": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

void keep_damaged(const std::filesystem::path& path, const std::string& why) {
  // A name no earlier damaged file has: "<file>.damaged", else "<file>.damaged-2", ...
  std::filesystem::path aside = path;
  aside += ".damaged";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(aside, ec) && n < 1000; ++n) {
    aside = path;
    aside += ".damaged-" + std::to_string(n);
  }
  std::filesystem::rename(path, aside, ec);
  std::fprintf(stderr, "Outlook: %s is damaged (%s); it was kept as %s and the defaults are used\n",
               path.filename().string().c_str(), why.c_str(), aside.filename().string().c_str());
}

}  // namespace sx::outlook::settings_text
