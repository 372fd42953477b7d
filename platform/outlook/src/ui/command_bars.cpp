#include "ui/command_bars.h"

#include <cstdio>

#include "objects/errors.h"
#include "sx/ascii.h"
#include "sx/outlook/user_settings.h"
#include "sx/paths.h"
#include "ui/settings_text.h"

namespace sx::outlook {

namespace {

constexpr char kSettingsWindowsPath[] =
    "C:\\Documents and Settings\\User\\Application Data\\Microsoft\\Outlook\\outcmd.dat";
constexpr char kHeader[] = "Outlook command bars 1";

struct BuiltIn {
  LONG id;
  LONG type;
  const char* caption;
  std::vector<LONG> children;
};

// Outlook's built-in commands as the stand-in knows them.
const std::vector<BuiltIn>& built_ins() {
  static const std::vector<BuiltIn> table = {
      {30002, msoControlPopup, "&File", {kCommandSave, kCommandClose, kCommandExit}},
      {kMenuEdit, msoControlPopup, "&Edit", {21, 19, 22, kCommandEditItem}},
      {30004, msoControlPopup, "&View", {}},
      {30007, msoControlPopup, "&Tools", {522}},
      {30131, msoControlPopup, "&Actions", {}},
      {30010, msoControlPopup, "&Help", {927}},
      {kCommandSave, msoControlButton, "&Save", {}},
      {kCommandClose, msoControlButton, "&Close", {}},
      {kCommandExit, msoControlButton, "E&xit", {}},
      {21, msoControlButton, "Cu&t", {}},
      {19, msoControlButton, "&Copy", {}},
      {22, msoControlButton, "&Paste", {}},
      {kCommandEditItem, msoControlButton, "Edit Ite&m", {}},
      {522, msoControlButton, "&Options...", {}},
      {927, msoControlButton, "&About Microsoft Outlook", {}},
      {4, msoControlButton, "&Print", {}},
      {478, msoControlButton, "&Delete", {}},
  };
  return table;
}

const BuiltIn* built_in(LONG id) {
  for (const BuiltIn& b : built_ins())
    if (b.id == id) return &b;
  return nullptr;
}

void append(BarNode& bar, std::shared_ptr<ControlNode> control) {
  control->owner = bar.controls;
  bar.controls->push_back(std::move(control));
}

std::shared_ptr<BarNode> make_bar(const char* name, LONG position, bool visible) {
  auto bar = std::make_shared<BarNode>();
  bar->name = name;
  bar->position = position;
  bar->visible = visible;
  bar->built_in = true;
  return bar;
}

// The built-in bars: "Menu Bar" with the menus (an explorer's File menu ends Outlook with Exit,
// an inspector's saves and closes the item) and "Standard".
std::vector<std::shared_ptr<BarNode>> default_bars(bool inspector) {
  auto menu = make_bar("Menu Bar", msoBarTop, true);
  for (LONG id : {30002, kMenuEdit, 30004, 30007, 30131, 30010}) {
    auto control = built_in_control(id);
    if (id == 30002) {  // File: an explorer has no Save, an inspector no Exit
      std::erase_if(*control->children, [&](const std::shared_ptr<ControlNode>& c) {
        return inspector ? c->id == kCommandExit : c->id == kCommandSave;
      });
    }
    if (id == kMenuEdit && !inspector) {
      std::erase_if(*control->children, [](const std::shared_ptr<ControlNode>& c) {
        return c->id == kCommandEditItem;
      });
    }
    append(*menu, control);
  }
  auto standard = make_bar("Standard", msoBarTop, true);
  for (LONG id : inspector ? std::vector<LONG>{kCommandSave, 4} : std::vector<LONG>{4, 478})
    append(*standard, built_in_control(id));
  return {menu, standard};
}

std::string flag(bool b) { return b ? "1" : "0"; }

void write_controls(const ControlList& list, int depth, std::string& out) {
  for (const auto& c : list) {
    if (c->temporary || c->deleted) continue;
    out += settings_text::join({"control", std::to_string(depth), std::to_string(c->type),
                                std::to_string(c->id), flag(c->built_in), flag(c->visible),
                                flag(c->enabled), flag(c->begin_group), std::to_string(c->face_id),
                                std::to_string(c->style), c->caption, c->tag, c->tooltip,
                                c->on_action, c->parameter});
    out += '\n';
    if (c->type == msoControlPopup) write_controls(*c->children, depth + 1, out);
  }
}

std::optional<LONG> number(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  long long value = 0;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return static_cast<LONG>(text[0] == '-' ? -value : value);
}

std::optional<bool> boolean(const std::string& text) {
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

}  // namespace

std::shared_ptr<ControlNode> built_in_control(LONG id) {
  const BuiltIn* b = built_in(id);
  if (b == nullptr) return nullptr;
  auto control = std::make_shared<ControlNode>();
  control->type = b->type;
  control->id = b->id;
  control->built_in = true;
  control->caption = b->caption;
  for (LONG child : b->children) {
    auto c = built_in_control(child);
    c->owner = control->children;
    control->children->push_back(std::move(c));
  }
  return control;
}

std::shared_ptr<ControlNode> find_control(const ControlList& list, bool recursive,
                                          const std::function<bool(const ControlNode&)>& match) {
  for (const auto& c : list) {
    if (c->deleted) continue;
    if (match(*c)) return c;
    if (recursive && c->type == msoControlPopup) {
      if (auto found = find_control(*c->children, true, match)) return found;
    }
  }
  return nullptr;
}

std::filesystem::path BarSet::settings_path() { return sx::paths::to_host(kSettingsWindowsPath); }

std::shared_ptr<BarSet> BarSet::for_explorers() {
  auto set = std::make_shared<BarSet>();
  set->persistent_ = true;
  const std::filesystem::path path = settings_path();
  if (const auto text = settings_text::read_file(path)) {
    std::string why;
    if (auto bars = read_bars(*text, &why)) {
      set->bars_ = std::move(*bars);
      // A settings file always has the built-in bars; one written by hand may lack them.
      for (auto& bar : default_bars(false))
        if (!set->find(bar->name)) set->bars_.push_back(bar);
      return set;
    }
    settings_text::keep_damaged(path, why);
  }
  set->bars_ = default_bars(false);
  return set;
}

std::shared_ptr<BarSet> BarSet::for_inspector() {
  auto set = std::make_shared<BarSet>();
  set->bars_ = default_bars(true);
  return set;
}

std::shared_ptr<BarNode> BarSet::find(const std::string& name) const {
  for (const auto& bar : bars_)
    if (!bar->deleted && sx::ascii::equal_ignoring_case(bar->name, name)) return bar;
  return nullptr;
}

void BarSet::changed() {
  if (!persistent_) return;
  std::string why;
  if (!settings_text::replace_file(settings_path(), write_bars(bars_), &why))
    std::fprintf(stderr, "Outlook: the command bars were not saved: %s\n", why.c_str());
}

std::string write_bars(const std::vector<std::shared_ptr<BarNode>>& bars) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& bar : bars) {
    if (bar->temporary || bar->deleted) continue;
    out += settings_text::join(
        {"bar", bar->name, std::to_string(bar->position), flag(bar->visible), flag(bar->built_in)});
    out += '\n';
    write_controls(*bar->controls, 1, out);
  }
  return out;
}

