// The common controls, as system code includes them on Windows: property sheets (the progress bar's
// messages come with windows.h).
#pragma once

#include "win32/prsht.h"
#include "windows.h"
