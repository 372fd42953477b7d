#include "sx/machine.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace sx::machine {
namespace {

std::mutex g_mutex;
std::optional<std::filesystem::path> g_root;  // set explicitly or taken from the environment
std::atomic<unsigned> g_generation{0};

}  // namespace

std::filesystem::path default_root() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
    return std::filesystem::path(xdg) / "scribbix" / "machine";
  }
  const char* home = std::getenv("HOME");
  std::filesystem::path base = (home != nullptr && *home != '\0') ? home : ".";
  return base / ".local" / "share" / "scribbix" / "machine";
}

std::filesystem::path root() {
  std::lock_guard lock(g_mutex);
  if (g_root) return *g_root;
  if (const char* env = std::getenv(kRootEnvironmentVariable); env != nullptr && *env != '\0') {
    return std::filesystem::absolute(env);
  }
  return default_root();
}

void set_root(const std::filesystem::path& dir) {
  std::lock_guard lock(g_mutex);
  g_root = std::filesystem::absolute(dir);
  ::setenv(kRootEnvironmentVariable, g_root->c_str(), 1);
  ++g_generation;
}

unsigned root_generation() { return g_generation.load(); }

std::optional<std::string> take_machine_option(int& argc, char** argv) {
  std::optional<std::string> result;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--machine") == 0) {
      if (i + 1 >= argc) throw std::invalid_argument("--machine needs a folder");
      result = argv[++i];
    } else if (std::strncmp(arg, "--machine=", 10) == 0) {
      if (arg[10] == '\0') throw std::invalid_argument("--machine needs a folder");
      result = arg + 10;
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  argv[argc] = nullptr;
  return result;
}

bool create_machine(const std::filesystem::path& dir, std::string* why) {
  std::error_code ec;
  for (const char* sub : {"drive_c", "handhelds"}) {
    std::filesystem::create_directories(dir / sub, ec);
    if (ec) {
      if (why) *why = "cannot create " + (dir / sub).string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace sx::machine
