// A copy of a registry key with everything below it, to put back when a step that changed it has
// to be undone (a failed conduit installation). Main thread of the machine tool.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "win32/registry.h"

namespace sx::machine_tool {

class RegistrySnapshot {
 public:
  // Copies `path` under `root` (nothing when the key does not exist).
  RegistrySnapshot(HKEY root, std::string path);

  // Makes the key what it was when copied: deletes it with everything below it, then writes it
  // back when it existed. False when a registry call failed.
  [[nodiscard]] bool restore() const;

 private:
  struct Value {
    std::string name;
    DWORD type = 0;
    std::string data;
  };
  struct Key {
    std::string path;  // below the snapshot's root
    std::vector<Value> values;
  };

  HKEY root_;
  std::string path_;
  std::vector<Key> keys_;  // parents before children
};

}  // namespace sx::machine_tool
