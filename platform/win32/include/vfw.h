// Video for Windows' DrawDib, as system code includes it on Windows.
#pragma once

#include "win32/vfw.h"
