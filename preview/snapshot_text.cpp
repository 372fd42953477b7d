// Snapshots as tab-separated lines of escaped texts: "side", "category", "note" and "field" lines
// between "snapshot" and "end".
#include <sstream>

#include "sx/preview/snapshot.h"

namespace sx::preview {
namespace {

std::string join(const std::vector<std::string>& parts) {
  std::string line;
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i ? "\t" : "") + escape(parts[i]);
  return line;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    parts.push_back(unescape(line.substr(start, tab - start)));
    if (tab == std::string::npos) return parts;
    start = tab + 1;
  }
}

bool number(const std::string& text, long long* out) {
  try {
    std::size_t used = 0;
    *out = std::stoll(text, &used);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

}  // namespace

std::string escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

std::vector<std::string> snapshot_lines(const Snapshot& snapshot) {
  std::vector<std::string> lines{"snapshot"};
  for (const Side s : {Side::kHandheld, Side::kOutlook}) {
    const SideView& side = snapshot.side(s);
    lines.push_back(join(
        {"side", s == Side::kHandheld ? "handheld" : "outlook", side.read ? "1" : "0", side.why}));
    for (const auto& name : side.categories) lines.push_back(join({"category", name}));
    for (const auto& note : side.notes) {
      lines.push_back(
          join({"note", note.identity, std::to_string(note.id), note.archived ? "1" : "0"}));
      for (const auto& [name, value] : note.fields) lines.push_back(join({"field", name, value}));
    }
  }
  lines.push_back("end");
  return lines;
}

bool parse_snapshot(const std::vector<std::string>& lines, std::size_t* pos, Snapshot* out) {
  if (*pos >= lines.size() || lines[*pos] != "snapshot") return false;
  *out = Snapshot{};
  SideView* side = nullptr;
  for (++*pos; *pos < lines.size(); ++*pos) {
    if (lines[*pos] == "end") {
      ++*pos;
      return true;
    }
    const auto parts = split(lines[*pos]);
    long long value = 0;
    if (parts[0] == "side" && parts.size() == 4) {
      side = parts[1] == "handheld"  ? &out->handheld
             : parts[1] == "outlook" ? &out->outlook
                                     : nullptr;
      if (side == nullptr) return false;
      side->read = parts[2] == "1";
      side->why = parts[3];
    } else if (parts[0] == "category" && parts.size() == 2 && side != nullptr) {
      side->categories.push_back(parts[1]);
    } else if (parts[0] == "note" && parts.size() == 4 && side != nullptr &&
               number(parts[2], &value)) {
      side->notes.push_back({parts[1], static_cast<std::int32_t>(value), parts[3] == "1", {}});
    } else if (parts[0] == "field" && parts.size() == 3 && side != nullptr &&
               !side->notes.empty()) {
      side->notes.back().fields.emplace_back(parts[1], parts[2]);
    } else {
      return false;
    }
  }
  return false;
}

}  // namespace sx::preview
