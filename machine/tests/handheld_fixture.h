// A machine with HotSync, a user, Outlook and the system installed, and both sides of the user's
// notes read back as a person's tools show them: the handheld through `sxmachine handheld USER
// export -` (JSON), Outlook through `sxfolders items`.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {

inline constexpr char kNotesFolder[] = "Vorlan\\Scribbix";

// A note as both sides show it.
struct ShownNote {
  std::string text, category;
  bool is_private = false;
  friend bool operator<(const ShownNote& a, const ShownNote& b) {
    return std::tie(a.text, a.category, a.is_private) < std::tie(b.text, b.category, b.is_private);
  }
  friend bool operator==(const ShownNote&, const ShownNote&) = default;
};
inline std::ostream& operator<<(std::ostream& out, const ShownNote& n) {
  return out << "{\"" << n.text << "\", \"" << n.category << "\""
             << (n.is_private ? ", private" : "") << "}";
}

// A post of the notes folder as `sxfolders items` prints it.
struct Post {
  std::map<std::string, std::string> values;  // "Body", "Categories", "user ScribKey", ...
  const std::string& operator[](const std::string& name) const {
    static const std::string none;
    auto it = values.find(name);
    return it == values.end() ? none : it->second;
  }
};

inline ToolResult sxfolders(const std::vector<std::string>& args) {
  std::vector<std::string> line = {"--machine", sx::machine::root().string()};
  line.insert(line.end(), args.begin(), args.end());
  return run_program(SXFOLDERS_PATH, line);
}

class HandheldTest : public ::testing::Test {
 public:
  static constexpr const char* kUser = "Jo Smith";

 protected:
  void install_system() {
    ToolResult r = run_tool({"system", "install", "--user", kUser});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  // `sxmachine handheld "Jo Smith" ARGS...`, which must succeed.
  std::string handheld(std::vector<std::string> args) {
    args.insert(args.begin(), {"--machine", sx::machine::root().string(), "handheld", kUser});
    ToolResult r = run_program(SXMACHINE_PATH, args);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return r.output;
  }
  // The record ID that `handheld new` printed.
  std::string add_note(std::vector<std::string> args) {
    args.insert(args.begin(), "new");
    const std::string said = handheld(args);
    const auto at = said.find("record ID ");
    return at == std::string::npos ? "" : said.substr(at + 10, said.find('.', at) - at - 10);
  }
  nlohmann::json handheld_json() {
    ToolResult r = run_program(SXMACHINE_PATH, {"--machine", sx::machine::root().string(),
                                                "handheld", kUser, "export", "-"});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return nlohmann::json::parse(r.output.substr(r.output.find('{')));
  }
  // The live notes of the handheld.
  std::vector<ShownNote> handheld_notes() {
    std::vector<ShownNote> notes;
    const nlohmann::json all = handheld_json();
    for (const auto& n : all["notes"]) {
      if (n["deleted"] || n["archived"]) continue;
      const std::string category = n["category"];
      notes.push_back({n["text"], category == "Unfiled" ? "" : category, n["private"]});
    }
    std::sort(notes.begin(), notes.end());
    return notes;
  }
  std::vector<Post> posts() {
    ToolResult r = sxfolders({"items", kNotesFolder});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    std::vector<Post> out;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("  [", 0) == 0) out.emplace_back();
      if (out.empty() || line.size() < 27 || line.rfind("    ", 0) != 0) continue;
      std::string name = line.substr(4, 23), value = line.substr(27);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      if (name.rfind("user ", 0) == 0) value = value.substr(0, value.rfind(" (type"));
      out.back().values[name] = value;
    }
    return out;
  }
  // The notes of Outlook that are not archived.
  std::vector<ShownNote> outlook_notes() {
    std::vector<ShownNote> notes;
    for (const Post& p : posts()) {
      if (p["user Archived"] == "True") continue;
      notes.push_back({p["Body"], p["Categories"], p["Sensitivity"] == "2"});
    }
    std::sort(notes.begin(), notes.end());
    return notes;
  }
  ToolResult hotsync(const std::string& environment = "") {
    return run_program(SXMACHINE_PATH,
                       {"--machine", sx::machine::root().string(), "hotsync", "sync", kUser},
                       environment);
  }

  sx::testing::TempMachine machine_;
};

}  // namespace sx::registry::testing
