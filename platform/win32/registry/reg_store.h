// The process's copy of the machine's registry file, kept in step with the file.
//
// One Store per process (instance()). Every member other than instance() and mutex() must be called
// with mutex() held; the registry functions hold it for the whole call, so threads of a process
// see one consistent registry.
//
// Keeping in step: refresh() compares the file's identity (inode, size, modification time in ns)
// with the one last loaded and reloads on any difference; a change of machine root
// (sx::machine::root_generation) drops everything. Writers in different processes take an
// exclusive flock on "registry.reg.lock" for read-modify-write, reload under it, change the tree,
// and replace the file through a temporary file and a rename; temporaries left by writers killed
// before their rename are removed by the next writer. Each written file gets a modification
// time later than the one it replaces, so two writes within one timestamp tick still differ.
//
// Damage: lines that do not parse are reported on stderr with file and line number and skipped.
// Before a write replaces a damaged (or unreadable) file, the file is kept as
// "registry.reg.damaged-<N>" and stderr says so; when no copy can be made, the write fails.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "reg_tree.h"

struct stat;

namespace sx::registry {

inline constexpr const char* kFileName = "registry.reg";
// Files larger than this are read only up to it (and count as damaged); a change that would make
// the file larger is refused with ERROR_NO_SYSTEM_RESOURCES.
inline constexpr std::size_t kMaxFileSize = 64u << 20;

// What a modify() change returns when it succeeded without changing anything (nothing is written).
inline constexpr long kUnchanged = -1;

class Store {
 public:
  static Store& instance();

  std::mutex& mutex() { return mutex_; }

  // Brings the tree up to date with the file (see above). Cheap when nothing changed: one stat.
  void refresh();

  // The current tree. Valid until the next refresh() or modify().
  Tree& tree() { return *tree_; }

  // Grows whenever the tree is replaced by another one (reload, new machine); open handles compare
  // it to know when to find their key again by its path.
  std::uint64_t epoch() const { return epoch_; }

  // Read-modify-write: takes the file lock, refreshes, calls `change` on the tree and, when it
  // returns 0 (ERROR_SUCCESS), writes the tree to the file. Returns `change`'s error,
  // ERROR_NO_SYSTEM_RESOURCES when the file would grow beyond kMaxFileSize, or ERROR_CANTWRITE when
  // the file cannot be locked or replaced (the change is then forgotten: the tree is reloaded from
  // the file at the next call).
  long modify(const std::function<long(Tree&)>& change);

  // Path of the registry file of the current machine.
  const std::filesystem::path& path() { return path_; }

 private:
  struct Identity {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const Identity&) const = default;
  };

  static Identity identity_of(const struct stat& st);
  Store();
  void follow_machine();
  void load();
  void replace_tree(std::unique_ptr<Tree> tree);
  bool keep_damaged_copy();
  bool write_file(const std::string& text);

  std::mutex mutex_;
  unsigned generation_ = ~0u;  // root generation of path_
  std::filesystem::path path_;
  std::unique_ptr<Tree> tree_;
  Identity loaded_;            // identity of the file the tree came from
  bool loaded_valid_ = false;  // false forces a reload
  bool damaged_ = false;       // the loaded file had problems
  std::uint64_t epoch_ = 0;
};

}  // namespace sx::registry
