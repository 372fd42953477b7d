// A preview of a Palm user's next HotSync: the whole HotSync runs on a copy of the machine, in a
// process of its own whose machine root is the copy (its Outlook works on the copy's stores), and
// each side is read before and after it. Nothing of the machine itself is written.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "sx/preview/changes.h"
#include "sx/preview/snapshot.h"

namespace sx::preview {

// A preview that could not be made; what() is a sentence for a person.
struct PreviewError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Preview {
  std::string user;
  long result = 0;                  // the copy's HotSync result
  int sync_type = -1;               // the notes conduit's sync type; -1 when it did not run
  std::string skipped;              // why the notes conduit did not run
  long conduit_result = 0;          // the notes conduit's result
  std::vector<std::string> report;  // what HotSync Manager reported of the copy's HotSync
  Snapshot before, after;
  std::vector<Change> changes;  // the handheld's, then Outlook's
  std::vector<std::string> categories_to_handheld, categories_to_outlook;
  std::vector<Conflict> conflicts;
  std::vector<std::string> questions;  // the mass change questions the HotSync would ask
  std::vector<Warning> warnings;
};

// A copy of a machine root in a temporary folder of its own ("<folder>/machine"), without the
// transient folders (windows/, processes/), removed with the object.
class MachineCopy {
 public:
  explicit MachineCopy(const std::filesystem::path& machine);  // throws PreviewError
  ~MachineCopy();
  MachineCopy(const MachineCopy&) = delete;
  MachineCopy& operator=(const MachineCopy&) = delete;
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path root() const { return folder_ / "machine"; }

 private:
  std::filesystem::path folder_;
};

// The preview of `user`'s next HotSync on the current machine. `worker` is the program that runs
// the HotSync on the copy (run_worker); empty: this build's. Throws PreviewError for a user that
// does not exist, a machine without the notes conduit, or a copy or run that failed.
Preview preview_hotsync(const std::string& user, const std::filesystem::path& worker = {});

// What the worker does on the copy (its machine root): reads both sides, runs the HotSync with
// dialogs nobody answers but the mass change question (answered "Go Ahead", so that the changes it
// asks about are seen) and the conduit's conflicts logged, reads both sides again, and writes it
// all to `output`. Returns 0, or throws PreviewError.
int run_worker(const std::string& user, const std::filesystem::path& output);

// Builds the preview from the worker's lines (the changes, categories, conflicts and warnings).
Preview preview_from_lines(const std::string& user, const std::vector<std::string>& lines);

// The preview for a person, line by line (ANSI texts, as the machine keeps them).
std::vector<std::string> preview_lines(const Preview& preview);

}  // namespace sx::preview
