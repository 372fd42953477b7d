// HotSync's user list over users.dat; see hotsync/usermgr.h for the format.
#include "hotsync/usermgr.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sx/ascii.h"
#include "users_file.h"

namespace sx::hotsync::detail {
namespace {

constexpr const char* kMagicLine = "HotSync users 1";

bool fail(std::string* why, std::size_t line, const std::string& text) {
  if (why != nullptr) *why = "line " + std::to_string(line) + ": " + text;
  return false;
}

bool parse_user_line(const std::string& line, std::size_t number, CUser* user, std::string* why) {
  const auto tab1 = line.find('\t');
  const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
  if (tab1 != 8 || tab2 == std::string::npos) {
    return fail(why, number, "not \"<8 hex digits> TAB <directory> TAB <name>\"");
  }
  const std::string id_text = line.substr(0, tab1);
  if (id_text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return fail(why, number, "the user ID \"" + id_text + "\" is not 8 hex digits");
  const unsigned long id = std::strtoul(id_text.c_str(), nullptr, 16);
  std::string directory = line.substr(tab1 + 1, tab2 - tab1 - 1);
  std::string name = line.substr(tab2 + 1);
  std::string reason;
  if (!plain_folder_name(directory, &reason)) return fail(why, number, reason);
  if (!valid_user_name(name))
    return fail(why, number, "the user name is empty, longer than 255 bytes or has a tab or a NUL");
  *user = CUser(std::move(name), static_cast<DWORD>(id), std::move(directory));
  return true;
}

}  // namespace

bool plain_folder_name(const std::string& name, std::string* why) {
  auto refuse = [&](const std::string& text) {
    if (why != nullptr) *why = "the directory \"" + name + "\" " + text;
    return false;
  };
  if (name.empty()) return refuse("is empty");
  if (name.size() > kMaxNameBytes) return refuse("is longer than 255 bytes");
  if (name == "." || name == "..") return refuse("is not a folder name");
  for (unsigned char c : name) {
    if (c < 0x20 || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
      return refuse(
          "is not one plain folder name (it has \\ / : * ? \" < > | or a control character)");
  }
  if (name.back() == ' ' || name.back() == '.') return refuse("ends in a space or a dot");
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = sx::ascii::to_lower(c);
  static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if ((stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) && stem.size() == 4 &&
      stem[3] >= '1' && stem[3] <= '9')
    device = true;
  if (device) return refuse("is the name of a device");
  return true;
}

bool valid_user_name(const std::string& name) {
  return !name.empty() && name.size() <= kMaxNameBytes &&
         name.find_first_of(std::string_view("\t\r\n\0", 4)) == std::string::npos;
}

bool same_folder(const std::string& a, const std::string& b) {
  return sx::ascii::equal_ignoring_case(a, b);
}

bool parse_users_text(const std::string& text, std::vector<CUser>* users, std::string* why) {
  std::vector<CUser> loaded;
  std::size_t start = 0, number = 0;
  while (start < text.size()) {
    ++number;
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      return fail(why, number, "the file ends inside this line (it was cut short)");
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line != kMagicLine) return fail(why, 1, "not \"HotSync users 1\": not a user list");
      continue;
    }
    if (line.empty()) continue;
    if (loaded.size() >= kMaxUsers) return fail(why, number, "more than 4096 users");
    CUser user;
    if (!parse_user_line(line, number, &user, why)) return false;
    loaded.push_back(std::move(user));
  }
  if (number == 0) {
    if (why != nullptr) *why = "the file is empty";
    return false;
  }
  if (users != nullptr) *users = std::move(loaded);
  return true;
}

std::string format_users_text(const std::vector<CUser>& users) {
  std::string text = std::string(kMagicLine) + "\r\n";
  for (const CUser& u : users) {
    char id[16];
    std::snprintf(id, sizeof id, "%08lX", static_cast<unsigned long>(u.GetUserID()));
    text += std::string(id) + "\t" + u.GetDirName() + "\t" + u.GetName() + "\r\n";
  }
  return text;
}

}  // namespace sx::hotsync::detail

using sx::hotsync::detail::kMaxUsers;

CUserMgr::CUserMgr() = default;
CUserMgr::~CUserMgr() = default;

BOOL CUserMgr::Serialize(CArchive& archive) {
  if (archive.IsStoring()) {
    archive.Write(sx::hotsync::detail::format_users_text(users_));
    return TRUE;
  }
  users_.clear();
  next_ = 0;
  std::vector<CUser> loaded;
  if (!sx::hotsync::detail::parse_users_text(archive.Content(), &loaded, nullptr)) return FALSE;
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
  if (name == nullptr || directory == nullptr || !sx::hotsync::detail::valid_user_name(name) ||
      !sx::hotsync::detail::plain_folder_name(directory, nullptr) || FindByName(name) != nullptr ||
      users_.size() >= kMaxUsers) {
    return FALSE;
  }
  for (const CUser& u : users_) {
    if (sx::hotsync::detail::same_folder(u.GetDirName(), directory)) return FALSE;
  }
  users_.emplace_back(name, user_id, directory);
  return TRUE;
}
