// HotSync's user list over users.dat; see hotsync/usermgr.h for the format.
#include "hotsync/usermgr.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr const char* kMagicLine = "HotSync users 1";
constexpr std::size_t kMaxUsers = 4096;
constexpr std::size_t kMaxNameBytes = 255;

bool clean_field(const std::string& s) {
  return !s.empty() && s.size() <= kMaxNameBytes && s.find_first_of("\t\r\n") == std::string::npos;
}

bool parse_user_line(const std::string& line, CUser* user) {
  const auto tab1 = line.find('\t');
  if (tab1 != 8) return false;
  const auto tab2 = line.find('\t', tab1 + 1);
  if (tab2 == std::string::npos) return false;
  const std::string id_text = line.substr(0, tab1);
  errno = 0;
  char* end = nullptr;
  const unsigned long id = std::strtoul(id_text.c_str(), &end, 16);
  if (errno != 0 || *end != '\0' || id > 0xFFFFFFFFul) return false;
  std::string directory = line.substr(tab1 + 1, tab2 - tab1 - 1);
  std::string name = line.substr(tab2 + 1);
  if (!clean_field(directory) || !clean_field(name)) return false;
  *user = CUser(std::move(name), static_cast<DWORD>(id), std::move(directory));
  return true;
}

}  // namespace

CUserMgr::CUserMgr() = default;
CUserMgr::~CUserMgr() = default;

BOOL CUserMgr::Serialize(CArchive& archive) {
  if (archive.IsStoring()) {
    std::string text = std::string(kMagicLine) + "\r\n";
    for (const CUser& u : users_) {
      char id[16];
      std::snprintf(id, sizeof id, "%08lX", static_cast<unsigned long>(u.GetUserID()));
      text += std::string(id) + "\t" + u.GetDirName() + "\t" + u.GetName() + "\r\n";
    }
    archive.Write(text);
    return TRUE;
  }
  users_.clear();
  next_ = 0;
  std::istringstream in(archive.Content());
  std::string line;
  bool first = true;
  std::vector<CUser> loaded;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      if (line != kMagicLine) return FALSE;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    CUser user;
    if (loaded.size() >= kMaxUsers || !parse_user_line(line, &user)) return FALSE;
    loaded.push_back(std::move(user));
  }
  if (first) return FALSE;  // empty file: not a user list
  users_ = std::move(loaded);
  return TRUE;
}

CUser* CUserMgr::FindFirst() {
  next_ = 0;
  return FindNext();
}

CUser* CUserMgr::FindNext() {
  if (next_ >= users_.size()) return nullptr;
  return &users_[next_++];
}

CUser* CUserMgr::FindByName(const char* name) {
  if (name == nullptr) return nullptr;
  for (CUser& u : users_) {
    if (std::string(u.GetName()) == name) return &u;
  }
  return nullptr;
}

BOOL CUserMgr::AddUser(const char* name, DWORD user_id, const char* directory) {
  if (name == nullptr || directory == nullptr || !clean_field(name) || !clean_field(directory) ||
      FindByName(name) != nullptr || users_.size() >= kMaxUsers) {
    return FALSE;
  }
  for (const CUser& u : users_) {
    if (std::string(u.GetDirName()) == directory) return FALSE;
  }
  users_.emplace_back(name, user_id, directory);
  return TRUE;
}
