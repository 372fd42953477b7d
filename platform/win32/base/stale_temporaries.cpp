#include "sx/stale_temporaries.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace sx::stale {
namespace {

// The pid written after the marker, or 0 when the rest is not a number.
pid_t pid_in(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return 0;
  pid_t pid = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

bool process_is_gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

int remove_temporaries(const std::filesystem::path& file, std::string_view marker) {
  const std::string prefix = file.filename().string() + std::string(marker);
  std::error_code ec;
  int removed = 0;
  for (std::filesystem::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const pid_t pid = pid_in(std::string_view(name).substr(prefix.size()));
    if (pid <= 0 || pid == ::getpid() || !process_is_gone(pid)) continue;
    std::error_code ignored;
    if (std::filesystem::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

}  // namespace sx::stale
