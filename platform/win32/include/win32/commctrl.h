// The common controls' start-up: a Windows program calls InitCommonControlsEx before it uses the
// progress bar or property sheets. The stand-in's controls are always there (and always drawn
// three-dimensional), so these only check their argument.
#pragma once

#include "win32/prsht.h"
#include "win32/winuser.h"

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;  // sizeof(INITCOMMONCONTROLSEX)
  DWORD dwICC;   // ICC_* classes
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;

#define ICC_PROGRESS_CLASS 0x00000020u
#define ICC_STANDARD_CLASSES 0x00004000u
#define ICC_WIN95_CLASSES 0x000000FFu

extern "C" {

void InitCommonControls();
// FALSE for a null argument or a wrong dwSize.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

}  // extern "C"
