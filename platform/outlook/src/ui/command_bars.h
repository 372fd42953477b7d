// The command bars of Outlook's windows as data: bars, their controls (popups hold controls of
// their own), the built-in bars of explorers and inspectors, and the user's command bar settings
// file that keeps the bars and controls that are not temporary from one Outlook run to the next
// (docs/outlook-user-interface.md). Used on Outlook's thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "objects/events.h"
#include "outlook/office.h"

namespace sx::outlook {

struct ControlNode;
using ControlList = std::vector<std::shared_ptr<ControlNode>>;

struct ControlNode {
  LONG type = msoControlButton;
  LONG id = 1;  // 1: custom; else the built-in command
  bool built_in = false;
  std::string caption, tag, tooltip, on_action, parameter;
  LONG face_id = 0;
  LONG style = msoButtonAutomatic;
  bool visible = true, enabled = true, begin_group = false;
  bool temporary = false;
  bool deleted = false;
  std::shared_ptr<ControlList> children = std::make_shared<ControlList>();  // a popup's controls
  std::weak_ptr<ControlList> owner;                                         // where it sits
  Sinks<CommandBarButtonEvents> sinks;  // Click sinks of a control without a Tag
};

struct BarNode {
  std::string name;
  LONG position = msoBarFloating;
  bool visible = false;
  bool built_in = false;
  bool temporary = false;
  bool deleted = false;
  std::shared_ptr<ControlList> controls = std::make_shared<ControlList>();
};

// The bars of one window kind: the explorers' set (shared by every explorer, kept in the settings
// file) or one inspector's.
class BarSet {
 public:
  // The explorers' bars: the settings file's, else the built-in ones.
  static std::shared_ptr<BarSet> for_explorers();
  // A new inspector's built-in bars (never kept).
  static std::shared_ptr<BarSet> for_inspector();

  std::vector<std::shared_ptr<BarNode>>& bars() { return bars_; }
  std::shared_ptr<BarNode> find(const std::string& name) const;  // without regard to case
  // Writes the settings file when this is the explorers' set; a failure is reported on stderr and
  // the bars stay as they are in memory.
  void changed();

  // Runs a built-in command of a control of this set (Exit, Close, Save, Edit Item); false when
  // the command does nothing here.
  std::function<bool(LONG id)> run_command;

  // The host path of the user's command bar settings file.
  static std::filesystem::path settings_path();

 private:
  bool persistent_ = false;
  std::vector<std::shared_ptr<BarNode>> bars_;
};

// A copy of the built-in control `id` (its caption, type and, for a popup, its controls); nothing
// for an id that is not one of Outlook's.
std::shared_ptr<ControlNode> built_in_control(LONG id);

// Built-in commands.
inline constexpr LONG kCommandSave = 3;
inline constexpr LONG kCommandClose = 106;
inline constexpr LONG kCommandExit = 752;
inline constexpr LONG kCommandEditItem = 3273;
inline constexpr LONG kMenuEdit = 30003;

// The first control under `list` (and inside popups when `recursive`) for which `match` holds.
std::shared_ptr<ControlNode> find_control(const ControlList& list, bool recursive,
                                          const std::function<bool(const ControlNode&)>& match);

// The settings file's text for these bars (what is not temporary) and back; nothing when the text
// is damaged (`why` says where).
std::string write_bars(const std::vector<std::shared_ptr<BarNode>>& bars);
std::optional<std::vector<std::shared_ptr<BarNode>>> read_bars(const std::string& text,
                                                               std::string* why);

}  // namespace sx::outlook
