#include "ui/ui.h"

namespace sx::outlook {

namespace {

// What FindControl's arguments ask of a control.
struct Criteria {
  std::optional<LONG> type, id;
  std::optional<std::string> tag;
  bool visible_only = false;
  bool operator()(const ControlNode& c) const {
    return (!type || c.type == *type) && (!id || c.id == *id) && (!tag || c.tag == *tag) &&
           (!visible_only || c.visible);
  }
};

Criteria criteria(const VARIANT& type, const VARIANT& id, const VARIANT& tag,
                  const VARIANT& visible) {
  Criteria c;
  c.type = given_long(type);
  c.id = given_long(id);
  c.tag = given_text(tag);
  c.visible_only = given_bool(visible).value_or(false);
  return c;
}

VARIANT_BOOL vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

void hand_out_control(const AppPtr& app, const std::shared_ptr<BarSet>& bars,
                      const std::shared_ptr<ControlNode>& control, CommandBarControl** out) {
  *out = nullptr;
  if (!control) return;
  auto object = sx::com::make_object<CommandBarControlImpl>(app, bars, control);
  object->QueryInterface(CommandBarControl::kIid, reinterpret_cast<void**>(out));
}

// --- CommandBars ---------------------------------------------------------------------------------

const Members<CommandBarsImpl>& CommandBarsImpl::members() {
  static const Members<CommandBarsImpl> m = [] {
    Members<CommandBarsImpl> m;
    m.get(u"Count", &CommandBarsImpl::get_Count);
    m.function(u"Item", &CommandBarsImpl::Item);
    m.function(u"Add", &CommandBarsImpl::Add);
    m.function(u"FindControl", &CommandBarsImpl::FindControl);
    return m;
  }();
  return m;
}

std::vector<std::shared_ptr<BarNode>> CommandBarsImpl::live() const { return alive(bars_->bars()); }

STDMETHODIMP CommandBarsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(live().size());
    return S_OK;
  });
}

STDMETHODIMP CommandBarsImpl::Item(VARIANT index, CommandBar** bar) {
  return call("Item", [&] {
    need(bar);
    *bar = nullptr;
    const IndexArg arg = read_index(index);
    std::shared_ptr<BarNode> found;
    if (arg.by_name) {
      found = bars_->find(arg.name);
    } else {
      auto list = live();
      if (arg.number >= 1 && static_cast<std::size_t>(arg.number) <= list.size())
        found = list[static_cast<std::size_t>(arg.number) - 1];
    }
    if (!found) raise(E_INVALIDARG, "Invalid procedure call or argument");
    hand_out(sx::com::make_object<CommandBarImpl>(app_, bars_, found), bar);
    return S_OK;
  });
}

STDMETHODIMP CommandBarsImpl::Add(VARIANT name, VARIANT position, VARIANT, VARIANT temporary,
                                  CommandBar** bar) {
  return call("Add", [&] {
    need(bar);
    *bar = nullptr;
    const std::string text = given_text(name).value_or("");
    if (text.empty()) raise(E_INVALIDARG, "Invalid procedure call or argument");
    if (bars_->find(text)) raise(E_INVALIDARG, "Invalid procedure call or argument");
    const LONG at = given_long(position).value_or(msoBarFloating);
    if (at < msoBarLeft || at > msoBarMenuBar)
      raise(E_INVALIDARG, "Invalid procedure call or argument");
    auto node = std::make_shared<BarNode>();
    node->name = text;
    node->position = at;
    node->temporary = given_bool(temporary).value_or(false);
    std::erase_if(bars_->bars(), [](const auto& b) { return b->deleted; });
    bars_->bars().push_back(node);
    if (!node->temporary) bars_->changed();
    hand_out(sx::com::make_object<CommandBarImpl>(app_, bars_, node), bar);
    return S_OK;
  });
}

