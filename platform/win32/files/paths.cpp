#include "sx/paths.h"
#include "sx/ascii.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

#include "sx/machine.h"
#include "win32/errors.h"

namespace sx::paths {
namespace {

namespace fs = std::filesystem;

bool is_separator(char c) { return c == '\\' || c == '/'; }

struct Parsed {
  char drive = 'C';
  std::vector<std::string> components;
  DWORD error = ERROR_SUCCESS;
};

Parsed parse(std::string_view s) {
  Parsed out;
  if (s.empty()) {
    out.error = ERROR_PATH_NOT_FOUND;
    return out;
  }
  if (s.size() >= 4 && is_separator(s[0]) && is_separator(s[1]) && s[2] == '?' &&
      is_separator(s[3])) {
    s.remove_prefix(4);  // "\\?\" long-path prefix: what follows is an ordinary path
    if (s.size() >= 4 && sx::ascii::equal_ignoring_case(s.substr(0, 3), "UNC") &&
        is_separator(s[3])) {
      out.error = ERROR_BAD_NETPATH;
      return out;
    }
  } else if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) {
    out.error = ERROR_BAD_NETPATH;  // "\\server\share" or "\\.\device"
    return out;
  }
  if (s.size() >= 2 && s[1] == ':' &&
      ((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'))) {
    out.drive = static_cast<char>(sx::ascii::to_lower(s[0]) - 'a' + 'A');
    s.remove_prefix(2);
  }
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_separator(s[i])) ++i;
    std::size_t end = i;
    while (end < s.size() && !is_separator(s[end])) ++end;
    std::string_view part = s.substr(i, end - i);
    i = end;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!out.components.empty()) out.components.pop_back();
      continue;
    }
    for (char c : part) {
      if (is_illegal_name_char(c)) {
        out.error = ERROR_INVALID_NAME;
        out.components.clear();
        return out;
      }
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    if (part.empty()) continue;  // "..." and the like name the current folder
    out.components.emplace_back(part);
  }
  return out;
}

// The name in `dir` that equals `name` ignoring case: the exact name when it exists, else the first
// case-insensitive match in byte order, else nothing.
std::optional<std::string> find_ignoring_case(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return std::nullopt;
  std::optional<std::string> best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string candidate = it->path().filename().string();
    if (!sx::ascii::equal_ignoring_case(candidate, name)) continue;
    if (candidate == name) return candidate;
    if (!best || candidate < *best) best = std::move(candidate);
  }
  return best;
}

}  // namespace

bool is_illegal_name_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 32) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return false;
  }
}

fs::path drive_folder(char letter) {
  return sx::machine::root() / (std::string("drive_") + sx::ascii::to_lower(letter));
}

Mapped map(std::string_view windows_path) {
  Mapped out;
  Parsed parsed = parse(windows_path);
  if (parsed.error != ERROR_SUCCESS) {
    out.error = parsed.error;
    return out;
  }
  fs::path host = drive_folder(parsed.drive);
  bool exists = true;  // whether `host` so far exists; once it does not, no lookup can succeed
  for (const std::string& component : parsed.components) {
    if (exists) {
      fs::path candidate = host / component;
      struct stat st;
      if (::lstat(candidate.c_str(), &st) == 0) {
        host = std::move(candidate);
        continue;
      }
      if (std::optional<std::string> found = find_ignoring_case(host, component)) {
        host /= *found;
        continue;
      }
      exists = false;
    }
    host /= component;
  }
  out.host = std::move(host);
  return out;
}

fs::path to_host(std::string_view windows_path) { return map(windows_path).host; }

std::string to_windows(const fs::path& host_path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(host_path, ec);
  if (ec) return {};
  fs::path relative =
      absolute.lexically_normal().lexically_relative(sx::machine::root().lexically_normal());
  std::string result;
  bool first = true;
  for (const fs::path& part : relative) {
    const std::string text = part.string();
    if (first) {
      first = false;
      if (text.size() != 7 || text.compare(0, 6, "drive_") != 0 || text[6] < 'a' || text[6] > 'z') {
        return {};
      }
      result = std::string(1, static_cast<char>(text[6] - 'a' + 'A')) + ":\\";
      continue;
    }
    if (text.empty() || text == ".") continue;
    if (text == "..") return {};
    if (result.back() != '\\') result += '\\';
    result += text;
  }
  return result;
}

}  // namespace sx::paths
