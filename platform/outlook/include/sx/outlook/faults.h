// Fault injection for tests: makes a named operation of Outlook's object model fail with a given
// HRESULT, source and description, so that every failure path of the code that drives Outlook can
// be reached.
//
//   sx::outlook::inject_fault({.kind = "Items", .operation = "Add", .nth = 2,
//                              .hr = E_FAIL, .source = "Microsoft Outlook",
//                              .description = "Out of disk"});
//
// A call matches a fault when:
// - `kind` is empty, equals the object's kind ("Application", "NameSpace", "Folders",
//   "MAPIFolder", "Items", "PostItem", "ContactItem", "MailItem", "UserProperties",
//   "UserProperty", "Links", "Link", "COMAddIns", "COMAddIn", "Explorers", "Explorer", "Panes",
//   "Inspectors", "Inspector", "CommandBars", "CommandBar", "CommandBarControls",
//   "CommandBarButton", "CommandBarPopup", "OutlookBarPane", "OutlookBarGroups", "OutlookBarGroup",
//   "OutlookBarShortcuts", "OutlookBarShortcut"), or is "Item" and the object is an item of any
//   kind;
// - `operation` equals the member's accessor name ("get_Subject", "put_Value", "GetFirst", "Save")
//   or its name without the get_/put_ prefix ("Subject" matches both); "*" matches every member
//   (with an empty kind: the n-th call into Outlook, whatever it is);
// - `object` is null or is the called object (a client's proxy of it will do).
// Kind "Application" with operation "Create" is the creation of "Outlook.Application" itself: the
// CoCreateInstance (or a creation from another apartment) fails with the fault's HRESULT.
// Matching calls are counted per fault; calls nth .. nth + times - 1 fail (times 0: every call
// from the nth on). A failing call does nothing else. Thread-safe; faults are process-wide.
#pragma once

#include <string>

#include "comdef.h"

namespace sx::outlook {

struct Fault {
  std::string kind;
  std::string operation;
  IUnknown* object = nullptr;  // compared by address only, never called
  int nth = 1;
  int times = 1;
  HRESULT hr = E_FAIL;
  std::string source = "Microsoft Outlook";
  std::string description{};
};

// Adds a fault; returns its id for remove_fault.
int inject_fault(const Fault& fault);
void remove_fault(int id);
void clear_faults();
// How many matching calls a fault has counted so far (0 for an unknown id).
int fault_calls(int id);
// The last call a fault made fail, as "Kind.operation" ("Items.Find"); "" when none.
std::string fault_failed_call(int id);

}  // namespace sx::outlook
