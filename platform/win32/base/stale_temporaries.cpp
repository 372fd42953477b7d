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


// Removes the files of `folder` for which `writer` gives the pid of a process that is gone.
template <typename Writer>
int remove_where(const std::filesystem::path& folder, Writer writer) {
  std::error_code ec;
  int removed = 0;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const pid_t pid = writer(it->path().filename().string());
    if (pid <= 0 || pid == ::getpid() || !process_is_gone(pid)) continue;
    std::error_code ignored;
    if (std::filesystem::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

}  // namespace

bool process_is_gone(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

int remove_temporaries(const std::filesystem::path& file, std::string_view marker) {
  const std::string prefix = file.filename().string() + std::string(marker);
  return remove_where(file.parent_path(), [&](const std::string& name) -> pid_t {
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    return pid_in(std::string_view(name).substr(prefix.size()));
  });
}

int remove_temporaries_in(const std::filesystem::path& folder, std::string_view marker) {
  return remove_where(folder, [&](const std::string& name) -> pid_t {
    const std::size_t at = name.rfind(marker);
    if (at == std::string::npos || at == 0) return 0;
    return pid_in(std::string_view(name).substr(at + marker.size()));
  });
}

}  // namespace sx::stale
