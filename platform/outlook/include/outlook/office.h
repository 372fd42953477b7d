// Office's list of COM add-ins as Outlook offers it (Application.COMAddIns), imported as Office's
// type library would be. Conventions as in outlook/outlook.h.
#pragma once

#include "comdef.h"

struct COMAddIn;
struct CommandBar;
struct CommandBarControls;
struct CommandBarControl;
struct CommandBarButton;

// MsoControlType (CommandBarControls.Add, CommandBarControl.Type).
enum MsoControlType : LONG { msoControlButton = 1, msoControlPopup = 10 };
// MsoBarPosition (CommandBars.Add, CommandBar.Position).
enum MsoBarPosition : LONG {
  msoBarLeft = 0,
  msoBarTop = 1,
  msoBarRight = 2,
  msoBarBottom = 3,
  msoBarFloating = 4,
  msoBarPopup = 5,
  msoBarMenuBar = 6
};
// MsoButtonStyle (CommandBarButton.Style).
enum MsoButtonStyle : LONG {
  msoButtonAutomatic = 0,
  msoButtonIcon = 1,
  msoButtonCaption = 2,
  msoButtonIconAndCaption = 3
};

// The add-ins registered under HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins when
// Outlook started, in ascending order of their ProgIDs (the registry's order).
#define SX_OFFICE_COM_ADDINS_MEMBERS(M)                                                         \
  M(get_Count, (LONG*, count))                                                                  \
  /* By 1-based index (a number) or by ProgID (a text, compared without regard to case);        \
     DISP_E_BADINDEX when there is none. */                                                     \
  M(Item, (VARIANT, index), (COMAddIn**, addin))                                                \
  /* Adds the add-ins registered since Outlook started, at the end. It reads no "LoadBehavior": \
     that is read once, when Outlook starts. */                                                 \
  M(Update)

struct COMAddIns : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0339-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COM_ADDINS_MEMBERS)

 protected:
  ~COMAddIns() = default;
};

#define SX_OFFICE_COM_ADDIN_MEMBERS(M)                                                           \
  /* The registry's "Description" as read when Outlook started; a put changes only this run. */  \
  M(get_Description, (BSTR*, description))                                                       \
  M(put_Description, (BSTR, description))                                                        \
  M(get_ProgId, (BSTR*, progid))                                                                 \
  /* The class id of the ProgID in braces; "" when the class is not registered. */               \
  M(get_Guid, (BSTR*, guid))                                                                     \
  /* Whether the add-in is connected now. */                                                     \
  M(get_Connect, (VARIANT_BOOL*, connected))                                                     \
  /* Connects (OnConnection with ext_cm_AfterStartup) or disconnects (OnDisconnection with       \
     ext_dm_UserClosed) at once, before the put returns; then writes "LoadBehavior": 3 when      \
     connected, the value with the loaded bit (1) cleared when disconnected. Nothing happens     \
     when the state is already the one asked for. A failing OnConnection is the put's failure;   \
     the add-in stays disconnected and "LoadBehavior" is left alone. */                          \
  M(put_Connect, (VARIANT_BOOL, connect))                                                        \
  /* What the add-in exposes of itself (it sets it, usually in OnConnection); null otherwise. */ \
  M(get_Object, (IDispatch**, object))                                                           \
  M(put_Object, (IDispatch*, object))

struct COMAddIn : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C033A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COM_ADDIN_MEMBERS)

 protected:
  ~COMAddIn() = default;
};

// Office command bars, as Outlook's explorers and inspectors offer them (Explorer.CommandBars,
// Inspector.CommandBars; docs/outlook-user-interface.md). The explorers of one Outlook share one
// set of bars: the built-in "Menu Bar" (its last top-level control is the last menu, "&Help") and
// "Standard", and the bars add-ins add. Bars and controls that are not temporary are kept in the
// user's command bar settings file and come back at the next Outlook start; temporary ones go when
// Outlook ends. An inspector has bars of its own, built in afresh at each opening; what is added to
// them goes with the inspector.
#define SX_OFFICE_COMMAND_BARS_MEMBERS(M)                                                      \
  M(get_Count, (LONG*, count))                                                                 \
  /* By 1-based index or by name (compared without regard to case); E_INVALIDARG when there is \
     none, as Office raises "Invalid procedure call or argument". */                           \
  M(Item, (VARIANT, index), (CommandBar**, bar))                                               \
  /* A new bar, not visible, at `position` (omitted: msoBarFloating). `temporary` True: gone   \
     when Outlook ends. `menu_bar` is accepted and ignored. A name already used: E_INVALIDARG. \
   */                                                                                          \
  M(Add, (VARIANT, name), (VARIANT, position), (VARIANT, menu_bar), (VARIANT, temporary),      \
    (CommandBar**, bar))                                                                       \
  /* The first control of any bar (its top-level controls and, inside popups, theirs) that     \
     matches every criterion given (type, id, tag); null when none does. */                    \
  M(FindControl, (VARIANT, type), (VARIANT, id), (VARIANT, tag), (VARIANT, visible),           \
    (CommandBarControl**, control))

struct _CommandBars : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0302-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BARS_MEMBERS)

 protected:
  ~_CommandBars() = default;
};