STDMETHODIMP CommandBarsImpl::FindControl(VARIANT type, VARIANT id, VARIANT tag, VARIANT visible,
                                          CommandBarControl** control) {
  return call("FindControl", [&] {
    need(control);
    *control = nullptr;
    const Criteria match = criteria(type, id, tag, visible);
    for (const auto& bar : live()) {
      if (auto found = find_control(*bar->controls, true, match)) {
        hand_out_control(app_, bars_, found, control);
        break;
      }
    }
    return S_OK;
  });
}

// --- CommandBar ----------------------------------------------------------------------------------

const Members<CommandBarImpl>& CommandBarImpl::members() {
  static const Members<CommandBarImpl> m = [] {
    Members<CommandBarImpl> m;
    m.get(u"Name", &CommandBarImpl::get_Name);
    m.prop(u"Visible", &CommandBarImpl::get_Visible, &CommandBarImpl::put_Visible);
    m.prop(u"Position", &CommandBarImpl::get_Position, &CommandBarImpl::put_Position);
    m.get(u"BuiltIn", &CommandBarImpl::get_BuiltIn);
    m.get(u"Controls", &CommandBarImpl::get_Controls);
    m.function(u"FindControl", &CommandBarImpl::FindControl);
    m.method(u"Delete", &CommandBarImpl::Delete);
    return m;
  }();
  return m;
}

BarNode& CommandBarImpl::live() const {
  if (bar_->deleted) raise(E_FAIL, "The command bar has been deleted.");
  return *bar_;
}

