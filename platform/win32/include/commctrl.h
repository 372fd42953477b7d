// The common controls, as system code includes them on Windows: property sheets and the controls'
// start-up (the progress bar's messages come with windows.h).
#pragma once

#include "win32/commctrl.h"
#include "windows.h"
