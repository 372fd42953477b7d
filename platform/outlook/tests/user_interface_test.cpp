// Outlook's windows as add-ins and clients meet them: explorers and their Close, inspectors with
// NewInspector before Read, reading and editing, command bars kept from one Outlook run to the
// next with clicks routed to add-ins, the Outlook Bar, and what other processes save.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "outlook_process_fixture.h"

namespace sx::outlook {
namespace {

// Records the events it hears, in order, on the thread of its apartment.
class Recorder : public sx::com::ComObject<InspectorsEvents, ItemEvents, ExplorerEvents> {
 public:
  Recorder() = default;
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP NewInspector(_Inspector* inspector) override {
    SX_COM_CHECK_THREAD();
    events.push_back("NewInspector");
    inspector->get_CurrentItem(current.ReleaseAndGetAddressOf());
    return S_OK;
  }
  STDMETHODIMP Read() override {
    SX_COM_CHECK_THREAD();
    events.push_back("Read");
    return S_OK;
  }
  STDMETHODIMP Close(VARIANT_BOOL* cancel) override {
    SX_COM_CHECK_THREAD();
    events.push_back("ItemClose");
    if (cancel_close) *cancel = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP Close() override {
    SX_COM_CHECK_THREAD();
    // Asked from inside the event: the closing explorer still counts.
    ComPtr<_Explorers> explorers;
    LONG count = -1;
    if (app_ && SUCCEEDED(app_->get_Explorers(explorers.ReleaseAndGetAddressOf())))
      explorers->get_Count(&count);
    events.push_back("ExplorerClose(" + std::to_string(count) + ")");
    return S_OK;
  }
  std::vector<std::string> events;
  ComPtr<IDispatch> current;
  bool cancel_close = false;
  ComPtr<_Application> app_;  // to ask Explorers.Count from inside Close
};

DWORD advise(IUnknown* source, REFIID iid, IUnknown* sink) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  EXPECT_EQ(source->QueryInterface(IID_PPV_ARGS(container.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(container->FindConnectionPoint(iid, point.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
  return cookie;
}

Variant missing() {
  Variant v;
  v.get().vt = VT_ERROR;
  v.get().scode = DISP_E_PARAMNOTFOUND;
  return v;
}

std::string text_of(BSTR b) {
  std::string s = sx::com::bstr_to_utf8(b);
  SysFreeString(b);
  return s;
}

class OutlookWindowsTest : public OutlookProcessTest {
 protected:
  ComPtr<_Application> start_person_outlook() {
    ComPtr<_Application> app;
    EXPECT_EQ(start_with_explorer(app.ReleaseAndGetAddressOf()), S_OK);
    return app;
  }
  static ComPtr<_Explorer> active(_Application* app) {
    ComPtr<_Explorer> explorer;
    EXPECT_EQ(app->get_ActiveExplorer(explorer.ReleaseAndGetAddressOf()), S_OK);
    return explorer;
  }
  static ComPtr<CommandBar> bar(_CommandBars* bars, const char* name) {
    ComPtr<CommandBar> bar;
    Variant which = Variant::from_utf8(name);
    bars->Item(which.get(), bar.ReleaseAndGetAddressOf());
    return bar;
  }
  static ComPtr<CommandBar> explorer_bar(_Application* app, const char* name) {
    ComPtr<_CommandBars> bars;
    EXPECT_EQ(active(app)->get_CommandBars(bars.ReleaseAndGetAddressOf()), S_OK);
    return bar(bars.Get(), name);
  }
  // The captions of a bar's top-level controls, joined by "|".
  static std::string captions(CommandBar* bar) {
    ComPtr<CommandBarControls> controls;
    EXPECT_EQ(bar->get_Controls(controls.ReleaseAndGetAddressOf()), S_OK);
    LONG count = 0;
    controls->get_Count(&count);
    std::string out;
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<CommandBarControl> c;
      EXPECT_EQ(controls->Item(Variant::from_i4(i).get(), c.ReleaseAndGetAddressOf()), S_OK);
      BSTR caption = nullptr;
      c->get_Caption(&caption);
      out += (i > 1 ? "|" : "") + text_of(caption);
    }
    return out;
  }
  static ComPtr<CommandBarControl> find_by_tag(CommandBar* bar, const char* tag) {
    ComPtr<CommandBarControl> control;
    Variant t = Variant::from_utf8(tag);
    EXPECT_EQ(bar->FindControl(missing().get(), missing().get(), t.get(), missing().get(),
                               missing().get(), control.ReleaseAndGetAddressOf()),
              S_OK);
    return control;
  }
  // A saved post in the Inbox, as a new object of it (not the one that saved it).
  static ComPtr<_PostItem> saved_post(_NameSpace* ns, const char* subject) {
    ComPtr<_Items> items = inbox_items(ns);
    ComPtr<IDispatch> item;
    EXPECT_EQ(items->Add(Variant::from_utf8("IPM.Post").get(), item.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<_PostItem> post;
    item->QueryInterface(IID_PPV_ARGS(post.ReleaseAndGetAddressOf()));
    post->put_Subject(Bstr::from_utf8(subject).get());
    post->put_Body(Bstr::from_utf8("first line").get());
    EXPECT_EQ(post->Save(), S_OK);
    ComPtr<IDispatch> again;
    EXPECT_EQ(items->Item(Variant::from_utf8(subject).get(), again.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_PostItem> fresh;
    again->QueryInterface(IID_PPV_ARGS(fresh.ReleaseAndGetAddressOf()));
    return fresh;
  }
  static void quit(ComPtr<_Application>& app) {
    EXPECT_EQ(app->Quit(), S_OK);
    app = nullptr;
    EXPECT_FALSE(outlook_window());  // gone when the call returns
  }
};

// --- Explorers and Outlook's lifetime ------------------------------------------------------------

TEST_F(OutlookWindowsTest, OutlookStartedByAutomationHasNoExplorer) {
  app_ = create();
  ComPtr<_Explorer> explorer;
  EXPECT_EQ(app_->get_ActiveExplorer(explorer.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(explorer);
  ComPtr<_Explorers> explorers;
  ASSERT_EQ(app_->get_Explorers(explorers.ReleaseAndGetAddressOf()), S_OK);
  LONG count = -1;
  EXPECT_EQ(explorers->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  ComPtr<_Explorer> none;
  EXPECT_EQ(explorers->Item(Variant::from_i4(1).get(), none.ReleaseAndGetAddressOf()),
            DISP_E_BADINDEX);
}

TEST_F(OutlookWindowsTest, ExplorerCloseIsRaisedWhileItCountsAndTheLastCloseEndsOutlook) {
  app_ = start_person_outlook();
  ComPtr<_Explorer> first = active(app_.Get());
  ASSERT_TRUE(first);
  BSTR caption = nullptr;
  EXPECT_EQ(first->get_Caption(&caption), S_OK);
  EXPECT_EQ(text_of(caption), "Inbox - Microsoft Outlook");

  // A second explorer, shown: it is the active one now.
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<MAPIFolder> inbox;
  ASSERT_EQ(ns->GetDefaultFolder(olFolderInbox, inbox.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_Explorers> explorers;
  ASSERT_EQ(app_->get_Explorers(explorers.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_Explorer> second;
  ASSERT_EQ(explorers->Add(Variant::from_dispatch(inbox.Get()).get(), olFolderDisplayNormal,
                           second.ReleaseAndGetAddressOf()),
            S_OK);
  ASSERT_EQ(second->Display(), S_OK);
  EXPECT_EQ(sx::com::object_identity(active(app_.Get()).Get()),
            sx::com::object_identity(second.Get()));

  auto recorder = sx::com::make_object<Recorder>();
  advise(first.Get(), ExplorerEvents::kIid, static_cast<ExplorerEvents*>(recorder.Get()));
  advise(second.Get(), ExplorerEvents::kIid, static_cast<ExplorerEvents*>(recorder.Get()));

  // Its last client letting go does not end an Outlook that shows explorers.
  ns = nullptr;
  inbox = nullptr;
  explorers = nullptr;
  first = nullptr;
  second = nullptr;
  app_ = nullptr;
  EXPECT_TRUE(outlook_running_here());
  app_ = create();
  recorder->app_ = app_;
  ASSERT_EQ(app_->get_Explorers(explorers.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(explorers->Item(Variant::from_i4(1).get(), first.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(explorers->Item(Variant::from_i4(2).get(), second.ReleaseAndGetAddressOf()), S_OK);
  explorers = nullptr;

  EXPECT_EQ(second->Close(), S_OK);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"ExplorerClose(2)"});
  EXPECT_TRUE(outlook_running_here());
  EXPECT_EQ(second->Display(), E_FAIL);  // a closed explorer

  recorder->events.clear();
  EXPECT_EQ(first->Close(), S_OK);
  // The event came while the last explorer still counted, and Outlook is gone afterwards.
  EXPECT_EQ(recorder->events, std::vector<std::string>{"ExplorerClose(1)"});
  EXPECT_FALSE(outlook_window());  // gone when the call returns
  ComPtr<_Explorers> after;
  EXPECT_EQ(app_->get_Explorers(after.ReleaseAndGetAddressOf()), RPC_E_DISCONNECTED);
  recorder->app_ = nullptr;
}

// --- Inspectors ----------------------------------------------------------------------------------

TEST_F(OutlookWindowsTest, NewInspectorComesBeforeReadOnTheSameItemObject) {
  app_ = create();
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<_PostItem> post = saved_post(ns.Get(), "Opened");
  auto recorder = sx::com::make_object<Recorder>();
  ComPtr<_Inspectors> inspectors;
  ASSERT_EQ(app_->get_Inspectors(inspectors.ReleaseAndGetAddressOf()), S_OK);
  advise(inspectors.Get(), InspectorsEvents::kIid, static_cast<InspectorsEvents*>(recorder.Get()));
  advise(post.Get(), ItemEvents::kIid, static_cast<ItemEvents*>(recorder.Get()));

  ASSERT_EQ(post->Display(missing().get()), S_OK);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"NewInspector", "Read"}));
  // The inspector's CurrentItem is the very object Display was called on.
  EXPECT_EQ(sx::com::object_identity(recorder->current.Get()),
            sx::com::object_identity(post.Get()));
  LONG count = 0;
  EXPECT_EQ(inspectors->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);

  // A second Display shows the same inspector: no new events.
  ASSERT_EQ(post->Display(missing().get()), S_OK);
  EXPECT_EQ(recorder->events.size(), 2u);
  ComPtr<_Inspector> a, b;
  ASSERT_EQ(post->GetInspector(a.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(inspectors->Item(Variant::from_i4(1).get(), b.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(sx::com::object_identity(a.Get()), sx::com::object_identity(b.Get()));

  // Close asks the item's sinks; one that cancels keeps the inspector open.
  recorder->cancel_close = true;
  EXPECT_EQ(a->Close(olDiscard), S_OK);
  EXPECT_EQ(recorder->events.back(), "ItemClose");
  EXPECT_EQ(inspectors->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  recorder->cancel_close = false;
  EXPECT_EQ(a->Close(olDiscard), S_OK);
  EXPECT_EQ(inspectors->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  ComPtr<IDispatch> gone;
  EXPECT_EQ(a->get_CurrentItem(gone.ReleaseAndGetAddressOf()), E_FAIL);
}

TEST_F(OutlookWindowsTest, ANoteOpensForReadingAndTheEditCommandOfItsMenuSwitchesToEditing) {
  app_ = create();
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<_PostItem> post = saved_post(ns.Get(), "Read me");
  ComPtr<_Inspector> inspector;
  ASSERT_EQ(post->GetInspector(inspector.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(inspector->Display(missing().get()), S_OK);
  VARIANT_BOOL editing = VARIANT_TRUE;
  EXPECT_EQ(inspector->get_Editing(&editing), S_OK);
  EXPECT_EQ(editing, VARIANT_FALSE);
  EXPECT_EQ(inspector->TypeText(Bstr::from_utf8(" more").get()), E_ACCESSDENIED);

  // The walk: "Menu Bar", control 30003, inside it control 3273, Execute.
  ComPtr<_CommandBars> bars;
  ASSERT_EQ(inspector->get_CommandBars(bars.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<CommandBar> menu = bar(bars.Get(), "Menu Bar");
  ASSERT_TRUE(menu);
  ComPtr<CommandBarControl> edit;
  ASSERT_EQ(menu->FindControl(missing().get(), Variant::from_i4(30003).get(), missing().get(),
                              missing().get(), missing().get(), edit.ReleaseAndGetAddressOf()),
            S_OK);
  ComPtr<CommandBarPopup> popup;
  ASSERT_EQ(edit->QueryInterface(IID_PPV_ARGS(popup.ReleaseAndGetAddressOf())), S_OK);
  ComPtr<CommandBarControls> inside;
  ASSERT_EQ(popup->get_Controls(inside.ReleaseAndGetAddressOf()), S_OK);
  LONG count = 0;
  inside->get_Count(&count);
  ComPtr<CommandBarControl> command;
  for (LONG i = 1; i <= count && !command; ++i) {
    ComPtr<CommandBarControl> c;
    LONG id = 0;
    inside->Item(Variant::from_i4(i).get(), c.ReleaseAndGetAddressOf());
    if (SUCCEEDED(c->get_Id(&id)) && id == 3273) command = c;
  }
  ASSERT_TRUE(command);
  ASSERT_EQ(command->Execute(), S_OK);
  EXPECT_EQ(inspector->get_Editing(&editing), S_OK);
  EXPECT_EQ(editing, VARIANT_TRUE);

  EXPECT_EQ(inspector->TypeText(Bstr::from_utf8(" and more").get()), S_OK);
  EXPECT_EQ(inspector->Close(olSave), S_OK);
  ComPtr<_Items> items = inbox_items(ns.Get());
  ComPtr<IDispatch> read;
  ASSERT_EQ(items->Item(Variant::from_utf8("Read me").get(), read.ReleaseAndGetAddressOf()), S_OK);
  Variant body;
  ASSERT_EQ(sx::com::get_property(read.Get(), u"Body", body.put()), S_OK);
  EXPECT_EQ(body.to_utf8(), "first line and more");
}

TEST_F(OutlookWindowsTest, AnAddInWatchingInspectorsSwitchesAnOpenedNoteToEditing) {
  register_addin("SxTest.Toolbar", 3);
  app_ = start_person_outlook();
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<_PostItem> post = saved_post(ns.Get(), "Auto edit");
  clear_addin_log();
  ASSERT_EQ(post->Display(missing().get()), S_OK);
  EXPECT_EQ(addin_log(), "Toolbar:NewInspector\nToolbar:Read(same)\n");
  ComPtr<_Inspector> inspector;
  ASSERT_EQ(post->GetInspector(inspector.ReleaseAndGetAddressOf()), S_OK);
  VARIANT_BOOL editing = VARIANT_FALSE;
  EXPECT_EQ(inspector->get_Editing(&editing), S_OK);
  EXPECT_EQ(editing, VARIANT_TRUE);
  quit(app_);
}

// --- Command bars --------------------------------------------------------------------------------

TEST_F(OutlookWindowsTest, AToolbarMadeInOneRunIsFoundByTagInTheNextAndItsClicksReachTheAddIn) {
  register_addin("SxTest.Toolbar", 3);
  app_ = start_person_outlook();
  EXPECT_NE(addin_log().find("Toolbar:Created"), std::string::npos) << addin_log();
  // The add-in's menu sits before the last menu of the menu bar.
  ComPtr<CommandBar> menu = explorer_bar(app_.Get(), "Menu Bar");
  EXPECT_EQ(captions(menu.Get()), "&File|&Edit|&View|&Tools|&Actions|&SxTest|&Help");
  quit(app_);

  clear_addin_log();
  app_ = start_person_outlook();
  EXPECT_NE(addin_log().find("Toolbar:Found"), std::string::npos) << addin_log();
  ComPtr<CommandBar> toolbar = explorer_bar(app_.Get(), "SxTest Bar");
  ASSERT_TRUE(toolbar);
  EXPECT_EQ(captions(toolbar.Get()), "&Go");  // not a second button
  VARIANT_BOOL visible = VARIANT_FALSE;
  EXPECT_EQ(toolbar->get_Visible(&visible), S_OK);
  EXPECT_EQ(visible, VARIANT_TRUE);
  ComPtr<CommandBarControl> go = find_by_tag(toolbar.Get(), "SxTestTag");
  ASSERT_TRUE(go);
  clear_addin_log();
  ASSERT_EQ(go->Execute(), S_OK);
  EXPECT_EQ(addin_log(), "Toolbar:Click(SxTestTag)\n");
  quit(app_);
}

TEST_F(OutlookWindowsTest, ATemporaryMenuIsGoneInTheNextRunAndAClickLoadsAnOnDemandAddIn) {
  register_addin("SxTest.Toolbar", 3);
  app_ = start_person_outlook();
  quit(app_);

  // Next run: the add-in loads on demand only.
  register_addin("SxTest.Toolbar", 8);
  clear_addin_log();
  app_ = start_person_outlook();
  EXPECT_EQ(addin_log(), "");
  EXPECT_EQ(captions(explorer_bar(app_.Get(), "Menu Bar").Get()),
            "&File|&Edit|&View|&Tools|&Actions|&Help");
  ComPtr<CommandBar> toolbar = explorer_bar(app_.Get(), "SxTest Bar");
  ASSERT_TRUE(toolbar);
  ComPtr<CommandBarControl> go = find_by_tag(toolbar.Get(), "SxTestTag");
  ASSERT_TRUE(go);
  BSTR action = nullptr;
  EXPECT_EQ(go->get_OnAction(&action), S_OK);
  EXPECT_EQ(text_of(action), "!<SxTest.Toolbar>");

  // The click connects the add-in first; it finds its button by tag and hears the click.
  ASSERT_EQ(go->Execute(), S_OK);
  EXPECT_EQ(addin_log(), "Toolbar:OnConnection(0)\nToolbar:Found\nToolbar:Click(SxTestTag)\n");
  EXPECT_TRUE(connected(addin(app_.Get(), "SxTest.Toolbar").Get()));
  EXPECT_EQ(addins::load_behavior("SxTest.Toolbar").value_or(0), 9u);
  quit(app_);
}

TEST_F(OutlookWindowsTest, CommandBarsRefuseWhatIsNotThereAndPlaceControlsWhereAsked) {
  app_ = start_person_outlook();
  ComPtr<_CommandBars> bars;
  ASSERT_EQ(active(app_.Get())->get_CommandBars(bars.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<CommandBar> none;
  EXPECT_EQ(bars->Item(Variant::from_utf8("No Such Bar").get(), none.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
  ComPtr<CommandBar> toolbar;
  ASSERT_EQ(bars->Add(Variant::from_utf8("Mine").get(), Variant::from_i4(msoBarTop).get(),
                      missing().get(), missing().get(), toolbar.ReleaseAndGetAddressOf()),
            S_OK);
  ComPtr<CommandBar> twice;
  EXPECT_EQ(bars->Add(Variant::from_utf8("mine").get(), missing().get(), missing().get(),
                      missing().get(), twice.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
  ComPtr<CommandBarControls> controls;
  ASSERT_EQ(toolbar->get_Controls(controls.ReleaseAndGetAddressOf()), S_OK);
  for (const char* caption : {"b", "a", "c"}) {
    ComPtr<CommandBarControl> c;
    // "a" goes before "b"; the others at the end.
    Variant before = std::string(caption) == "a" ? Variant::from_i4(1) : missing();
    ASSERT_EQ(controls->Add(missing().get(), missing().get(), missing().get(), before.get(),
                            missing().get(), c.ReleaseAndGetAddressOf()),
              S_OK);
    c->put_Caption(Bstr::from_utf8(caption).get());
  }
  EXPECT_EQ(captions(toolbar.Get()), "a|b|c");
  ComPtr<CommandBarControl> bad;
  EXPECT_EQ(controls->Add(missing().get(), missing().get(), missing().get(),
                          Variant::from_i4(9).get(), missing().get(), bad.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
  EXPECT_EQ(controls->Add(Variant::from_i4(4).get(), missing().get(), missing().get(),
                          missing().get(), missing().get(), bad.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
  // A copy of a built-in command, of its own type; an unknown command is refused.
  ComPtr<CommandBarControl> copy;
  ASSERT_EQ(controls->Add(missing().get(), Variant::from_i4(30003).get(), missing().get(),
                          missing().get(), missing().get(), copy.ReleaseAndGetAddressOf()),
            S_OK);
  LONG type = 0;
  EXPECT_EQ(copy->get_Type(&type), S_OK);
  EXPECT_EQ(type, msoControlPopup);
  EXPECT_EQ(controls->Add(missing().get(), Variant::from_i4(99999).get(), missing().get(),
                          missing().get(), missing().get(), bad.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
  EXPECT_EQ(captions(toolbar.Get()), "a|b|c|&Edit");
  ComPtr<CommandBar> menu = bar(bars.Get(), "Menu Bar");
  EXPECT_EQ(menu->Delete(), E_INVALIDARG);  // built in
  EXPECT_EQ(toolbar->Delete(), S_OK);
  LONG count = 0;
  EXPECT_EQ(controls->get_Count(&count), S_OK);  // the controls of a deleted bar are still there
  BSTR name = nullptr;
  EXPECT_EQ(toolbar->get_Name(&name), E_FAIL);
  quit(app_);
}

TEST_F(OutlookWindowsTest, ADamagedCommandBarFileIsKeptAsideAndTheBuiltInBarsAreUsed) {
  register_addin("SxTest.Toolbar", 3);
  app_ = start_person_outlook();
  quit(app_);
  const std::filesystem::path file =
      machine_.c("Documents and Settings\\User\\Application Data\\Microsoft\\Outlook\\outcmd.dat");
  ASSERT_TRUE(std::filesystem::exists(file));
  std::ofstream(file, std::ios::app) << "control\t9\tnonsense\n";
  std::string expected;
  {
    std::ifstream in(file);
    expected.assign(std::istreambuf_iterator<char>(in), {});
  }
  clear_addin_log();
  app_ = start_person_outlook();
  // The add-in finds no toolbar and makes it again; the damaged file is still there to look at.
  EXPECT_NE(addin_log().find("Toolbar:Created"), std::string::npos) << addin_log();
  std::filesystem::path aside = file;
  aside += ".damaged";
  std::ifstream in(aside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
  quit(app_);
}

TEST_F(OutlookWindowsTest, InjectedFaultsReachTheNewObjects) {
  app_ = start_person_outlook();
  inject_fault({.kind = "CommandBars", .operation = "Item", .hr = E_FAIL, .description = "bars"});
  inject_fault(
      {.kind = "Explorer", .operation = "Close", .hr = E_ACCESSDENIED, .description = "no"});
  inject_fault(
      {.kind = "OutlookBarGroups", .operation = "Count", .hr = E_OUTOFMEMORY, .description = "no"});
  ComPtr<_Explorer> explorer = active(app_.Get());
  ComPtr<_CommandBars> bars;
  ASSERT_EQ(explorer->get_CommandBars(bars.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<CommandBar> menu;
  EXPECT_EQ(bars->Item(Variant::from_utf8("Menu Bar").get(), menu.ReleaseAndGetAddressOf()),
            E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  info->Release();
  EXPECT_EQ(text_of(description), "bars");
  EXPECT_EQ(explorer->Close(), E_ACCESSDENIED);
  EXPECT_TRUE(outlook_running_here());  // a failed Close closed nothing
  ComPtr<Panes> panes;
  ComPtr<IDispatch> pane;
  ComPtr<_OutlookBarPane> bar_pane;
  ComPtr<_OutlookBarStorage> contents;
  ComPtr<_OutlookBarGroups> groups;
  ASSERT_EQ(explorer->get_Panes(panes.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(panes->Item(Variant::from_utf8("OutlookBar").get(), pane.ReleaseAndGetAddressOf()),
            S_OK);
  ASSERT_EQ(pane->QueryInterface(IID_PPV_ARGS(bar_pane.ReleaseAndGetAddressOf())), S_OK);
  ASSERT_EQ(bar_pane->get_Contents(contents.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(contents->get_Groups(groups.ReleaseAndGetAddressOf()), S_OK);
  LONG count = 0;
  EXPECT_EQ(groups->get_Count(&count), E_OUTOFMEMORY);
  quit(app_);
}

// --- The Outlook Bar -----------------------------------------------------------------------------

TEST_F(OutlookWindowsTest, OutlookBarGroupsComeInPaneOrderAndAShortcutIsAddedAtTheEnd) {
  app_ = start_person_outlook();
  auto groups_of = [](_Application* app) {
    ComPtr<Panes> panes;
    ComPtr<IDispatch> pane;
    ComPtr<_OutlookBarPane> bar;
    ComPtr<_OutlookBarStorage> contents;
    ComPtr<_OutlookBarGroups> groups;
    EXPECT_EQ(active(app)->get_Panes(panes.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(panes->Item(Variant::from_utf8("OutlookBar").get(), pane.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(pane->QueryInterface(IID_PPV_ARGS(bar.ReleaseAndGetAddressOf())), S_OK);
    EXPECT_EQ(bar->get_Contents(contents.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(contents->get_Groups(groups.ReleaseAndGetAddressOf()), S_OK);
    return groups;
  };
  auto names = [](_OutlookBarGroups* groups) {
    LONG count = 0;
    EXPECT_EQ(groups->get_Count(&count), S_OK);
    std::string out;
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<_OutlookBarGroup> g;
      EXPECT_EQ(groups->Item(Variant::from_i4(i).get(), g.ReleaseAndGetAddressOf()), S_OK);
      BSTR name = nullptr;
      g->get_Name(&name);
      out += text_of(name) + ",";
    }
    return out;
  };
  ComPtr<_OutlookBarGroups> groups = groups_of(app_.Get());
  EXPECT_EQ(names(groups.Get()), "Outlook Shortcuts,My Shortcuts,Other Shortcuts,");
  ComPtr<_OutlookBarGroup> group;
  EXPECT_EQ(groups->Item(Variant::from_utf8("my shortcuts").get(), group.ReleaseAndGetAddressOf()),
            MAPI_E_NOT_FOUND);  // names are compared exactly
  ASSERT_EQ(groups->Item(Variant::from_utf8("My Shortcuts").get(), group.ReleaseAndGetAddressOf()),
            S_OK);
  ComPtr<_OutlookBarGroup> added;
  ASSERT_EQ(groups->Add(Bstr::from_utf8("Notes").get(), Variant::from_i4(2).get(),
                        added.ReleaseAndGetAddressOf()),
            S_OK);
  EXPECT_EQ(names(groups.Get()), "Outlook Shortcuts,Notes,My Shortcuts,Other Shortcuts,");

  // Shortcuts: the defaults, then one added without a position lands at the end.
  ComPtr<_OutlookBarGroup> first;
  ASSERT_EQ(groups->Item(Variant::from_i4(1).get(), first.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_OutlookBarShortcuts> shortcuts;
  ASSERT_EQ(first->get_Shortcuts(shortcuts.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<MAPIFolder> contacts;
  ASSERT_EQ(ns->GetDefaultFolder(olFolderContacts, contacts.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_OutlookBarShortcut> shortcut;
  ASSERT_EQ(
      shortcuts->Add(Variant::from_dispatch(contacts.Get()).get(), Bstr::from_utf8("People").get(),
                     missing().get(), shortcut.ReleaseAndGetAddressOf()),
      S_OK);
  LONG count = 0;
  EXPECT_EQ(shortcuts->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);
  ComPtr<_OutlookBarShortcut> last;
  ASSERT_EQ(shortcuts->Item(Variant::from_i4(3).get(), last.ReleaseAndGetAddressOf()), S_OK);
  BSTR name = nullptr;
  EXPECT_EQ(last->get_Name(&name), S_OK);
  EXPECT_EQ(text_of(name), "People");
  quit(app_);

  // The groups and shortcuts are the profile's: the next run has them, and the target is the
  // folder.
  app_ = start_person_outlook();
  groups = groups_of(app_.Get());
  EXPECT_EQ(names(groups.Get()), "Outlook Shortcuts,Notes,My Shortcuts,Other Shortcuts,");
  ASSERT_EQ(
      groups->Item(Variant::from_utf8("Outlook Shortcuts").get(), first.ReleaseAndGetAddressOf()),
      S_OK);
  ASSERT_EQ(first->get_Shortcuts(shortcuts.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(shortcuts->Item(Variant::from_utf8("People").get(), last.ReleaseAndGetAddressOf()),
            S_OK);
  Variant target;
  ASSERT_EQ(last->get_Target(target.put()), S_OK);
  ASSERT_EQ(target.vt(), VT_DISPATCH);
  Variant folder_name;
  ASSERT_EQ(sx::com::get_property(target.get().pdispVal, u"Name", folder_name.put()), S_OK);
  EXPECT_EQ(folder_name.to_utf8(), "Contacts");
  quit(app_);
}

// --- What other processes save -------------------------------------------------------------------

class AddListener : public sx::com::ComObject<ItemsEvents> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ItemAdd(IDispatch* item) override {
    Variant subject;
    sx::com::get_property(item, u"Subject", subject.put());
    added.push_back(subject.to_utf8());
    return S_OK;
  }
  STDMETHODIMP ItemChange(IDispatch*) override { return S_OK; }
  STDMETHODIMP ItemRemove() override { return S_OK; }
  std::vector<std::string> added;
};

TEST_F(OutlookWindowsTest, AFolderShownAgainNoticesWhatAnotherProcessSavedThere) {
  app_ = start_person_outlook();
  ComPtr<_NameSpace> ns = mapi(app_.Get());
  ComPtr<_Items> items = inbox_items(ns.Get());
  auto listener = sx::com::make_object<AddListener>();
  DWORD cookie = 0;
  ASSERT_EQ(items_events(items.Get())->Advise(listener.Get(), &cookie), S_OK);
  ComPtr<_PostItem> own = saved_post(ns.Get(), "Own");
  EXPECT_EQ(listener->added, std::vector<std::string>{"Own"});

  // Another process (the folder tool, as a HotSync would) saves a post into the Inbox.
  const std::string command = std::string(SXFOLDERS_PATH) + " --machine '" +
                              machine_.root().string() +
                              "' add-post --subject 'From elsewhere' 'Personal Folders/Inbox' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(listener->added.size(), 1u);  // nothing is heard across processes

  // The explorer shows the folder again: the new post is noticed, once; its own post is not
  // announced twice.
  ComPtr<_Explorer> explorer = active(app_.Get());
  ComPtr<MAPIFolder> inbox;
  ASSERT_EQ(explorer->get_CurrentFolder(inbox.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(explorer->put_CurrentFolder(inbox.Get()), S_OK);
  EXPECT_EQ(listener->added, (std::vector<std::string>{"Own", "From elsewhere"}));
  ASSERT_EQ(explorer->put_CurrentFolder(inbox.Get()), S_OK);
  EXPECT_EQ(listener->added.size(), 2u);
  quit(app_);
}

}  // namespace
}  // namespace sx::outlook