STDMETHODIMP CommandBarImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text(live().name);
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::get_Visible(VARIANT_BOOL* visible) {
  return call("get_Visible", [&] {
    need(visible);
    *visible = vb(live().visible);
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::put_Visible(VARIANT_BOOL visible) {
  return call("put_Visible", [&] {
    live().visible = visible != VARIANT_FALSE;
    if (!bar_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::get_Position(LONG* position) {
  return call("get_Position", [&] {
    need(position);
    *position = live().position;
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::put_Position(LONG position) {
  return call("put_Position", [&] {
    if (position < msoBarLeft || position > msoBarMenuBar)
      raise(E_INVALIDARG, "Invalid procedure call or argument");
    live().position = position;
    if (!bar_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::get_BuiltIn(VARIANT_BOOL* built_in) {
  return call("get_BuiltIn", [&] {
    need(built_in);
    *built_in = vb(live().built_in);
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::get_Controls(CommandBarControls** controls) {
  return call("get_Controls", [&] {
    need(controls);
    *controls = nullptr;
    hand_out(
        sx::com::make_object<CommandBarControlsImpl>(app_, bars_, live().controls, bar_->temporary),
        controls);
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::FindControl(VARIANT type, VARIANT id, VARIANT tag, VARIANT visible,
                                         VARIANT recursive, CommandBarControl** control) {
  return call("FindControl", [&] {
    need(control);
    *control = nullptr;
    const Criteria match = criteria(type, id, tag, visible);
    hand_out_control(app_, bars_,
                     find_control(*live().controls, given_bool(recursive).value_or(false), match),
                     control);
    return S_OK;
  });
}

STDMETHODIMP CommandBarImpl::Delete() {
  return call("Delete", [&] {
    if (live().built_in) raise(E_INVALIDARG, "A built-in command bar cannot be deleted.");
    bar_->deleted = true;
    if (!bar_->temporary) bars_->changed();
    return S_OK;
  });
}

// --- CommandBarControls --------------------------------------------------------------------------

const Members<CommandBarControlsImpl>& CommandBarControlsImpl::members() {
  static const Members<CommandBarControlsImpl> m = [] {
    Members<CommandBarControlsImpl> m;
    m.get(u"Count", &CommandBarControlsImpl::get_Count);
    m.function(u"Item", &CommandBarControlsImpl::Item);
    m.function(u"Add", &CommandBarControlsImpl::Add);
    return m;
  }();
  return m;
}

std::vector<std::shared_ptr<ControlNode>> CommandBarControlsImpl::live() const {
  return alive(*list_);
}

STDMETHODIMP CommandBarControlsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(live().size());
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlsImpl::Item(VARIANT index, CommandBarControl** control) {
  return call("Item", [&] {
    need(control);
    *control = nullptr;
    const IndexArg arg = read_index(index);
    auto list = live();
    std::shared_ptr<ControlNode> found;
    if (arg.by_name) {
      for (const auto& c : list) {
        if (equal_ignoring_case(c->caption, arg.name)) {
          found = c;
          break;
        }
      }
    } else if (arg.number >= 1 && static_cast<std::size_t>(arg.number) <= list.size()) {
      found = list[static_cast<std::size_t>(arg.number) - 1];
    }
    if (!found) raise(E_INVALIDARG, "Invalid procedure call or argument");
    hand_out_control(app_, bars_, found, control);
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlsImpl::Add(VARIANT type, VARIANT id, VARIANT parameter,
                                         VARIANT before, VARIANT temporary,
                                         CommandBarControl** control) {
  return call("Add", [&] {
    need(control);
    *control = nullptr;
    const std::optional<LONG> kind = given_long(type);
    if (kind && *kind != msoControlButton && *kind != msoControlPopup)
      raise(E_INVALIDARG, "Invalid procedure call or argument");
    const LONG command = given_long(id).value_or(1);
    std::shared_ptr<ControlNode> node;
    if (command != 1) {  // a built-in control: its own type, unless another one is asked for
      node = built_in_control(command);
      if (!node || (kind && node->type != *kind))
        raise(E_INVALIDARG, "Invalid procedure call or argument");
    } else {
      node = std::make_shared<ControlNode>();
      node->type = kind.value_or(msoControlButton);
    }
    node->parameter = given_text(parameter).value_or("");
    node->temporary = temporary_owner_ || given_bool(temporary).value_or(false);
    auto list = live();
    std::size_t at = list.size();
    if (const auto position = given_long(before)) {
      if (*position < 1 || static_cast<std::size_t>(*position) > list.size() + 1)
        raise(E_INVALIDARG, "Invalid procedure call or argument");
      at = static_cast<std::size_t>(*position) - 1;
    }
    // Inserted before the live control at `at` (deleted ones are dropped from the list first).
    std::erase_if(*list_, [](const auto& c) { return c->deleted; });
    list_->insert(list_->begin() + static_cast<std::ptrdiff_t>(at), node);
    node->owner = list_;
    std::function<void(ControlNode&)> adopt = [&](ControlNode& n) {
      for (auto& child : *n.children) {
        child->owner = n.children;
        child->temporary = node->temporary;
        adopt(*child);
      }
    };
    adopt(*node);
    if (!node->temporary) bars_->changed();
    hand_out_control(app_, bars_, node, control);
    return S_OK;
  });
}

// --- CommandBarControl, CommandBarButton, CommandBarPopup ----------------------------------------

CommandBarControlImpl::CommandBarControlImpl(AppPtr app, std::shared_ptr<BarSet> bars,
                                             std::shared_ptr<ControlNode> control)
    : OutlookObject(control->type == msoControlPopup ? "CommandBarPopup" : "CommandBarButton"),
      app_(std::move(app)),
      bars_(std::move(bars)),
      control_(std::move(control)) {}

STDMETHODIMP CommandBarControlImpl::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const bool popup = control_->type == msoControlPopup;
  CommandBarControl* common =
      popup ? static_cast<CommandBarControl*>(static_cast<CommandBarPopup*>(this))
            : static_cast<CommandBarControl*>(static_cast<CommandBarButton*>(this));
  if (iid == IID_IUnknown)
    *object = identity();
  else if (iid == IID_IDispatch || iid == CommandBarControl::kIid)
    *object = common;
  else if (iid == CommandBarButton::kIid && !popup)
    *object = static_cast<CommandBarButton*>(this);
  else if (iid == CommandBarPopup::kIid && popup)
    *object = static_cast<CommandBarPopup*>(this);
  else if (iid == IConnectionPointContainer::kIid && !popup)
    *object = static_cast<IConnectionPointContainer*>(this);
  if (*object == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

const Members<CommandBarControlImpl>& CommandBarControlImpl::members() {
  static const Members<CommandBarControlImpl> m = [] {
    using C = CommandBarControlImpl;
    Members<C> m;
    m.prop(u"Caption", &C::get_Caption, &C::put_Caption);
    m.prop(u"Tag", &C::get_Tag, &C::put_Tag);
    m.prop(u"TooltipText", &C::get_TooltipText, &C::put_TooltipText);
    m.prop(u"Visible", &C::get_Visible, &C::put_Visible);
    m.prop(u"Enabled", &C::get_Enabled, &C::put_Enabled);
    m.prop(u"BeginGroup", &C::get_BeginGroup, &C::put_BeginGroup);
    m.prop(u"OnAction", &C::get_OnAction, &C::put_OnAction);
    m.prop(u"Parameter", &C::get_Parameter, &C::put_Parameter);
    m.get(u"Id", &C::get_Id);
    m.get(u"Type", &C::get_Type);
    m.get(u"BuiltIn", &C::get_BuiltIn);
    m.get(u"Index", &C::get_Index);
    m.method(u"Execute", &C::Execute);
    m.method(u"Delete", &C::Delete);
    m.prop(u"FaceId", &C::get_FaceId, &C::put_FaceId);
    m.prop(u"Style", &C::get_Style, &C::put_Style);
    m.get(u"Controls", &C::get_Controls);
    return m;
  }();
  return m;
}

ControlNode& CommandBarControlImpl::live() const {
  if (control_->deleted) raise(E_FAIL, "The control has been deleted.");
  return *control_;
}

HRESULT CommandBarControlImpl::get_text(const char* op, std::string ControlNode::*field,
                                        BSTR* value) {
  return call(op, [&] {
    need(value);
    *value = out_text(live().*field);
    return S_OK;
  });
}

HRESULT CommandBarControlImpl::put_text(const char* op, std::string ControlNode::*field,
                                        BSTR value) {
  return call(op, [&] {
    live().*field = in_text(value);
    if (!control_->temporary) bars_->changed();
    return S_OK;
  });
}

HRESULT CommandBarControlImpl::get_flag(const char* op, bool ControlNode::*field,
                                        VARIANT_BOOL* value) {
  return call(op, [&] {
    need(value);
    *value = vb(live().*field);
    return S_OK;
  });
}

HRESULT CommandBarControlImpl::put_flag(const char* op, bool ControlNode::*field,
                                        VARIANT_BOOL value) {
  return call(op, [&] {
    live().*field = value != VARIANT_FALSE;
    if (!control_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_Caption(BSTR* v) {
  return get_text("get_Caption", &ControlNode::caption, v);
}
STDMETHODIMP CommandBarControlImpl::put_Caption(BSTR v) {
  return put_text("put_Caption", &ControlNode::caption, v);
}
STDMETHODIMP CommandBarControlImpl::get_Tag(BSTR* v) {
  return get_text("get_Tag", &ControlNode::tag, v);
}
STDMETHODIMP CommandBarControlImpl::put_Tag(BSTR v) {
  return put_text("put_Tag", &ControlNode::tag, v);
}
STDMETHODIMP CommandBarControlImpl::get_TooltipText(BSTR* v) {
  return get_text("get_TooltipText", &ControlNode::tooltip, v);
}
STDMETHODIMP CommandBarControlImpl::put_TooltipText(BSTR v) {
  return put_text("put_TooltipText", &ControlNode::tooltip, v);
}
STDMETHODIMP CommandBarControlImpl::get_OnAction(BSTR* v) {
  return get_text("get_OnAction", &ControlNode::on_action, v);
}
STDMETHODIMP CommandBarControlImpl::put_OnAction(BSTR v) {
  return put_text("put_OnAction", &ControlNode::on_action, v);
}
STDMETHODIMP CommandBarControlImpl::get_Parameter(BSTR* v) {
  return get_text("get_Parameter", &ControlNode::parameter, v);
}
STDMETHODIMP CommandBarControlImpl::put_Parameter(BSTR v) {
  return put_text("put_Parameter", &ControlNode::parameter, v);
}
STDMETHODIMP CommandBarControlImpl::get_Visible(VARIANT_BOOL* v) {
  return get_flag("get_Visible", &ControlNode::visible, v);
}
STDMETHODIMP CommandBarControlImpl::put_Visible(VARIANT_BOOL v) {
  return put_flag("put_Visible", &ControlNode::visible, v);
}
STDMETHODIMP CommandBarControlImpl::get_Enabled(VARIANT_BOOL* v) {
  return get_flag("get_Enabled", &ControlNode::enabled, v);
}
STDMETHODIMP CommandBarControlImpl::put_Enabled(VARIANT_BOOL v) {
  return put_flag("put_Enabled", &ControlNode::enabled, v);
}
STDMETHODIMP CommandBarControlImpl::get_BeginGroup(VARIANT_BOOL* v) {
  return get_flag("get_BeginGroup", &ControlNode::begin_group, v);
}
STDMETHODIMP CommandBarControlImpl::put_BeginGroup(VARIANT_BOOL v) {
  return put_flag("put_BeginGroup", &ControlNode::begin_group, v);
}

STDMETHODIMP CommandBarControlImpl::get_Id(LONG* id) {
  return call("get_Id", [&] {
    need(id);
    *id = live().id;
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_Type(LONG* type) {
  return call("get_Type", [&] {
    need(type);
    *type = live().type;
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_BuiltIn(VARIANT_BOOL* built_in) {
  return get_flag("get_BuiltIn", &ControlNode::built_in, built_in);
}

STDMETHODIMP CommandBarControlImpl::get_Index(LONG* index) {
  return call("get_Index", [&] {
    need(index);
    live();
    *index = 0;
    if (auto owner = control_->owner.lock()) {
      LONG at = 0;
      for (const auto& c : *owner) {
        if (c->deleted) continue;
        ++at;
        if (c == control_) *index = at;
      }
    }
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::Execute() {
  return call("Execute", [&] {
    live();
    app_->ui().click(control_, bars_);
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::Delete(VARIANT) {
  return call("Delete", [&] {
    live().deleted = true;
    control_->sinks.clear();
    if (auto owner = control_->owner.lock())
      std::erase_if(*owner, [&](const auto& c) { return c == control_; });
    if (!control_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_FaceId(LONG* face_id) {
  return call("get_FaceId", [&] {
    need(face_id);
    *face_id = live().face_id;
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::put_FaceId(LONG face_id) {
  return call("put_FaceId", [&] {
    live().face_id = face_id;
    if (!control_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_Style(LONG* style) {
  return call("get_Style", [&] {
    need(style);
    *style = live().style;
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::put_Style(LONG style) {
  return call("put_Style", [&] {
    if (style < msoButtonAutomatic || style > msoButtonIconAndCaption)
      raise(E_INVALIDARG, "Invalid procedure call or argument");
    live().style = style;
    if (!control_->temporary) bars_->changed();
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::get_Controls(CommandBarControls** controls) {
  return call("get_Controls", [&] {
    need(controls);
    *controls = nullptr;
    if (live().type != msoControlPopup) raise(E_NOINTERFACE, "The control has no controls.");
    hand_out(sx::com::make_object<CommandBarControlsImpl>(app_, bars_, control_->children,
                                                          control_->temporary),
             controls);
    return S_OK;
  });
}

STDMETHODIMP CommandBarControlImpl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CommandBarControlImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  SX_COM_CHECK_THREAD();
  return find_event_point<CommandBarButtonEvents>(
      iid, [app = app_, control = control_] { return app->ui().click_sinks(control); },
      static_cast<IConnectionPointContainer*>(this), point);
}

}  // namespace sx::outlook
