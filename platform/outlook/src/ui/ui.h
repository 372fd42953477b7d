// Outlook's windows: the open explorers and inspectors, the explorers' command bars, the Outlook
// Bar, and what clicks and closes do (docs/outlook-user-interface.md). One per Outlook, owned by
// the Application; used on Outlook's thread only. The classes of the objects that show them to
// COM clients are here too.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "objects/events.h"
#include "objects/objects.h"
#include "ui/command_bars.h"
#include "ui/outlook_bar.h"

namespace sx::outlook {

// The entries of a list that are not deleted (bars, controls, groups, shortcuts).
template <class Node>
std::vector<std::shared_ptr<Node>> alive(const std::vector<std::shared_ptr<Node>>& all) {
  std::vector<std::shared_ptr<Node>> out;
  for (const auto& n : all)
    if (!n->deleted) out.push_back(n);
  return out;
}

class ExplorerImpl;
class InspectorImpl;
using ExplorerPtr = sx::com::ComPtr<ExplorerImpl>;
using InspectorPtr = sx::com::ComPtr<InspectorImpl>;

class Ui {
 public:
  explicit Ui(ApplicationImpl& app) : app_(app) {}
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

  // --- explorers
  const std::vector<ExplorerPtr>& explorers() const { return explorers_; }
  // A new explorer on `folder` (none: the default store's Inbox, when there is a session).
  ExplorerPtr open_explorer(std::optional<FolderRef> folder, bool display);
  ExplorerImpl* active_explorer() const { return active_; }
  void activated(ExplorerImpl* explorer) { active_ = explorer; }
  // After an explorer's Close event: it leaves the list; Outlook ends when it was the last.
  void explorer_closed(ExplorerImpl* explorer);

  // --- inspectors
  const std::vector<InspectorPtr>& inspectors() const { return inspectors_; }
  Sinks<InspectorsEvents>& new_inspector_sinks() { return new_inspector_sinks_; }
  // The inspector open on this item object, or null.
  InspectorPtr inspector_of(const ItemImpl* item) const;
  // The inspector of this item object, opened when there is none (NewInspector raised).
  InspectorPtr inspector_for(const ItemPtr& item);
  void inspector_closed(InspectorImpl* inspector);

  // --- command bars
  std::shared_ptr<BarSet> explorer_bars();
  // Sinks of Click for buttons of a tag.
  Sinks<CommandBarButtonEvents>* click_sinks(const std::shared_ptr<ControlNode>& control);
  // A click on `control` of `bars` (Execute): the add-in of its OnAction loaded on demand, Click
  // raised, then its built-in command run unless a sink cancelled it. Throws OutlookError.
  void click(const std::shared_ptr<ControlNode>& control, const std::shared_ptr<BarSet>& bars);

  // --- the Outlook Bar of the logged-on profile
  std::shared_ptr<OutlookBar> outlook_bar();

  // Items of `folder` not seen by this Outlook before (saved there by another process since it
  // last looked); the first look at a folder sees everything that is there.
  std::vector<std::uint64_t> notice_items(const FolderRef& folder);
  void saw_item(const FolderRef& folder, std::uint64_t id);

  // Outlook ends: every window goes without events, every sink is let go.
  void shut_down();

 private:
  ApplicationImpl& app_;
  std::vector<ExplorerPtr> explorers_;
  ExplorerImpl* active_ = nullptr;
  std::vector<InspectorPtr> inspectors_;
  Sinks<InspectorsEvents> new_inspector_sinks_;
  std::shared_ptr<BarSet> explorer_bars_;
  std::map<std::string, Sinks<CommandBarButtonEvents>> click_sinks_by_tag_;
  std::shared_ptr<OutlookBar> outlook_bar_;
  std::map<FolderRef, std::set<std::uint64_t>> seen_;
  bool ending_ = false;
};

class ExplorersImpl : public OutlookObject<ExplorersImpl, _Explorers> {
 public:
  explicit ExplorersImpl(AppPtr app) : OutlookObject("Explorers"), app_(std::move(app)) {}
  static const Members<ExplorersImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, _Explorer** explorer) override;
  STDMETHODIMP Add(VARIANT folder, LONG display_mode, _Explorer** explorer) override;

 private:
  AppPtr app_;
};

