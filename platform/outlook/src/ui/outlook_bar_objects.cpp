#include "ui/ui.h"

namespace sx::outlook {

namespace {

// Position (0-based) of a 1-based `index` argument in a list of `size` for an insertion: omitted
// gives the end; E_INVALIDARG outside 1..size + 1.
std::size_t insertion_point(const VARIANT& index, std::size_t size) {
  const auto at = given_long(index);
  if (!at) return size;
  if (*at < 1 || static_cast<std::size_t>(*at) > size + 1)
    raise(E_INVALIDARG, "The position is not valid.");
  return static_cast<std::size_t>(*at) - 1;
}

// The entry of `list` that `index` names: 1-based, or by name compared exactly.
template <class Node>
std::shared_ptr<Node> pick(const std::vector<std::shared_ptr<Node>>& list, const VARIANT& index) {
  const IndexArg arg = read_index(index);
  if (arg.by_name) {
    for (const auto& n : list)
      if (n->name == arg.name) return n;
    raise(MAPI_E_NOT_FOUND, "The operation failed. An object could not be found.");
  }
  if (arg.number < 1 || static_cast<std::size_t>(arg.number) > list.size())
    raise(DISP_E_BADINDEX, "Array index out of bounds.");
  return list[static_cast<std::size_t>(arg.number) - 1];
}

}  // namespace

// --- the pane and its contents -------------------------------------------------------------------

const Members<OutlookBarPaneImpl>& OutlookBarPaneImpl::members() {
  static const Members<OutlookBarPaneImpl> m = [] {
    Members<OutlookBarPaneImpl> m;
    m.get(u"Name", &OutlookBarPaneImpl::get_Name);
    m.prop(u"Visible", &OutlookBarPaneImpl::get_Visible, &OutlookBarPaneImpl::put_Visible);
    m.get(u"Contents", &OutlookBarPaneImpl::get_Contents);
    m.get(u"Groups", &OutlookBarPaneImpl::get_Groups);
    return m;
  }();
  return m;
}

STDMETHODIMP OutlookBarPaneImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text("OutlookBar");
    return S_OK;
  });
}

