// A fresh simulated machine in a temporary folder, for one test.
//
// Construction makes the folder, points the process's machine root at it and, unless told
// otherwise, switches the clock to virtual time. Destruction goes back to real time and removes the
// folder.
#pragma once

#include <filesystem>
#include <string>

namespace sx::testing {

class TempMachine {
 public:
  enum class Clock { kVirtual, kReal };
  explicit TempMachine(Clock clock = Clock::kVirtual);
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::filesystem::path& root() const { return root_; }
  // Host path of a Windows path under drive C: of this machine, e.g. c("Program Files\\Scribbix").
  std::filesystem::path c(const std::string& relative) const;

 private:
  std::filesystem::path root_;
  bool virtual_clock_;
};

}  // namespace sx::testing
