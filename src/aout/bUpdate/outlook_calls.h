// What Update1's methods do with Outlook, as small calls that throw sx::com::ComError (with
// Outlook's source and description) when Outlook fails, so that a method can turn the failure
// into its code at its end. The calling thread's apartment only.
#pragma once

#include <string>
#include <string_view>

#include "comdef.h"
#include "outlook/outlook.h"

namespace sx::update {

using sx::com::ComPtr;

// An ASCII text as UTF-16.
std::u16string widen(std::string_view ascii);

// Throws what Visual Basic raises for a member of Nothing (0x800A005B "Object variable or With
// block variable not set").
[[noreturn]] void object_not_set();

ComPtr<_Folders> folders_of(_NameSpace* ns);
ComPtr<_Folders> folders_of(MAPIFolder* folder);
LONG count_of(_Folders* folders);
ComPtr<MAPIFolder> first_of(_Folders* folders);
ComPtr<MAPIFolder> next_of(_Folders* folders);
// The folder's name (object_not_set for a null folder).
std::u16string name_of(MAPIFolder* folder);
void rename(MAPIFolder* folder, std::string_view name);
bool named(MAPIFolder* folder, std::string_view name);

// The shared Outlook Application of the component (created on first use by COM creation of
// "Outlook.Application", which attaches to a running Outlook or starts one). Held for the calling
// apartment until the last Update1 object of the process goes (release_shared_application), so
// Outlook can end between the configuration program's steps. A caller from another apartment than
// the holder's gets an Application of its own for the call.
ComPtr<_Application> shared_application();
void release_shared_application();

// Keeps an error as this thread's error information and shows the component's message box:
// critical stop, `prefix` followed directly by the error's description.
void report(const sx::com::ComError& e, const std::string& prefix);
// The error's description as Visual Basic's Err.Description gives it (the system's message text
// when the error carries none).
std::string description_of(const sx::com::ComError& e);
// " 7", "-3": a number as Visual Basic's Str gives it (a leading blank when not negative).
std::string str(long value);

}  // namespace sx::update
