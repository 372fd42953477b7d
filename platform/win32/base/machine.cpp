#include "sx/machine.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace sx::machine {
namespace {

constexpr const char* kFixedFolders[] = {"drive_c", "handhelds"};

std::mutex g_mutex;
std::optional<std::filesystem::path> g_root;  // set explicitly
std::atomic<unsigned> g_generation{0};

// The value of an environment variable, or nothing when it is unset or empty.
std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

std::optional<std::filesystem::path> default_root(std::string* why) {
  auto refuse = [&](std::string reason) -> std::optional<std::filesystem::path> {
    if (why != nullptr) {
      *why = std::move(reason) + "; name the machine with --machine DIR or " +
             kRootEnvironmentVariable + "=DIR";
    }
    return std::nullopt;
  };
  if (auto xdg = environment("XDG_DATA_HOME")) {
    if (std::filesystem::path(*xdg).is_relative())
      return refuse("XDG_DATA_HOME (\"" + *xdg + "\") is not an absolute folder");
    return std::filesystem::path(*xdg) / "scribbix" / "machine";
  }
  auto home = environment("HOME");
  if (!home) return refuse("neither XDG_DATA_HOME nor HOME is set");
  if (std::filesystem::path(*home).is_relative())
    return refuse("HOME (\"" + *home + "\") is not an absolute folder");
  return std::filesystem::path(*home) / ".local" / "share" / "scribbix" / "machine";
}

std::optional<std::filesystem::path> resolve_root(std::string* why) {
  {
    std::lock_guard lock(g_mutex);
    if (g_root) return *g_root;
  }
  if (auto env = environment(kRootEnvironmentVariable)) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(*env, ec);
    if (ec) {
      if (why != nullptr) *why = std::string(kRootEnvironmentVariable) + " names no usable folder";
      return std::nullopt;
    }
    return absolute;
  }
  return default_root(why);
}

std::filesystem::path root() {
  std::string why;
  if (auto dir = resolve_root(&why)) return *dir;
  throw std::runtime_error("no machine root: " + why);
}

void set_root(const std::filesystem::path& dir) {
  if (dir.empty()) throw std::invalid_argument("the machine folder is empty");
  std::lock_guard lock(g_mutex);
  g_root = std::filesystem::absolute(dir);
  ::setenv(kRootEnvironmentVariable, g_root->c_str(), 1);
  ++g_generation;
}

unsigned root_generation() { return g_generation.load(); }

bool holds_machine(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const char* sub : kFixedFolders) {
    if (!std::filesystem::is_directory(dir / sub, ec)) return false;
  }
  return true;
}

bool create_machine(const std::filesystem::path& dir, std::string* why) {
  std::error_code ec;
  for (const char* sub : kFixedFolders) {
    std::filesystem::create_directories(dir / sub, ec);
    if (ec) {
      if (why) *why = "cannot create " + (dir / sub).string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace sx::machine
