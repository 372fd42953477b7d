// HotSync on the simulated machine: its keys, directory, users.dat, starter program and install
// aide, and its users with their handhelds. See sx/hotsync.h.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "hotsync/usermgr.h"
#include "registry_util.h"
#include "sx/clock.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "sx/version_stamp.h"
#include "users_file.h"

namespace fs = std::filesystem;

namespace sx::hotsync {
namespace {

bool set_why(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return false;
}

std::string shell_quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Holds the exclusive lock on "users.dat.lock" beside users.dat: every change of the user list
// reads, changes and replaces the file under it, so parallel writers lose nobody.
class UsersLock {
 public:
  explicit UsersLock(const std::string& dir) {
    const fs::path file = sx::paths::to_host(dir + "\\" + kUsersFile + ".lock");
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      why_ = "cannot open " + file.string() + ": " + std::strerror(errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      why_ = "cannot lock " + file.string() + ": " + std::strerror(errno);
      return;
    }
    locked_ = true;
  }
  ~UsersLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  UsersLock(const UsersLock&) = delete;
  UsersLock& operator=(const UsersLock&) = delete;
  bool locked(std::string* why) const { return locked_ || set_why(why, why_); }

 private:
  int fd_ = -1;
  bool locked_ = false;
  std::string why_;
};

std::string users_file(const std::string& dir) { return dir + "\\" + kUsersFile; }

// Reads users.dat. False with the reason when it cannot be read or is damaged (refused as a whole).
bool load_users(std::vector<CUser>* users, const std::string& dir, std::string* why) {
  CFile file;
  if (!file.Open(users_file(dir).c_str(), CFile::modeRead))
    return set_why(why, "cannot read " + users_file(dir));
  CArchive archive(&file, CArchive::load, 4096);
  std::string problem;
  if (!detail::parse_users_text(archive.Content(), users, &problem))
    return set_why(why, users_file(dir) + " is damaged (" + problem + ")");
  return true;
}

bool store_users(const std::vector<CUser>& users, const std::string& dir, std::string* why) {
  // Nothing may make the list unreadable: what its readers would refuse is never written.
  std::string problem;
  if (!detail::parse_users_text(detail::format_users_text(users), nullptr, &problem))
    return set_why(why, "the user list would be damaged (" + problem + "); it stays as it was");
  CFile file;
  if (!file.Open(users_file(dir).c_str(), CFile::modeCreate | CFile::modeWrite))
    return set_why(why, "cannot write " + users_file(dir));
  CArchive archive(&file, CArchive::store, 4096);
  archive.Write(detail::format_users_text(users));
  if (!file.Close()) return set_why(why, "cannot write " + users_file(dir));
  return true;
}

// Moves a damaged users.dat aside as "users.dat.damaged-<N>" (never over an earlier one) and
// returns that name; empty when it cannot be moved. Call with the users lock held.
std::string keep_aside(const std::string& dir) {
  const fs::path file = sx::paths::to_host(users_file(dir));
  for (int n = 1; n <= 9999; ++n) {
    const fs::path copy = file.string() + ".damaged-" + std::to_string(n);
    std::error_code ec;
    if (fs::exists(copy, ec)) continue;
    fs::rename(file, copy, ec);
    return ec ? std::string() : copy.filename().string();
  }
  return {};
}

}  // namespace

std::filesystem::path log_file(const std::string& folder) {
  return sx::paths::to_host(hotsync_dir() + "\\" + folder + "\\" + kLogFileName);
}

std::string hotsync_dir() {
  if (auto program = reg::read_string(kCoreKey, "HotSyncPath")) {
    const auto slash = program->find_last_of('\\');
    if (slash != std::string::npos) return program->substr(0, slash);
  }
  return reg::read_string(kCoreKey, "Path").value_or("");
}

bool install_hotsync(const InstallOptions& options, std::string* why, std::string* note) {
  if (note != nullptr) note->clear();
  const std::string dir = options.hotsync_dir;
  const fs::path host_dir = sx::paths::to_host(dir);
  if (host_dir.empty()) return set_why(why, "bad HotSync directory " + dir);
  std::error_code ec;
  fs::create_directories(host_dir, ec);
  if (ec) return set_why(why, "cannot make " + host_dir.string());
  if (!reg::write_string(kCoreKey, "Path", dir) ||
      !reg::write_string(kCoreKey, "HotSyncPath", dir + "\\HotSync.exe")) {
    return set_why(why, "cannot write HotSync's registry keys");
  }
  if (!reg::read_dword(kCoreKey, "PCID")) {
    std::random_device random;
    DWORD pc_id = 0;
    while (pc_id == 0) pc_id = random();
    if (!reg::write_dword(kCoreKey, "PCID", pc_id)) return set_why(why, "cannot write PCID");
  }
  {
    UsersLock lock(dir);
    if (!lock.locked(why)) return false;
    std::vector<CUser> users;
    std::string problem;
    const bool there = fs::exists(host_dir / kUsersFile, ec);
    if (there && !load_users(&users, dir, &problem)) {  // the users stay unless damaged
      const std::string kept = keep_aside(dir);
      if (kept.empty()) return set_why(why, problem + "; it cannot be kept aside, so it stays");
      if (note != nullptr)
        *note = problem + "; it is kept as " + kept + " and HotSync starts with no users";
    }
    if (!fs::exists(host_dir / kUsersFile, ec) && !store_users({}, dir, why)) return false;
  }
  if (!options.program.empty()) {
    const fs::path starter = host_dir / "HotSync.exe";
    {
      std::ofstream out(starter, std::ios::binary | std::ios::trunc);
      // The machine of the process that starts it (a copy of this machine for a preview), else
      // this one.
      out << "#!/bin/sh\n# HotSync Manager of this simulated machine\nmachine=${SX_MACHINE:-"
          << shell_quote(sx::machine::root().string()) << "}\nexec "
          << shell_quote(fs::absolute(options.program).string())
          << " --machine \"$machine\" \"$@\"\n";
      if (!out) return set_why(why, "cannot write " + starter.string());
    }
    ::chmod(starter.c_str(), 0755);
    sx::version::StampInfo info;
    info.values = {{"FileVersion", "6.0.1.0"},
                   {"ProductVersion", "6.0.1.0"},
                   {"InternalName", "HotSync"},
                   {"ProductName", "HotSync Manager"},
                   {"FileDescription", "HotSync Manager"}};
    if (!sx::version::stamp_file(starter, info, why)) return false;
  }
  if (!options.instaide.empty()) {
    fs::copy_file(options.instaide, host_dir / "instaide.dll", fs::copy_options::overwrite_existing,
                  ec);
    if (ec) return set_why(why, "cannot copy the install aide: " + ec.message());
  }
  return true;
}

bool read_users(std::vector<UserEntry>* out, std::string* why) {
  const std::string dir = hotsync_dir();
  if (dir.empty()) return set_why(why, "HotSync is not installed");
  std::vector<CUser> users;
  if (!load_users(&users, dir, why)) return false;
  out->clear();
  for (const CUser& u : users) out->push_back({u.GetName(), u.GetUserID(), u.GetDirName()});
  return true;
}

bool add_user(const std::string& name, DWORD user_id, std::string directory, std::string* why) {
  const std::string dir = hotsync_dir();
  if (dir.empty()) return set_why(why, "HotSync is not installed");
  if (!detail::valid_user_name(name))
    return set_why(why, "a user name has 1 to 255 bytes without tab or line break");
  std::string problem;
  if (!directory.empty() && !detail::plain_folder_name(directory, &problem))
    return set_why(why, problem);
  {
    UsersLock lock(dir);
    if (!lock.locked(why)) return false;
    std::vector<CUser> users;
    if (!load_users(&users, dir, why)) return false;
    const CUser* holder = nullptr;
    auto taken = [&](const std::string& candidate) {
      for (const CUser& u : users) {
        if (detail::same_folder(candidate, u.GetDirName())) return holder = &u, true;
      }
      return false;
    };
    for (const CUser& u : users) {
      if (name == u.GetName())
        return set_why(why, "there is a HotSync user \"" + name + "\" already");
    }
    if (directory.empty()) {
      std::string base;
      for (unsigned char c : name) {
        if (std::isalnum(c) && base.size() < 16) base += static_cast<char>(c);
      }
      if (base.empty()) base = "User";
      // A name whose folder would be a device (CON, COM1, ...) gets a number, as a name that
      // clashes with another user's folder does.
      auto unusable = [&](const std::string& candidate) {
        return taken(candidate) || !detail::plain_folder_name(candidate, nullptr);
      };
      directory = base;
      for (int n = 2; unusable(directory); ++n) directory = base + std::to_string(n);
    } else if (taken(directory)) {
      return set_why(why, "the directory \"" + directory + "\" is the user \"" + holder->GetName() +
                              "\"'s already (drive C: does not tell letter case apart)");
    }
    if (users.size() >= detail::kMaxUsers) return set_why(why, "HotSync has 4096 users already");
    users.emplace_back(name, user_id, directory);
    if (!store_users(users, dir, why)) return false;
  }
  std::error_code ec;
  fs::create_directories(sx::paths::to_host(dir + "\\" + directory), ec);
  const fs::path handheld = handheld_dir(directory);
  if (fs::exists(handheld / "device.txt", ec)) return true;  // a handheld that is there stays
  DeviceInfo device;
  device.user_name = name;
  device.user_id = user_id;
  return write_device(handheld, device, why);
}

}  // namespace sx::hotsync
