#include "ui/outlook_bar.h"

#include <cstdio>

#include "objects/errors.h"
#include "objects/session.h"
#include "sx/outlook/user_settings.h"
#include "sx/paths.h"
#include "ui/settings_text.h"

namespace sx::outlook {

namespace {

constexpr char kHeader[] = "Outlook Bar 1";
constexpr char kFolderWindowsPath[] =
    "C:\\Documents and Settings\\User\\Application Data\\Microsoft\\Outlook\\";

std::shared_ptr<GroupNode> group(const char* name) {
  auto g = std::make_shared<GroupNode>();
  g->name = name;
  return g;
}

// A shortcut to the default store's folder of `role`, when there is one.
void add_default(GroupNode& g, Session& session, FolderRole role, const char* name) {
  try {
    const std::vector<OpenStore>& stores = session.stores();
    if (stores.empty()) return;
    const StoreModel& m = fresh(*stores.front().store);
    std::vector<std::uint32_t> queue = {format::kRootFolderId};
    for (std::size_t i = 0; i < queue.size(); ++i) {
      const FolderState* f = m.folder(queue[i]);
      if (f == nullptr) continue;
      if (f->record.role == role) {
        auto s = std::make_shared<ShortcutNode>();
        s->name = name;
        s->is_folder = true;
        s->store_path = stores.front().windows_path;
        s->folder_id = f->record.id;
        g.shortcuts.push_back(std::move(s));
        return;
      }
      queue.insert(queue.end(), f->children.begin(), f->children.end());
    }
  } catch (const OutlookError&) {
    // a store that cannot be read has no default shortcuts
  }
}

}  // namespace

std::filesystem::path OutlookBar::file_of(const std::string& profile) {
  std::string name;
  for (char c : profile)
    name += sx::paths::is_illegal_name_char(c) || c == '\\' || c == '/' ? '_' : c;
  return sx::paths::to_host(std::string(kFolderWindowsPath) + name + ".fav");
}

std::shared_ptr<OutlookBar> OutlookBar::for_profile(const std::string& profile, Session& session) {
  auto bar = std::make_shared<OutlookBar>();
  bar->profile_ = profile;
  const std::filesystem::path path = file_of(profile);
  if (const auto text = settings_text::read_file(path)) {
    std::string why;
    if (auto groups = read_groups(*text, &why)) {
      bar->groups_ = std::move(*groups);
      return bar;
    }
    settings_text::keep_damaged(path, why);
  }
  auto shortcuts = group("Outlook Shortcuts");
  add_default(*shortcuts, session, FolderRole::kInbox, "Inbox");
  add_default(*shortcuts, session, FolderRole::kContacts, "Contacts");
  bar->groups_ = {shortcuts, group("My Shortcuts"), group("Other Shortcuts")};
  return bar;
}

void OutlookBar::changed() {
  std::string why;
  if (!settings_text::replace_file(file_of(profile_), write_groups(groups_), &why))
    std::fprintf(stderr, "Outlook: the Outlook Bar was not saved: %s\n", why.c_str());
}

std::string write_groups(const std::vector<std::shared_ptr<GroupNode>>& groups) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& g : groups) {
    if (g->deleted) continue;
    out += settings_text::join({"group", g->name}) + "\n";
    for (const auto& s : g->shortcuts) {
      if (s->deleted) continue;
      out += (s->is_folder ? settings_text::join({"shortcut", s->name, "folder", s->store_path,
                                                  std::to_string(s->folder_id)})
                           : settings_text::join({"shortcut", s->name, "text", s->text})) +
             "\n";
    }
  }
  return out;
}

std::optional<std::vector<std::shared_ptr<GroupNode>>> read_groups(const std::string& text,
                                                                   std::string* why) {
  std::vector<std::shared_ptr<GroupNode>> groups;
  auto record = [&](const std::vector<std::string>& f) -> const char* {
    if (f[0] == "group" && f.size() == 2 && !f[1].empty()) {
      groups.push_back(group(f[1].c_str()));
      return nullptr;
    }
    if (f[0] != "shortcut" || groups.empty() || f.size() < 4) return "an unknown record";
    auto s = std::make_shared<ShortcutNode>();
    s->name = f[1];
    if (f[2] == "folder" && f.size() == 5) {
      s->is_folder = true;
      s->store_path = f[3];
      std::uint64_t id = 0;
      if (f[4].empty() || f[4].size() > 10) return "a bad folder id";
      for (char c : f[4]) {
        if (c < '0' || c > '9') return "a bad folder id";
        id = id * 10 + static_cast<std::uint64_t>(c - '0');
      }
      if (id > 0xFFFFFFFFu) return "a bad folder id";
      s->folder_id = static_cast<std::uint32_t>(id);
    } else if (f[2] == "text" && f.size() == 4) {
      s->text = f[3];
    } else {
      return "a bad shortcut";
    }
    groups.back()->shortcuts.push_back(std::move(s));
    return nullptr;
  };
  if (!settings_text::read_records(text, kHeader, record, why)) return std::nullopt;
  return groups;
}

}  // namespace sx::outlook

namespace sx::outlook {

bool read_outlook_bar_settings(const std::string& text, std::string* why) {
  return read_groups(text, why).has_value();
}

}  // namespace sx::outlook
