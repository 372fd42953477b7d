// Windows, dialogs, messages and message boxes: the Win32 surface and our dialog templates and
// hosts.
#pragma once

#include "sx/resources.h"
#include "sx/window.h"
#include "win32/errors.h"
#include "win32/types.h"
#include "win32/winuser.h"
