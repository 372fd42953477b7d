#include "ui/ui.h"

#include <algorithm>

#include "server/outlook_process.h"

namespace sx::outlook {

namespace {

// The default store's Inbox, when there is a session that has one.
std::optional<FolderRef> default_folder(Session& session) {
  try {
    session.ensure_logon();
    auto store = session.default_store();
    const StoreModel& m = fresh(*store);
    std::vector<std::uint32_t> queue = {format::kRootFolderId};
    for (std::size_t i = 0; i < queue.size(); ++i) {
      const FolderState* f = m.folder(queue[i]);
      if (f == nullptr) continue;
      if (f->record.role == FolderRole::kInbox) return FolderRef{store, f->record.id};
      queue.insert(queue.end(), f->children.begin(), f->children.end());
    }
    return FolderRef{store, format::kRootFolderId};
  } catch (const OutlookError&) {
    return std::nullopt;
  }
}

// The add-in a control's OnAction names ("!<ProgID>"), or "".
std::string routed_progid(const std::string& action) {
  if (action.size() > 3 && action.compare(0, 2, "!<") == 0 && action.back() == '>')
    return action.substr(2, action.size() - 3);
  return "";
}

}  // namespace

ExplorerPtr Ui::open_explorer(std::optional<FolderRef> folder, bool display) {
  if (!folder) folder = default_folder(app_.session());
  auto explorer = sx::com::make_object<ExplorerImpl>(AppPtr(&app_), std::move(folder));
  explorers_.push_back(explorer);
  if (display) {
    explorer->look();
    explorer->Display();
  }
  return explorer;
}

void Ui::explorer_closed(ExplorerImpl* explorer) {
  const ExplorerPtr keep(explorer);  // alive until the end of this call
  std::erase_if(explorers_, [&](const ExplorerPtr& e) { return e.Get() == explorer; });
  if (active_ == explorer) {
    active_ = nullptr;
    for (auto it = explorers_.rbegin(); it != explorers_.rend(); ++it) {
      if ((*it)->shown()) {
        active_ = it->Get();
        break;
      }
    }
  }
  if (explorers_.empty() && !ending_) app_.process().quit();
}

InspectorPtr Ui::inspector_of(const ItemImpl* item) const {
  for (const auto& inspector : inspectors_)
    if (inspector->item().Get() == item) return inspector;
  return nullptr;
}

InspectorPtr Ui::inspector_for(const ItemPtr& item) {
  if (InspectorPtr open = inspector_of(item.Get())) return open;
  if (ending_) raise(E_FAIL, "Outlook is closing.");
  auto inspector = sx::com::make_object<InspectorImpl>(AppPtr(&app_), item);
  inspectors_.push_back(inspector);
  new_inspector_sinks_.raise([&](InspectorsEvents* sink) {
    return sink->NewInspector(static_cast<_Inspector*>(inspector.Get()));
  });
  return inspector;
}

void Ui::inspector_closed(InspectorImpl* inspector) {
  const InspectorPtr keep(inspector);
  std::erase_if(inspectors_, [&](const InspectorPtr& i) { return i.Get() == inspector; });
}

std::shared_ptr<BarSet> Ui::explorer_bars() {
  if (!explorer_bars_) {
    explorer_bars_ = BarSet::for_explorers();
    explorer_bars_->run_command = [this](LONG id) {
      if (id == kCommandExit) {
        app_.process().quit();
        return true;
      }
      if (id == kCommandClose && active_ != nullptr) {
        active_->close();
        return true;
      }
      return false;
    };
  }
  return explorer_bars_;
}

Sinks<CommandBarButtonEvents>* Ui::click_sinks(const std::shared_ptr<ControlNode>& control) {
  if (ending_ || control->deleted) return nullptr;
  if (control->tag.empty()) return &control->sinks;
  return &click_sinks_by_tag_[control->tag];
}

void Ui::click(const std::shared_ptr<ControlNode>& control, const std::shared_ptr<BarSet>& bars) {
  if (!control->enabled) raise(E_FAIL, "The control is not enabled.");
  if (control->type != msoControlButton) return;  // a popup opens; nothing happens
  const std::string progid = routed_progid(control->on_action);
  if (!progid.empty()) (void)app_.process().addins().load_on_demand(progid);
  VARIANT_BOOL cancel = VARIANT_FALSE;
  if (Sinks<CommandBarButtonEvents>* sinks = click_sinks(control)) {
    sx::com::ComPtr<CommandBarControl> object;
    hand_out_control(AppPtr(&app_), bars, control, object.ReleaseAndGetAddressOf());
    sx::com::ComPtr<CommandBarButton> button;
    object->QueryInterface(IID_PPV_ARGS(button.ReleaseAndGetAddressOf()));
    sinks->raise([&](CommandBarButtonEvents* sink) { return sink->Click(button.Get(), &cancel); });
  }
  if (cancel == VARIANT_FALSE && control->built_in && bars->run_command)
    (void)bars->run_command(control->id);
}

std::shared_ptr<OutlookBar> Ui::outlook_bar() {
  Session& session = app_.session();
  session.ensure_logon();
  if (!outlook_bar_ || outlook_bar_->profile() != session.profile())
    outlook_bar_ = OutlookBar::for_profile(session.profile(), session);
  return outlook_bar_;
}

std::vector<std::uint64_t> Ui::notice_items(const FolderRef& folder) {
  const FolderState& state = live_folder(folder);
  auto [it, first] = seen_.try_emplace(folder);
  std::vector<std::uint64_t> added;
  for (const auto& [seq, id] : state.order) {
    if (it->second.insert(id).second && !first) added.push_back(id);
  }
  return added;
}

void Ui::saw_item(const FolderRef& folder, std::uint64_t id) {
  if (auto it = seen_.find(folder); it != seen_.end()) it->second.insert(id);
}

void Ui::shut_down() {
  ending_ = true;
  auto inspectors = std::move(inspectors_);
  inspectors_.clear();
  for (auto& inspector : inspectors) inspector->drop();
  auto explorers = std::move(explorers_);
  explorers_.clear();
  active_ = nullptr;
  for (auto& explorer : explorers) explorer->drop();
  new_inspector_sinks_.clear();
  auto by_tag = std::move(click_sinks_by_tag_);
  click_sinks_by_tag_.clear();
  by_tag.clear();
  if (explorer_bars_) {
    explorer_bars_->run_command = nullptr;
    // Temporary bars and controls go with this Outlook; their sinks with them.
    std::function<void(ControlList&)> drop = [&](ControlList& list) {
      for (auto& c : list) {
        c->sinks.clear();
        drop(*c->children);
      }
    };
    for (auto& bar : explorer_bars_->bars()) drop(*bar->controls);
  }
  outlook_bar_ = nullptr;
}

}  // namespace sx::outlook
