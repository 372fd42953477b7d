// The Outlook Bar methods: the groups of the Outlook Bar pane of the active explorer, shortcuts
// by name, and a shortcut to the notes folder. Names are compared exactly.
//
// Every method reaches Outlook through the component's own Application (one Outlook runs per
// machine, so it is also the Application of the namespace SetNameSpace was given).
#include "method_runner.h"
#include "scribbix/notes_folder.h"
#include "update1.h"

namespace sx::update {
namespace {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::throw_if_failed;
using sx::com::Variant;

constexpr char kOutlookBarPane[] = "OutlookBar";

ComPtr<_Explorer> active_explorer(_Application* application) {
  ComPtr<_Explorer> explorer;
  throw_if_failed(application->get_ActiveExplorer(explorer.ReleaseAndGetAddressOf()));
  return explorer;
}

ComPtr<_OutlookBarPane> pane_of(_Explorer* explorer) {
  if (explorer == nullptr) object_not_set();
  ComPtr<Panes> panes;
  throw_if_failed(explorer->get_Panes(panes.ReleaseAndGetAddressOf()));
  if (!panes) object_not_set();
  ComPtr<IDispatch> pane;
  throw_if_failed(
      panes->Item(Variant::from_utf8(kOutlookBarPane).get(), pane.ReleaseAndGetAddressOf()));
  ComPtr<_OutlookBarPane> bar;
  if (pane) throw_if_failed(pane.As(&bar));
  return bar;
}

ComPtr<_OutlookBarGroups> groups_of(_OutlookBarPane* pane) {
  if (pane == nullptr) object_not_set();
  ComPtr<_OutlookBarStorage> contents;
  throw_if_failed(pane->get_Contents(contents.ReleaseAndGetAddressOf()));
  if (!contents) object_not_set();
  ComPtr<_OutlookBarGroups> groups;
  throw_if_failed(contents->get_Groups(groups.ReleaseAndGetAddressOf()));
  if (!groups) object_not_set();
  return groups;
}

// Calls `visit(name)` with the name of each group, in the pane's order.
template <class Visit>
void for_each_group(_OutlookBarGroups* groups, Visit visit) {
  LONG n = 0;
  throw_if_failed(groups->get_Count(&n));
  for (LONG i = 1; i <= n; ++i) {
    ComPtr<_OutlookBarGroup> group;
    throw_if_failed(groups->Item(Variant::from_i4(i).get(), group.ReleaseAndGetAddressOf()));
    Bstr name;
    throw_if_failed(group->get_Name(name.put()));
    visit(name.u16());
  }
}

ComPtr<_OutlookBarShortcuts> shortcuts_of(_OutlookBarGroups* groups, const std::u16string& group) {
  ComPtr<_OutlookBarGroup> found;
  throw_if_failed(groups->Item(Variant::from_bstr(group).get(), found.ReleaseAndGetAddressOf()));
  if (!found) object_not_set();
  ComPtr<_OutlookBarShortcuts> shortcuts;
  throw_if_failed(found->get_Shortcuts(shortcuts.ReleaseAndGetAddressOf()));
  if (!shortcuts) object_not_set();
  return shortcuts;
}

void add_folder_shortcut(const std::u16string& group, MAPIFolder* folder) {
  if (folder == nullptr) object_not_set();
  ComPtr<_Application> application = shared_application();
  ComPtr<_OutlookBarShortcuts> shortcuts =
      shortcuts_of(groups_of(pane_of(active_explorer(application.Get()).Get()).Get()).Get(), group);
  const Bstr name(name_of(folder));
  const Variant target = Variant::from_dispatch(folder);
  const Variant omitted = Variant::from_error(DISP_E_PARAMNOTFOUND);
  ComPtr<_OutlookBarShortcut> added;
  throw_if_failed(
      shortcuts->Add(target.get(), name.get(), omitted.get(), added.ReleaseAndGetAddressOf()));
}

}  // namespace

ComPtr<_OutlookBarPane> Update1::outlook_bar(_Application* application) {
  return pane_of(active_explorer(application).Get());
}

bool Update1::group_exists(const std::u16string& group) {
  bool exists = false;
  ComPtr<_Application> application = shared_application();
  for_each_group(groups_of(outlook_bar(application.Get()).Get()).Get(),
                 [&](const std::u16string& name) {
                   if (name == group) exists = true;
                 });
  return exists;
}

STDMETHODIMP Update1::GroupExists(VARIANT* sGroup, VARIANT_BOOL* result) {
  SX_COM_CHECK_THREAD();
  return run_trapped(
      result, "GroupExists:",
      [&](VARIANT_BOOL& exists) {
        exists = VARIANT_FALSE;
        const std::u16string group = text_of(sGroup);
        if (group_exists(group)) exists = VARIANT_TRUE;
      },
      [](const ComError&) {});
}

STDMETHODIMP Update1::ShortCutExists(VARIANT* sShortcut, VARIANT* sGroup, VARIANT_BOOL* result) {
  SX_COM_CHECK_THREAD();
  return run_trapped(
      result, "ShortCutExists:",
      [&](VARIANT_BOOL& exists) {
        exists = VARIANT_FALSE;
        VARIANT_BOOL group_there = VARIANT_FALSE;
        const HRESULT hr = GroupExists(sGroup, &group_there);
        if (FAILED(hr)) sx::com::issue_error(hr);
        if (group_there == VARIANT_FALSE) return;
        const std::u16string shortcut = text_of(sShortcut);
        ComPtr<_Application> application = shared_application();
        ComPtr<_OutlookBarShortcuts> shortcuts =
            shortcuts_of(groups_of(outlook_bar(application.Get()).Get()).Get(), text_of(sGroup));
        LONG n = 0;
        throw_if_failed(shortcuts->get_Count(&n));
        for (LONG i = 1; i <= n; ++i) {
          ComPtr<_OutlookBarShortcut> item;
          throw_if_failed(
              shortcuts->Item(Variant::from_i4(i).get(), item.ReleaseAndGetAddressOf()));
          Bstr name;
          throw_if_failed(item->get_Name(name.put()));
          if (name.u16() == shortcut) exists = VARIANT_TRUE;
        }
      },
      [](const ComError&) {});
}

STDMETHODIMP Update1::FolderShortcutCreate(VARIANT* sGroup, MAPIFolder** oFolder) {
  SX_COM_CHECK_THREAD();
  if (oFolder == nullptr) return E_POINTER;
  return run_untrapped([&] { add_folder_shortcut(text_of(sGroup), *oFolder); });
}

STDMETHODIMP Update1::CheckScribbixShortcut(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_trapped(
      result, "CheckScribbixShortcut:",
      [&](LONG& found) {
        found = 0;
        if (!namespace_) {
          found = scribbixupdate::kNoNameSpaceForShortcut;
          return;
        }
        ComPtr<_Application> application = shared_application();
        ComPtr<_Explorer> explorer = active_explorer(application.Get());
        if (!explorer) {
          found = scribbixupdate::kNoExplorer;
          return;
        }
        ComPtr<_OutlookBarPane> pane = pane_of(explorer.Get());
        if (!pane) {
          found = scribbixupdate::kNoOutlookBar;
          return;
        }
        for_each_group(groups_of(pane.Get()).Get(), [&](const std::u16string& name) {
          Variant shortcut = Variant::from_utf8(sx::common::kNotesFolderName);
          Variant group = Variant::from_bstr(name);
          VARIANT_BOOL exists = VARIANT_FALSE;
          const HRESULT hr = ShortCutExists(&shortcut.get(), &group.get(), &exists);
          if (FAILED(hr)) sx::com::issue_error(hr);
          if (exists != VARIANT_FALSE) found = 1;
        });
      },
      [](const ComError&) {});
}

STDMETHODIMP Update1::ShortcutGroups(VARIANT* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  VariantClear(result);
  return run_trapped(
      result, "ShortcutGroups:",
      [&](VARIANT& out) {
        if (!namespace_) return;
        std::u16string text;
        ComPtr<_Application> application = shared_application();
        for_each_group(groups_of(outlook_bar(application.Get()).Get()).Get(),
                       [&](const std::u16string& name) { text += name + u","; });
        out = Variant::from_bstr(text).detach();
      },
      [](const ComError&) {});
}

STDMETHODIMP Update1::CreateScribbixShortcut(VARIANT* vGroup, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run_trapped(
      result, "CreateScribbixShortcut:",
      [&](LONG& code) {
        code = scribbixupdate::kNoNameSpaceForShortcut;
        const std::u16string group = text_of(vGroup);
        if (!namespace_) return;
        ComPtr<MAPIFolder> folder = find_notes_folder(&code);
        if (!folder) return;
        add_folder_shortcut(group, folder.Get());
        code = 0;
      },
      [](const ComError&) {});
}

}  // namespace sx::update
