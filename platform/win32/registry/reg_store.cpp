#include "reg_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "reg_text.h"
#include "sx/kill_point.h"
#include "sx/machine.h"
#include "sx/registry_file.h"
#include "sx/stale_temporaries.h"
#include "win32/errors.h"

namespace sx::registry {
namespace {

// Temporary files: "registry.reg.tmp-<pid>" for a change, "registry.reg.new-<pid>" for a new file.
constexpr char kTempMarker[] = ".tmp-";
constexpr char kNewMarker[] = ".new-";

// Closes a file descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a failed close can mean lost data).
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::int64_t mtime_ns(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads at most `limit` bytes; false on a read error.
bool read_up_to(int fd, std::size_t limit, std::string* out) {
  out->clear();  // keeps what the caller reserved
  char buf[65536];
  while (out->size() < limit) {
    ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - out->size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

std::string error_text(int err) { return std::strerror(err); }

}  // namespace

Store::Identity Store::identity_of(const struct stat& st) {
  return Identity{true, static_cast<std::uint64_t>(st.st_dev),
                  static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
                  mtime_ns(st)};
}

Store& Store::instance() {
  // Never destroyed, so handles closed from other static destructors still find it.
  static Store* store = new Store;
  return *store;
}

Store::Store() : tree_(std::make_unique<Tree>()) {}

void Store::follow_machine() {
  unsigned generation = sx::machine::root_generation();
  if (generation == generation_ && !path_.empty()) return;
  generation_ = generation;
  path_ = sx::machine::root() / kFileName;
  replace_tree(std::make_unique<Tree>());
  loaded_ = Identity{};
  loaded_valid_ = false;
  damaged_ = false;
}

void Store::replace_tree(std::unique_ptr<Tree> tree) {
  tree_ = std::move(tree);
  ++epoch_;
}

void Store::refresh() {
  follow_machine();
  Identity now;
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) {
    now = identity_of(st);
  }
  if (loaded_valid_ && now == loaded_) return;
  load();
}

void Store::load() {
  const std::string file = path_.string();
  loaded_valid_ = true;
  damaged_ = false;
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    int err = errno;
    loaded_ = Identity{};
    if (err != ENOENT && ::stat(file.c_str(), &st) == 0) {
      std::fprintf(stderr, "registry: cannot read %s: %s\n", file.c_str(), error_text(err).c_str());
      // It may hold data we cannot see: keep it aside before any write replaces it.
      loaded_ = identity_of(st);
      damaged_ = true;
    }
    replace_tree(std::make_unique<Tree>());
    return;
  }
  loaded_ = identity_of(st);
  std::string text;
  text.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kMaxFileSize + 1));
  if (!read_up_to(fd.get(), kMaxFileSize + 1, &text)) {
    std::fprintf(stderr, "registry: cannot read %s: %s\n", file.c_str(), error_text(errno).c_str());
    damaged_ = true;
    text.clear();
  }
  if (text.size() > kMaxFileSize) {
    std::fprintf(stderr, "registry: %s is larger than %zu bytes; the rest is ignored\n",
                 file.c_str(), kMaxFileSize);
    damaged_ = true;
    text.resize(kMaxFileSize);
  }
  ParseResult parsed = parse_registry_text(text, [&file](int line, const std::string& problem) {
    std::fprintf(stderr, "registry: %s:%d: %s (ignored)\n", file.c_str(), line, problem.c_str());
  });
  if (parsed.problems > 0) damaged_ = true;
  replace_tree(std::make_unique<Tree>(std::move(parsed.tree)));
}

