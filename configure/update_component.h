// The folder maintenance component ("ScribbixUpdate.Update1") as the folder procedures call it:
// its creation, and its methods with their 32-bit results. A call that fails (its HRESULT) throws
// ComError; the callers show it with ShowComError. User-interface thread only.
#pragma once

#include <string>

#include "comdef.h"
#include "scribbixupdate/scribbixupdate.h"

namespace sx::configure {

// An object of the component, or null (and *why, when given, the creation's failure) when it
// cannot be made.
sx::com::ComPtr<_Update1> CreateUpdateComponent(HRESULT* why = nullptr);

LONG SetNameSpace(_Update1* update, _NameSpace* nameSpace);
// A method without arguments.
LONG Call(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(LONG*));
// A method with one text argument.
LONG CallWithText(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(VARIANT*, LONG*),
                  const std::string& text);
// SetAddIn: the add-in's place (+ kAddInConnected when it was connected before the call), 0 when
// Outlook lists no add-in of that name, or the component's failure code.
LONG SetAddIn(_Update1* update, const char* addInName, bool on);

// `value` in lower-case hexadecimal, as the procedures' messages show codes.
std::string Hex(unsigned long value);

}  // namespace sx::configure