class ExplorerImpl : public OutlookObject<ExplorerImpl, _Explorer, IConnectionPointContainer> {
 public:
  ExplorerImpl(AppPtr app, std::optional<FolderRef> folder)
      : OutlookObject("Explorer"), app_(std::move(app)), folder_(std::move(folder)) {}
  static const Members<ExplorerImpl>& members();
  bool shown() const { return shown_; }
  const std::optional<FolderRef>& folder() const { return folder_; }
  // Looks at the folder's items afresh: ItemAdd for what other processes saved there since.
  void look();
  // Outlook ends: closed without events.
  void drop() {
    closed_ = true;
    sinks_.clear();
  }
  // Closes it (Close raised first); Outlook ends when it was the last explorer.
  void close();

  STDMETHODIMP get_CurrentFolder(MAPIFolder** folder) override;
  STDMETHODIMP put_CurrentFolder(MAPIFolder* folder) override;
  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP Display() override;
  STDMETHODIMP Close() override;
  STDMETHODIMP get_CommandBars(_CommandBars** bars) override;
  STDMETHODIMP get_Panes(Panes** panes) override;
  STDMETHODIMP EnumConnectionPoints(void** enumerator) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

 private:
  void check_open() const;
  AppPtr app_;
  std::optional<FolderRef> folder_;
  bool shown_ = false;
  bool closed_ = false;
  Sinks<ExplorerEvents> sinks_;
};

class InspectorsImpl
    : public OutlookObject<InspectorsImpl, _Inspectors, IConnectionPointContainer> {
 public:
  explicit InspectorsImpl(AppPtr app) : OutlookObject("Inspectors"), app_(std::move(app)) {}
  static const Members<InspectorsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, _Inspector** inspector) override;
  STDMETHODIMP Add(IDispatch* item, _Inspector** inspector) override;
  STDMETHODIMP EnumConnectionPoints(void** enumerator) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

 private:
  AppPtr app_;
};

class InspectorImpl : public OutlookObject<InspectorImpl, _Inspector> {
 public:
  InspectorImpl(AppPtr app, ItemPtr item);
  // Its bars may outlive it (a client holds them): their commands go with it.
  ~InspectorImpl() override { bars_->run_command = nullptr; }
  static const Members<InspectorImpl>& members();
  const ItemPtr& item() const { return item_; }
  bool editing() const { return editing_; }
  bool shown() const { return shown_; }
  // Shows it; Read on its item the first time (a saved item).
  void show();
  // Closes it: the item's Close (a sink may cancel: false), the item saved or its changes dropped.
  bool close(LONG mode);
  void drop();  // Outlook ends

  STDMETHODIMP get_CurrentItem(IDispatch** item) override;
  STDMETHODIMP get_CommandBars(_CommandBars** bars) override;
  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP Display(VARIANT modal) override;
  STDMETHODIMP Close(LONG mode) override;
  STDMETHODIMP get_Editing(VARIANT_BOOL* editing) override;
  STDMETHODIMP TypeText(BSTR text) override;

 private:
  void check_open() const;
  bool run_command(LONG id);
  AppPtr app_;
  ItemPtr item_;
  std::shared_ptr<BarSet> bars_;
  bool editing_ = false;
  bool shown_ = false;
  bool read_raised_ = false;
  bool closed_ = false;
};

class PanesImpl : public OutlookObject<PanesImpl, Panes> {
 public:
  explicit PanesImpl(AppPtr app) : OutlookObject("Panes"), app_(std::move(app)) {}
  static const Members<PanesImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, IDispatch** pane) override;

 private:
  AppPtr app_;
};

class OutlookBarPaneImpl
    : public OutlookObject<OutlookBarPaneImpl, _OutlookBarPane, _OutlookBarStorage> {
 public:
  explicit OutlookBarPaneImpl(AppPtr app) : OutlookObject("OutlookBarPane"), app_(std::move(app)) {}
  static const Members<OutlookBarPaneImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Visible(VARIANT_BOOL* visible) override;
  STDMETHODIMP put_Visible(VARIANT_BOOL visible) override;
  STDMETHODIMP get_Contents(_OutlookBarStorage** contents) override;
  STDMETHODIMP get_Groups(_OutlookBarGroups** groups) override;

 private:
  AppPtr app_;
  bool visible_ = true;
};

