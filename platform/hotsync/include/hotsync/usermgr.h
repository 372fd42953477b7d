// HotSync's users: the list kept in "users.dat" in HotSync's directory ("Core" value "Path").
//
// users.dat is a text file of our own (see docs/hotsync.md):
//   HotSync users 1
//   <user ID, 8 hex digits> TAB <directory name> TAB <user name>
// one line per user, in the order they were added, each ended by its line break. Names hold no tab,
// CR or LF; a directory is one plain folder name of drive C:. A file that does not follow this (one
// cut short inside its last line included) makes Serialize fail and leaves the manager empty.
// One thread at a time per object; never throws.
#pragma once

#include <string>
#include <vector>

#include "hotsync/archive.h"
#include "win32/types.h"

class CUser {
 public:
  CUser() = default;
  CUser(std::string name, DWORD user_id, std::string directory)
      : name_(std::move(name)), user_id_(user_id), directory_(std::move(directory)) {}
  const char* GetName() const { return name_.c_str(); }
  DWORD GetUserID() const { return user_id_; }
  // The user's folder name in HotSync's directory.
  const char* GetDirName() const { return directory_.c_str(); }

 private:
  std::string name_;
  DWORD user_id_ = 0;
  std::string directory_;
};

class CUserMgr {
 public:
  CUserMgr();
  ~CUserMgr();
  // Loads (archive loading) or writes (archive storing) the list. FALSE, and no users, when a
  // loaded file is damaged.
  BOOL Serialize(CArchive& archive);
  int GetUserCount() const { return static_cast<int>(users_.size()); }
  // The first user / the next one; null when there is none (left).
  CUser* FindFirst();
  CUser* FindNext();
  // The user with this name (exact), or null.
  CUser* FindByName(const char* name);
  // Adds a user; FALSE when the name is empty or holds a tab/CR/LF, the directory is not one plain
  // folder name, or either is taken (directories compare without regard to letter case, as drive
  // C: does).
  BOOL AddUser(const char* name, DWORD user_id, const char* directory);

 private:
  std::vector<CUser> users_;
  std::size_t next_ = 0;
};
