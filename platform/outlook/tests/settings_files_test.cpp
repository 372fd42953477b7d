// The user's settings files of Outlook's windows: what is written reads back the same, whatever
// the texts hold; what is temporary is never written; a damaged file is refused with where.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include "sx/outlook/user_settings.h"
#include "ui/command_bars.h"
#include "ui/outlook_bar.h"
#include "ui/settings_text.h"

namespace sx::outlook {
namespace {

std::shared_ptr<ControlNode> control(const std::string& caption, LONG type = msoControlButton) {
  auto c = std::make_shared<ControlNode>();
  c->caption = caption;
  c->type = type;
  return c;
}

// The bars as text again (what a second write would give): equal texts, equal bars.
std::string round_trip(const std::vector<std::shared_ptr<BarNode>>& bars) {
  std::string why;
  auto read = read_bars(write_bars(bars), &why);
  EXPECT_TRUE(read) << why;
  return read ? write_bars(*read) : "";
}

RC_GTEST_PROP(SettingsText, AnyFieldsReadBackAsWritten, (const std::vector<std::string>& fields)) {
  RC_PRE(!fields.empty());
  const auto read = settings_text::split(settings_text::join(fields));
  RC_ASSERT(read.has_value());
  RC_ASSERT(*read == fields);
}

TEST(CommandBarFile, BarsAndNestedControlsReadBackWithTheirTextsButNotWhatIsTemporary) {
  auto bar = std::make_shared<BarNode>();
  bar->name = "Tab\there";
  bar->position = msoBarTop;
  bar->visible = true;
  auto popup = control("&Menu\nwith a line", msoControlPopup);
  auto inner = control("back\\slash");
  inner->tag = "T";
  inner->on_action = "!<X.Connect>";
  inner->face_id = 2687;
  inner->style = msoButtonIconAndCaption;
  popup->children->push_back(inner);
  auto gone = control("temporary");
  gone->temporary = true;
  bar->controls->push_back(popup);
  bar->controls->push_back(gone);
  bar->controls->push_back(control("after"));
  auto temporary_bar = std::make_shared<BarNode>();
  temporary_bar->name = "Temp";
  temporary_bar->temporary = true;

  std::string why;
  const std::string text = write_bars({bar, temporary_bar});
  EXPECT_EQ(text.find("temporary"), std::string::npos);
  EXPECT_EQ(text.find("Temp\t"), std::string::npos);
  auto read = read_bars(text, &why);
  ASSERT_TRUE(read) << why;
  ASSERT_EQ(read->size(), 1u);
  const BarNode& b = *read->front();
  EXPECT_EQ(b.name, "Tab\there");
  ASSERT_EQ(b.controls->size(), 2u);
  const ControlNode& p = *b.controls->at(0);
  EXPECT_EQ(p.caption, "&Menu\nwith a line");
  ASSERT_EQ(p.children->size(), 1u);
  const ControlNode& i = *p.children->at(0);
  EXPECT_EQ(i.caption, "back\\slash");
  EXPECT_EQ(i.on_action, "!<X.Connect>");
  EXPECT_EQ(i.face_id, 2687);
  EXPECT_EQ(i.style, msoButtonIconAndCaption);
  EXPECT_EQ(b.controls->at(1)->caption, "after");
  EXPECT_EQ(round_trip(*read), text);
}

TEST(CommandBarFile, DamagedTextsAreRefusedWithTheLine) {
  const std::string header = "Outlook command bars 1\n";
  const std::string bar = "bar\tB\t1\t1\t0\n";
  // visible, enabled, begin group, face, style, caption, tag, tooltip, action, parameter
  const std::string button = "\t1\t1\t0\t0\t0\tC\t\t\t\t\n";
  const struct {
    std::string text;
    const char* why;
  } cases[] = {
      {"", "an empty file"},
      {"Outlook command bars 2\n", "unknown header at line 1"},
      {header + "control\t1\t1\t1\t0" + button, "a control outside a bar or popup at line 2"},
      {header + bar + "control\t2\t1\t1\t0" + button, "a control outside a bar or popup at line 3"},
      {header + bar + "control\t1\t7\t1\t0" + button, "a bad control at line 3"},
      {header + "bar\tB\tx\t1\t0\n", "a bad bar at line 2"},
      {header + "bar\tB\\q\t1\t1\t0\n", "a badly escaped field at line 2"},
      {header + "toolbar\n", "an unknown record at line 2"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(read_command_bar_settings(c.text, &why)) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
  std::string why;
  EXPECT_TRUE(read_command_bar_settings(header + bar + "control\t1\t1\t1\t0" + button, &why))
      << why;
}

TEST(OutlookBarFile, GroupsAndShortcutsReadBackInOrder) {
  auto g = std::make_shared<GroupNode>();
  g->name = "My\tGroup";
  auto folder = std::make_shared<ShortcutNode>();
  folder->name = "Notes";
  folder->is_folder = true;
  folder->store_path = "C:\\Vorlan.pst";
  folder->folder_id = 4294967295u;
  auto text = std::make_shared<ShortcutNode>();
  text->name = "Site";
  text->text = "http://example.invalid/";
  auto removed = std::make_shared<ShortcutNode>();
  removed->name = "Removed";
  removed->deleted = true;
  g->shortcuts = {folder, removed, text};
  auto empty = std::make_shared<GroupNode>();
  empty->name = "Empty";
  std::string why;
  auto read = read_groups(write_groups({g, empty}), &why);
  ASSERT_TRUE(read) << why;
  ASSERT_EQ(read->size(), 2u);
  EXPECT_EQ(read->at(0)->name, "My\tGroup");
  ASSERT_EQ(read->at(0)->shortcuts.size(), 2u);
  EXPECT_EQ(read->at(0)->shortcuts[0]->store_path, "C:\\Vorlan.pst");
  EXPECT_EQ(read->at(0)->shortcuts[0]->folder_id, 4294967295u);
  EXPECT_EQ(read->at(0)->shortcuts[1]->text, "http://example.invalid/");
  EXPECT_EQ(read->at(1)->name, "Empty");

  for (const char* bad : {"Outlook Bar 1\nshortcut\tS\ttext\tT\n",  // before any group
                          "Outlook Bar 1\ngroup\tG\nshortcut\tS\tfolder\tC:\\a.pst\t4294967296\n",
                          "Outlook Bar 1\ngroup\tG\nshortcut\tS\tfolder\tC:\\a.pst\t-1\n",
                          "Outlook Bar 1\ngroup\t\n"}) {
    EXPECT_FALSE(read_outlook_bar_settings(bad, &why)) << bad;
  }
}

}  // namespace
}  // namespace sx::outlook
