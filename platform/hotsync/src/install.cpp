// HotSync on the simulated machine: its keys, directory, users.dat, starter program and install
// aide, and its users with their handhelds. See sx/hotsync.h.
#include <sys/stat.h>
#include <fstream>
#include <random>

#include "hotsync/usermgr.h"
#include "registry_util.h"
#include "sx/clock.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "sx/version_stamp.h"

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

bool load_users(CUserMgr* users, const std::string& dir, std::string* why) {
  CFile file;
  if (!file.Open((dir + "\\" + kUsersFile).c_str(), CFile::modeRead)) {
    return set_why(why, "cannot read " + dir + "\\" + kUsersFile);
  }
  CArchive archive(&file, CArchive::load, 4096);
  if (!users->Serialize(archive)) return set_why(why, dir + "\\" + kUsersFile + " is damaged");
  return true;
}

bool store_users(CUserMgr* users, const std::string& dir, std::string* why) {
  CFile file;
  if (!file.Open((dir + "\\" + kUsersFile).c_str(), CFile::modeCreate | CFile::modeWrite)) {
    return set_why(why, "cannot write " + dir + "\\" + kUsersFile);
  }
  CArchive archive(&file, CArchive::store, 4096);
  users->Serialize(archive);
  if (!file.Close()) return set_why(why, "cannot write " + dir + "\\" + kUsersFile);
  return true;
}

}  // namespace

std::string hotsync_dir() {
  if (auto program = reg::read_string(kCoreKey, "HotSyncPath")) {
    const auto slash = program->find_last_of('\\');
    if (slash != std::string::npos) return program->substr(0, slash);
  }
  return reg::read_string(kCoreKey, "Path").value_or("");
}

bool install_hotsync(const InstallOptions& options, std::string* why) {
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
  if (!fs::exists(host_dir / kUsersFile, ec)) {
    CUserMgr empty;
    if (!store_users(&empty, dir, why)) return false;
  }
  if (!options.program.empty()) {
    const fs::path starter = host_dir / "HotSync.exe";
    {
      std::ofstream out(starter, std::ios::binary | std::ios::trunc);
      out << "#!/bin/sh\n# HotSync Manager of this simulated machine\nexec "
          << shell_quote(fs::absolute(options.program).string()) << " --machine "
          << shell_quote(sx::machine::root().string()) << " \"$@\"\n";
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
  CUserMgr users;
  if (!load_users(&users, dir, why)) return false;
  out->clear();
  for (CUser* u = users.FindFirst(); u != nullptr; u = users.FindNext()) {
    out->push_back({u->GetName(), u->GetUserID(), u->GetDirName()});
  }
  return true;
}

bool add_user(const std::string& name, DWORD user_id, std::string directory, std::string* why) {
  const std::string dir = hotsync_dir();
  if (dir.empty()) return set_why(why, "HotSync is not installed");
  CUserMgr users;
  if (!load_users(&users, dir, why)) return false;
  if (users.FindByName(name.c_str()) != nullptr) return set_why(why, "user exists: " + name);
  if (directory.empty()) {
    std::string base;
    for (unsigned char c : name) {
      if (std::isalnum(c) && base.size() < 16) base += static_cast<char>(c);
    }
    if (base.empty()) base = "User";
    auto taken = [&](const std::string& candidate) {
      for (CUser* u = users.FindFirst(); u != nullptr; u = users.FindNext()) {
        if (candidate == u->GetDirName()) return true;
      }
      return false;
    };
    directory = base;
    for (int n = 2; taken(directory); ++n) directory = base + std::to_string(n);
  }
  if (!users.AddUser(name.c_str(), user_id, directory.c_str())) {
    return set_why(why,
                   "bad or taken user name or directory: \"" + name + "\", \"" + directory + "\"");
  }
  if (!store_users(&users, dir, why)) return false;
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
