// What the machine's page shows of one HotSync user, read from the machine's files as they are
// now: the notes on the user's handheld (as the notes application keeps them), the posts of the
// user's notes folder in Outlook, and the user's HotSync log. Reading never changes the machine.
// One object per thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sx::machine_view {

// A part of the state as it was last read, with the stamp of its files then.
struct StatePart {
  bool read = false;
  std::string stamp;
  nlohmann::json value;
};

class MachineState {
 public:
  // `user`: a HotSync user's name in the machine's code page.
  explicit MachineState(std::string user);

  // Changes whenever a file the page shows changed (size, time or the file itself); cheap.
  std::string fingerprint() const;

  // {"user", "handheld": <the notes application's export> | {"error"},
  //  "outlook": {"folder", "posts": [{"entry_id", "subject", "body", "categories", "key",
  //  "modified"}]} | {"error"}, "log": [lines], "windows": [the windows that processes show under
  //  the web host, as sx/web_windows.h describes them]}; texts in UTF-8. Only the parts whose
  //  files changed since the last read are read again (a HotSync changes the notes store many
  //  times a second while the handheld's database stays as it is).
  nlohmann::json read() const;

 private:
  std::string user_;
  std::string handheld_file_, store_file_, log_file_;  // host paths
  mutable StatePart handheld_, outlook_, log_, windows_;
};

// The Outlook folder (a path from a store root) that holds the notes: "Vorlan\Scribbix".
inline constexpr char kNotesFolderPath[] = "Vorlan\\Scribbix";

}  // namespace sx::machine_view