class OutlookBarGroupsImpl : public OutlookObject<OutlookBarGroupsImpl, _OutlookBarGroups> {
 public:
  explicit OutlookBarGroupsImpl(AppPtr app)
      : OutlookObject("OutlookBarGroups"), app_(std::move(app)) {}
  static const Members<OutlookBarGroupsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, _OutlookBarGroup** group) override;
  STDMETHODIMP Add(BSTR name, VARIANT index, _OutlookBarGroup** group) override;
  STDMETHODIMP Remove(VARIANT index) override;

 private:
  AppPtr app_;
};

class OutlookBarGroupImpl : public OutlookObject<OutlookBarGroupImpl, _OutlookBarGroup> {
 public:
  OutlookBarGroupImpl(AppPtr app, std::shared_ptr<OutlookBar> bar, std::shared_ptr<GroupNode> group)
      : OutlookObject("OutlookBarGroup"),
        app_(std::move(app)),
        bar_(std::move(bar)),
        group_(std::move(group)) {}
  static const Members<OutlookBarGroupImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP put_Name(BSTR name) override;
  STDMETHODIMP get_Shortcuts(_OutlookBarShortcuts** shortcuts) override;

 private:
  GroupNode& live() const;
  AppPtr app_;
  std::shared_ptr<OutlookBar> bar_;
  std::shared_ptr<GroupNode> group_;
};

class OutlookBarShortcutsImpl
    : public OutlookObject<OutlookBarShortcutsImpl, _OutlookBarShortcuts> {
 public:
  OutlookBarShortcutsImpl(AppPtr app, std::shared_ptr<OutlookBar> bar,
                          std::shared_ptr<GroupNode> group)
      : OutlookObject("OutlookBarShortcuts"),
        app_(std::move(app)),
        bar_(std::move(bar)),
        group_(std::move(group)) {}
  static const Members<OutlookBarShortcutsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, _OutlookBarShortcut** shortcut) override;
  STDMETHODIMP Add(VARIANT target, BSTR name, VARIANT index,
                   _OutlookBarShortcut** shortcut) override;
  STDMETHODIMP Remove(VARIANT index) override;

 private:
  std::vector<std::shared_ptr<ShortcutNode>> live() const;
  AppPtr app_;
  std::shared_ptr<OutlookBar> bar_;
  std::shared_ptr<GroupNode> group_;
};

class OutlookBarShortcutImpl : public OutlookObject<OutlookBarShortcutImpl, _OutlookBarShortcut> {
 public:
  OutlookBarShortcutImpl(AppPtr app, std::shared_ptr<ShortcutNode> shortcut)
      : OutlookObject("OutlookBarShortcut"), app_(std::move(app)), shortcut_(std::move(shortcut)) {}
  static const Members<OutlookBarShortcutImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Target(VARIANT* target) override;

 private:
  AppPtr app_;
  std::shared_ptr<ShortcutNode> shortcut_;
};

class CommandBarsImpl : public OutlookObject<CommandBarsImpl, _CommandBars> {
 public:
  CommandBarsImpl(AppPtr app, std::shared_ptr<BarSet> bars)
      : OutlookObject("CommandBars"), app_(std::move(app)), bars_(std::move(bars)) {}
  static const Members<CommandBarsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, CommandBar** bar) override;
  STDMETHODIMP Add(VARIANT name, VARIANT position, VARIANT menu_bar, VARIANT temporary,
                   CommandBar** bar) override;
  STDMETHODIMP FindControl(VARIANT type, VARIANT id, VARIANT tag, VARIANT visible,
                           CommandBarControl** control) override;

 private:
  std::vector<std::shared_ptr<BarNode>> live() const;
  AppPtr app_;
  std::shared_ptr<BarSet> bars_;
};

class CommandBarImpl : public OutlookObject<CommandBarImpl, CommandBar> {
 public:
  CommandBarImpl(AppPtr app, std::shared_ptr<BarSet> bars, std::shared_ptr<BarNode> bar)
      : OutlookObject("CommandBar"),
        app_(std::move(app)),
        bars_(std::move(bars)),
        bar_(std::move(bar)) {}
  static const Members<CommandBarImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Visible(VARIANT_BOOL* visible) override;
  STDMETHODIMP put_Visible(VARIANT_BOOL visible) override;
  STDMETHODIMP get_Position(LONG* position) override;
  STDMETHODIMP put_Position(LONG position) override;
  STDMETHODIMP get_BuiltIn(VARIANT_BOOL* built_in) override;
  STDMETHODIMP get_Controls(CommandBarControls** controls) override;
  STDMETHODIMP FindControl(VARIANT type, VARIANT id, VARIANT tag, VARIANT visible,
                           VARIANT recursive, CommandBarControl** control) override;
  STDMETHODIMP Delete() override;

