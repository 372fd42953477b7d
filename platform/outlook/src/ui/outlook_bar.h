// The Outlook Bar of a profile as data: its groups in the pane's order and their shortcuts, kept
// in the profile's Outlook Bar file (docs/outlook-user-interface.md). Used on Outlook's thread
// only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sx::outlook {

class Session;

struct ShortcutNode {
  std::string name;
  // A folder: the Windows path of its store file and its folder id; otherwise `text`.
  bool is_folder = false;
  std::string store_path;
  std::uint32_t folder_id = 0;
  std::string text;
  bool deleted = false;
};

struct GroupNode {
  std::string name;
  std::vector<std::shared_ptr<ShortcutNode>> shortcuts;
  bool deleted = false;
};

class OutlookBar {
 public:
  // The profile's groups: its file's, else the defaults of a new profile ("Outlook Shortcuts" with
  // the default store's Inbox and Contacts, "My Shortcuts", "Other Shortcuts").
  static std::shared_ptr<OutlookBar> for_profile(const std::string& profile, Session& session);

  const std::string& profile() const { return profile_; }
  std::vector<std::shared_ptr<GroupNode>>& groups() { return groups_; }
  // Writes the profile's file; a failure is reported on stderr.
  void changed();

  static std::filesystem::path file_of(const std::string& profile);

 private:
  std::string profile_;
  std::vector<std::shared_ptr<GroupNode>> groups_;
};

std::string write_groups(const std::vector<std::shared_ptr<GroupNode>>& groups);
std::optional<std::vector<std::shared_ptr<GroupNode>>> read_groups(const std::string& text,
                                                                   std::string* why);

}  // namespace sx::outlook