long Store::modify(const std::function<long(Tree&)>& change) {
  follow_machine();
  const std::string lock_path = path_.string() + ".lock";
  Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) {
    std::fprintf(stderr, "registry: cannot open %s: %s\n", lock_path.c_str(),
                 error_text(errno).c_str());
    return ERROR_CANTWRITE;
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    std::fprintf(stderr, "registry: cannot lock %s: %s\n", lock_path.c_str(),
                 error_text(errno).c_str());
    return ERROR_CANTWRITE;
  }
  refresh();  // another process may have written since our last look
  long rc = change(*tree_);
  if (rc == kUnchanged) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  const std::string text = format_registry_text(*tree_);
  if (text.size() > kMaxFileSize) {
    // Every reader would cut such a file off at the limit: refuse the change instead.
    loaded_valid_ = false;  // forget the change: the next call reloads what the file holds
    return ERROR_NO_SYSTEM_RESOURCES;
  }
  if ((damaged_ && !keep_damaged_copy()) || !write_file(text)) {
    loaded_valid_ = false;
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;  // closing `lock` releases the flock
}

bool Store::keep_damaged_copy() {
  if (!loaded_.exists) {
    damaged_ = false;
    return true;
  }
  const std::string file = path_.string();
  for (int n = 1; n <= 9999; ++n) {
    std::string copy = file + ".damaged-" + std::to_string(n);
    bool kept = ::link(file.c_str(), copy.c_str()) == 0;
    if (!kept && errno == EEXIST) continue;
    if (!kept) {  // no hard links here: copy the bytes instead
      std::error_code ec;
      kept = std::filesystem::copy_file(file, copy, ec);
      if (!kept && std::filesystem::exists(copy)) continue;
      if (!kept) {
        std::fprintf(stderr,
                     "registry: %s is damaged and cannot be kept as %s (%s); not replacing it\n",
                     file.c_str(), copy.c_str(), ec.message().c_str());
        return false;
      }
    }
    std::fprintf(stderr, "registry: %s was damaged; kept it as %s before replacing it\n",
                 file.c_str(), copy.c_str());
    damaged_ = false;
    return true;
  }
  std::fprintf(stderr,
               "registry: %s is damaged and every damaged-N name is taken; not replacing it\n",
               file.c_str());
  return false;
}

bool Store::write_file(const std::string& text) {
  const std::string file = path_.string();
  sx::stale::remove_temporaries(path_, kTempMarker);  // of writers killed before their rename
  const std::string temp = file + kTempMarker + std::to_string(::getpid());
  auto fail = [&](const char* what) {
    std::fprintf(stderr, "registry: cannot write %s (%s: %s)\n", file.c_str(), what,
                 error_text(errno).c_str());
    ::unlink(temp.c_str());
    return false;
  };
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) return fail("create");
  if (!write_all(fd.get(), text)) return fail("write");
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return fail("stat");
  // Timestamps are coarse (a clock tick): make sure readers see a different modification time.
  if (loaded_.exists && mtime_ns(st) <= loaded_.mtime_ns) {
    std::int64_t later = loaded_.mtime_ns + 1;
    struct timespec times[2] = {{0, UTIME_OMIT}, {later / 1000000000, later % 1000000000}};
    if (::futimens(fd.get(), times) != 0 || ::fstat(fd.get(), &st) != 0) return fail("set time");
  }
  if (!fd.close()) return fail("close");
  sx::kill_points::pass("registry-save");
  if (::rename(temp.c_str(), file.c_str()) != 0) return fail("rename");
  loaded_ = identity_of(st);
  loaded_valid_ = true;
  damaged_ = false;
  return true;
}

std::filesystem::path file_path() { return sx::machine::root() / kFileName; }

bool create_empty_file(std::string* why) {
  const std::string file = file_path().string();
  sx::stale::remove_temporaries(file_path(), kNewMarker);
  const std::string temp = file + kNewMarker + std::to_string(::getpid());
  std::string text(kHeader);
  text.append("\n\n");
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  bool ok = fd.get() >= 0 && write_all(fd.get(), text) && fd.close();
  // link() never replaces an existing registry, and the file appears whole or not at all.
  if (ok && ::link(temp.c_str(), file.c_str()) != 0 && errno != EEXIST) ok = false;
  int err = errno;
  ::unlink(temp.c_str());
  if (!ok && why) *why = "cannot write " + file + ": " + error_text(err);
  return ok;
}

}  // namespace sx::registry