std::optional<std::vector<std::shared_ptr<BarNode>>> read_bars(const std::string& text,
                                                               std::string* why) {
  std::vector<std::shared_ptr<BarNode>> bars;
  // The control list at each depth of the bar being read: [0] the bar's, [1] the last popup's...
  std::vector<std::shared_ptr<ControlList>> open;
  auto record = [&](const std::vector<std::string>& f) -> const char* {
    if (f[0] == "bar" && f.size() == 5) {
      auto bar = std::make_shared<BarNode>();
      bar->name = f[1];
      const auto position = number(f[2]);
      const auto visible = boolean(f[3]);
      const auto built = boolean(f[4]);
      if (bar->name.empty() || !position || !visible || !built) return "a bad bar";
      bar->position = *position;
      bar->visible = *visible;
      bar->built_in = *built;
      open = {bar->controls};
      bars.push_back(std::move(bar));
      return nullptr;
    }
    if (f[0] != "control" || f.size() != 15) return "an unknown record";
    const auto depth = number(f[1]);
    const auto type = number(f[2]);
    const auto id = number(f[3]);
    const auto built = boolean(f[4]);
    const auto visible = boolean(f[5]);
    const auto enabled = boolean(f[6]);
    const auto group = boolean(f[7]);
    const auto face = number(f[8]);
    const auto style = number(f[9]);
    if (!depth || !type || !id || !built || !visible || !enabled || !group || !face || !style ||
        (*type != msoControlButton && *type != msoControlPopup))
      return "a bad control";
    if (*depth < 1 || static_cast<std::size_t>(*depth) > open.size())
      return "a control outside a bar or popup";
    open.resize(static_cast<std::size_t>(*depth));
    auto control = std::make_shared<ControlNode>();
    control->type = *type;
    control->id = *id;
    control->built_in = *built;
    control->visible = *visible;
    control->enabled = *enabled;
    control->begin_group = *group;
    control->face_id = *face;
    control->style = *style;
    control->caption = f[10];
    control->tag = f[11];
    control->tooltip = f[12];
    control->on_action = f[13];
    control->parameter = f[14];
    control->owner = open.back();
    open.back()->push_back(control);
    if (control->type == msoControlPopup) open.push_back(control->children);
    return nullptr;
  };
  if (!settings_text::read_records(text, kHeader, record, why)) return std::nullopt;
  return bars;
}

}  // namespace sx::outlook

namespace sx::outlook {

bool read_command_bar_settings(const std::string& text, std::string* why) {
  return read_bars(text, why).has_value();
}

}  // namespace sx::outlook