 private:
  BarNode& live() const;
  AppPtr app_;
  std::shared_ptr<BarSet> bars_;
  std::shared_ptr<BarNode> bar_;
};

class CommandBarControlsImpl : public OutlookObject<CommandBarControlsImpl, CommandBarControls> {
 public:
  // The controls of a bar (`temporary_owner`: every control added is temporary) or a popup.
  CommandBarControlsImpl(AppPtr app, std::shared_ptr<BarSet> bars,
                         std::shared_ptr<ControlList> list, bool temporary_owner)
      : OutlookObject("CommandBarControls"),
        app_(std::move(app)),
        bars_(std::move(bars)),
        list_(std::move(list)),
        temporary_owner_(temporary_owner) {}
  static const Members<CommandBarControlsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, CommandBarControl** control) override;
  STDMETHODIMP Add(VARIANT type, VARIANT id, VARIANT parameter, VARIANT before, VARIANT temporary,
                   CommandBarControl** control) override;

 private:
  std::vector<std::shared_ptr<ControlNode>> live() const;
  AppPtr app_;
  std::shared_ptr<BarSet> bars_;
  std::shared_ptr<ControlList> list_;
  bool temporary_owner_;
};

class CommandBarControlImpl : public OutlookObject<CommandBarControlImpl, CommandBarButton,
                                                   CommandBarPopup, IConnectionPointContainer> {
 public:
  CommandBarControlImpl(AppPtr app, std::shared_ptr<BarSet> bars,
                        std::shared_ptr<ControlNode> control);
  static const Members<CommandBarControlImpl>& members();
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;

  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP put_Caption(BSTR caption) override;
  STDMETHODIMP get_Tag(BSTR* tag) override;
  STDMETHODIMP put_Tag(BSTR tag) override;
  STDMETHODIMP get_TooltipText(BSTR* text) override;
  STDMETHODIMP put_TooltipText(BSTR text) override;
  STDMETHODIMP get_Visible(VARIANT_BOOL* visible) override;
  STDMETHODIMP put_Visible(VARIANT_BOOL visible) override;
  STDMETHODIMP get_Enabled(VARIANT_BOOL* enabled) override;
  STDMETHODIMP put_Enabled(VARIANT_BOOL enabled) override;
  STDMETHODIMP get_BeginGroup(VARIANT_BOOL* begin_group) override;
  STDMETHODIMP put_BeginGroup(VARIANT_BOOL begin_group) override;
  STDMETHODIMP get_OnAction(BSTR* action) override;
  STDMETHODIMP put_OnAction(BSTR action) override;
  STDMETHODIMP get_Parameter(BSTR* parameter) override;
  STDMETHODIMP put_Parameter(BSTR parameter) override;
  STDMETHODIMP get_Id(LONG* id) override;
  STDMETHODIMP get_Type(LONG* type) override;
  STDMETHODIMP get_BuiltIn(VARIANT_BOOL* built_in) override;
  STDMETHODIMP get_Index(LONG* index) override;
  STDMETHODIMP Execute() override;
  STDMETHODIMP Delete(VARIANT temporary) override;
  STDMETHODIMP get_FaceId(LONG* face_id) override;
  STDMETHODIMP put_FaceId(LONG face_id) override;
  STDMETHODIMP get_Style(LONG* style) override;
  STDMETHODIMP put_Style(LONG style) override;
  STDMETHODIMP get_Controls(CommandBarControls** controls) override;
  STDMETHODIMP EnumConnectionPoints(void** enumerator) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

 private:
  ControlNode& live() const;
  HRESULT get_text(const char* op, std::string ControlNode::*field, BSTR* value);
  HRESULT put_text(const char* op, std::string ControlNode::*field, BSTR value);
  HRESULT get_flag(const char* op, bool ControlNode::*field, VARIANT_BOOL* value);
  HRESULT put_flag(const char* op, bool ControlNode::*field, VARIANT_BOOL value);
  AppPtr app_;
  std::shared_ptr<BarSet> bars_;
  std::shared_ptr<ControlNode> control_;
};

// A control handed out as CommandBarControl (its own interface: button or popup).
void hand_out_control(const AppPtr& app, const std::shared_ptr<BarSet>& bars,
                      const std::shared_ptr<ControlNode>& control, CommandBarControl** out);

}  // namespace sx::outlook