STDMETHODIMP OutlookBarPaneImpl::get_Visible(VARIANT_BOOL* visible) {
  return call("get_Visible", [&] {
    need(visible);
    *visible = visible_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP OutlookBarPaneImpl::put_Visible(VARIANT_BOOL visible) {
  return call("put_Visible", [&] {
    visible_ = visible != VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP OutlookBarPaneImpl::get_Contents(_OutlookBarStorage** contents) {
  return call("get_Contents", [&] {
    need(contents);
    *contents = static_cast<_OutlookBarStorage*>(this);
    AddRef();
    return S_OK;
  });
}

STDMETHODIMP OutlookBarPaneImpl::get_Groups(_OutlookBarGroups** groups) {
  return call("get_Groups", [&] {
    need(groups);
    *groups = nullptr;
    hand_out(sx::com::make_object<OutlookBarGroupsImpl>(app_), groups);
    return S_OK;
  });
}

// --- groups --------------------------------------------------------------------------------------

const Members<OutlookBarGroupsImpl>& OutlookBarGroupsImpl::members() {
  static const Members<OutlookBarGroupsImpl> m = [] {
    Members<OutlookBarGroupsImpl> m;
    m.get(u"Count", &OutlookBarGroupsImpl::get_Count);
    m.function(u"Item", &OutlookBarGroupsImpl::Item);
    m.function(u"Add", &OutlookBarGroupsImpl::Add);
    m.method(u"Remove", &OutlookBarGroupsImpl::Remove);
    return m;
  }();
  return m;
}

STDMETHODIMP OutlookBarGroupsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(alive(app_->ui().outlook_bar()->groups()).size());
    return S_OK;
  });
}

STDMETHODIMP OutlookBarGroupsImpl::Item(VARIANT index, _OutlookBarGroup** group) {
  return call("Item", [&] {
    need(group);
    *group = nullptr;
    auto bar = app_->ui().outlook_bar();
    auto found = pick(alive(bar->groups()), index);
    hand_out(sx::com::make_object<OutlookBarGroupImpl>(app_, bar, found), group);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarGroupsImpl::Add(BSTR name, VARIANT index, _OutlookBarGroup** group) {
  return call("Add", [&] {
    need(group);
    *group = nullptr;
    auto bar = app_->ui().outlook_bar();
    const std::string text = in_text(name);
    auto list = alive(bar->groups());
    if (text.empty()) raise(E_INVALIDARG, "The group needs a name.");
    for (const auto& g : list)
      if (g->name == text) raise(E_INVALIDARG, "A group of this name exists already.");
    const std::size_t at = insertion_point(index, list.size());
    auto node = std::make_shared<GroupNode>();
    node->name = text;
    auto& all = bar->groups();
    std::erase_if(all, [](const auto& g) { return g->deleted; });
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(at), node);
    bar->changed();
    hand_out(sx::com::make_object<OutlookBarGroupImpl>(app_, bar, node), group);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarGroupsImpl::Remove(VARIANT index) {
  return call("Remove", [&] {
    auto bar = app_->ui().outlook_bar();
    pick(alive(bar->groups()), index)->deleted = true;
    bar->changed();
    return S_OK;
  });
}

// --- a group -------------------------------------------------------------------------------------

const Members<OutlookBarGroupImpl>& OutlookBarGroupImpl::members() {
  static const Members<OutlookBarGroupImpl> m = [] {
    Members<OutlookBarGroupImpl> m;
    m.prop(u"Name", &OutlookBarGroupImpl::get_Name, &OutlookBarGroupImpl::put_Name);
    m.get(u"Shortcuts", &OutlookBarGroupImpl::get_Shortcuts);
    return m;
  }();
  return m;
}

GroupNode& OutlookBarGroupImpl::live() const {
  if (group_->deleted) raise(E_FAIL, "The group has been removed.");
  return *group_;
}

STDMETHODIMP OutlookBarGroupImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text(live().name);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarGroupImpl::put_Name(BSTR name) {
  return call("put_Name", [&] {
    const std::string text = in_text(name);
    if (text.empty()) raise(E_INVALIDARG, "The group needs a name.");
    live().name = text;
    bar_->changed();
    return S_OK;
  });
}

STDMETHODIMP OutlookBarGroupImpl::get_Shortcuts(_OutlookBarShortcuts** shortcuts) {
  return call("get_Shortcuts", [&] {
    need(shortcuts);
    *shortcuts = nullptr;
    live();
    hand_out(sx::com::make_object<OutlookBarShortcutsImpl>(app_, bar_, group_), shortcuts);
    return S_OK;
  });
}

// --- shortcuts -----------------------------------------------------------------------------------

const Members<OutlookBarShortcutsImpl>& OutlookBarShortcutsImpl::members() {
  static const Members<OutlookBarShortcutsImpl> m = [] {
    Members<OutlookBarShortcutsImpl> m;
    m.get(u"Count", &OutlookBarShortcutsImpl::get_Count);
    m.function(u"Item", &OutlookBarShortcutsImpl::Item);
    m.function(u"Add", &OutlookBarShortcutsImpl::Add);
    m.method(u"Remove", &OutlookBarShortcutsImpl::Remove);
    return m;
  }();
  return m;
}

std::vector<std::shared_ptr<ShortcutNode>> OutlookBarShortcutsImpl::live() const {
  if (group_->deleted) raise(E_FAIL, "The group has been removed.");
  return alive(group_->shortcuts);
}

STDMETHODIMP OutlookBarShortcutsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(live().size());
    return S_OK;
  });
}

STDMETHODIMP OutlookBarShortcutsImpl::Item(VARIANT index, _OutlookBarShortcut** shortcut) {
  return call("Item", [&] {
    need(shortcut);
    *shortcut = nullptr;
    hand_out(sx::com::make_object<OutlookBarShortcutImpl>(app_, pick(live(), index)), shortcut);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarShortcutsImpl::Add(VARIANT target, BSTR name, VARIANT index,
                                          _OutlookBarShortcut** shortcut) {
  return call("Add", [&] {
    need(shortcut);
    *shortcut = nullptr;
    const std::size_t at = insertion_point(index, live().size());
    auto node = std::make_shared<ShortcutNode>();
    node->name = in_text(name);
    auto value = given(target);
    if (!value) raise(E_INVALIDARG, "The shortcut needs a target.");
    if (value->vt() == VT_DISPATCH) {
      sx::com::ComPtr<MAPIFolder> folder;
      if (value->get().pdispVal == nullptr ||
          FAILED(value->get().pdispVal->QueryInterface(IID_PPV_ARGS(folder.GetAddressOf()))))
        raise(E_INVALIDARG, "The target is not a folder.");
      const FolderRef& ref = FolderImpl::from(folder.Get())->ref();
      live_folder(ref);
      for (const OpenStore& open : app_->session().stores()) {
        if (open.store == ref.store) node->store_path = open.windows_path;
      }
      if (node->store_path.empty()) raise(E_INVALIDARG, "The folder's store is not open.");
      node->is_folder = true;
      node->folder_id = ref.id;
    } else {
      node->text = value->changed_to(VT_BSTR).to_utf8();
    }
    auto& all = group_->shortcuts;
    std::erase_if(all, [](const auto& s) { return s->deleted; });
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(at), node);
    bar_->changed();
    hand_out(sx::com::make_object<OutlookBarShortcutImpl>(app_, node), shortcut);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarShortcutsImpl::Remove(VARIANT index) {
  return call("Remove", [&] {
    pick(live(), index)->deleted = true;
    bar_->changed();
    return S_OK;
  });
}

// --- a shortcut ----------------------------------------------------------------------------------

const Members<OutlookBarShortcutImpl>& OutlookBarShortcutImpl::members() {
  static const Members<OutlookBarShortcutImpl> m = [] {
    Members<OutlookBarShortcutImpl> m;
    m.get(u"Name", &OutlookBarShortcutImpl::get_Name);
    m.get(u"Target", &OutlookBarShortcutImpl::get_Target);
    return m;
  }();
  return m;
}

STDMETHODIMP OutlookBarShortcutImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    if (shortcut_->deleted) raise(E_FAIL, "The shortcut has been removed.");
    *name = out_text(shortcut_->name);
    return S_OK;
  });
}

STDMETHODIMP OutlookBarShortcutImpl::get_Target(VARIANT* target) {
  return call("get_Target", [&] {
    need(target);
    VariantInit(target);
    if (shortcut_->deleted) raise(E_FAIL, "The shortcut has been removed.");
    if (!shortcut_->is_folder) {
      target->vt = VT_BSTR;
      target->bstrVal = out_text(shortcut_->text);
      return S_OK;
    }
    for (const OpenStore& open : app_->session().stores()) {
      if (!equal_ignoring_case(open.windows_path, shortcut_->store_path)) continue;
      FolderRef ref{open.store, shortcut_->folder_id};
      live_folder(ref);
      MAPIFolder* folder = nullptr;
      hand_out(sx::com::make_object<FolderImpl>(app_, ref), &folder);
      target->vt = VT_DISPATCH;
      target->pdispVal = folder;
      return S_OK;
    }
    raise(MAPI_E_NOT_FOUND, "The folder of the shortcut is in no open store.");
  });
}

}  // namespace sx::outlook