// A bar. Every member of a deleted bar fails with E_FAIL.
#define SX_OFFICE_COMMAND_BAR_MEMBERS(M)                                                       \
  M(get_Name, (BSTR*, name))                                                                   \
  M(get_Visible, (VARIANT_BOOL*, visible))                                                     \
  M(put_Visible, (VARIANT_BOOL, visible))                                                      \
  M(get_Position, (LONG*, position))                                                           \
  M(put_Position, (LONG, position))                                                            \
  M(get_BuiltIn, (VARIANT_BOOL*, built_in))                                                    \
  M(get_Controls, (CommandBarControls**, controls))                                            \
  /* The first control of this bar that matches every criterion given (type, id, tag, visible  \
     True: visible controls only); popups are searched too when `recursive` is True. Null when \
     none does. */                                                                             \
  M(FindControl, (VARIANT, type), (VARIANT, id), (VARIANT, tag), (VARIANT, visible),           \
    (VARIANT, recursive), (CommandBarControl**, control))                                      \
  /* Deletes a bar that is not built in (E_INVALIDARG for a built-in one). */                  \
  M(Delete)

struct CommandBar : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0304-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_MEMBERS)

 protected:
  ~CommandBar() = default;
};

#define SX_OFFICE_COMMAND_BAR_CONTROLS_MEMBERS(M)                                               \
  M(get_Count, (LONG*, count))                                                                  \
  /* By 1-based index or by caption; E_INVALIDARG when there is none. */                        \
  M(Item, (VARIANT, index), (CommandBarControl**, control))                                     \
  /* A new control: `type` msoControlButton (omitted) or msoControlPopup (others E_INVALIDARG); \
     `id` a built-in control's id gives a copy of that control (of its own type when `type`     \
     is omitted), omitted or 1 a custom one;                                                    \
     `before` the 1-based position it takes (omitted: at the end; outside 1..Count+1            \
     E_INVALIDARG); `temporary` True: gone when Outlook ends (every control of a temporary bar  \
     is). `parameter` becomes the control's Parameter. */                                       \
  M(Add, (VARIANT, type), (VARIANT, id), (VARIANT, parameter), (VARIANT, before),               \
    (VARIANT, temporary), (CommandBarControl**, control))

struct CommandBarControls : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0306-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_CONTROLS_MEMBERS)

 protected:
  ~CommandBarControls() = default;
};

// A control. A button answers CommandBarButton too, a popup CommandBarPopup. Every member of a
// deleted control fails with E_FAIL.
#define SX_OFFICE_COMMAND_BAR_CONTROL_MEMBERS(M)                                               \
  M(get_Caption, (BSTR*, caption))                                                             \
  M(put_Caption, (BSTR, caption))                                                              \
  M(get_Tag, (BSTR*, tag))                                                                     \
  M(put_Tag, (BSTR, tag))                                                                      \
  M(get_TooltipText, (BSTR*, text))                                                            \
  M(put_TooltipText, (BSTR, text))                                                             \
  M(get_Visible, (VARIANT_BOOL*, visible))                                                     \
  M(put_Visible, (VARIANT_BOOL, visible))                                                      \
  M(get_Enabled, (VARIANT_BOOL*, enabled))                                                     \
  M(put_Enabled, (VARIANT_BOOL, enabled))                                                      \
  M(get_BeginGroup, (VARIANT_BOOL*, begin_group))                                              \
  M(put_BeginGroup, (VARIANT_BOOL, begin_group))                                               \
  /* "!<ProgID>" routes the control's clicks to that COM add-in: a click loads it first when   \
     it is not connected and its "LoadBehavior" says load on demand (8). */                    \
  M(get_OnAction, (BSTR*, action))                                                             \
  M(put_OnAction, (BSTR, action))                                                              \
  M(get_Parameter, (BSTR*, parameter))                                                         \
  M(put_Parameter, (BSTR, parameter))                                                          \
  /* 1 for a custom control, else the built-in command's id */                                 \
  M(get_Id, (LONG*, id))                                                                       \
  M(get_Type, (LONG*, type))                                                                   \
  M(get_BuiltIn, (VARIANT_BOOL*, built_in))                                                    \
  /* 1-based position among its siblings */                                                    \
  M(get_Index, (LONG*, index))                                                                 \
  /* What a click does: a built-in command runs (see docs/outlook-user-interface.md); a button \
     raises Click to every sink advised on a button of the same Tag (of the same control when  \
     the Tag is empty). E_FAIL for a disabled control. */                                      \
  M(Execute)                                                                                   \
  M(Delete, (VARIANT, temporary))

struct CommandBarControl : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0308-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_CONTROL_MEMBERS)

 protected:
  ~CommandBarControl() = default;
};

#define SX_OFFICE_COMMAND_BAR_BUTTON_MEMBERS(M) \
  M(get_FaceId, (LONG*, face_id))               \
  M(put_FaceId, (LONG, face_id))                \
  M(get_Style, (LONG*, style))                  \
  M(put_Style, (LONG, style))

struct CommandBarButton : CommandBarControl {
  static constexpr IID kIid = sx::com::guid("{000C030E-0000-0000-C000-000000000046}");
  using Base = CommandBarControl;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_BUTTON_MEMBERS)

 protected:
  ~CommandBarButton() = default;
};

#define SX_OFFICE_COMMAND_BAR_POPUP_MEMBERS(M) M(get_Controls, (CommandBarControls**, controls))

struct CommandBarPopup : CommandBarControl {
  static constexpr IID kIid = sx::com::guid("{000C030A-0000-0000-C000-000000000046}");
  using Base = CommandBarControl;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_POPUP_MEMBERS)

 protected:
  ~CommandBarPopup() = default;
};

// The events of a button: a sink connects through the button's IConnectionPointContainer. Click
// comes on Outlook's thread, before the built-in command of the button (if any) runs;
// `cancel_default` True skips that command.
#define SX_OFFICE_COMMAND_BAR_BUTTON_EVENTS_MEMBERS(M) \
  M(Click, (CommandBarButton*, button), (VARIANT_BOOL*, cancel_default))

struct CommandBarButtonEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0351-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COMMAND_BAR_BUTTON_EVENTS_MEMBERS)

 protected:
  ~CommandBarButtonEvents() = default;
};
