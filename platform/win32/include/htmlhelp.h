// HTML Help, as system code includes it on Windows.
#pragma once

#include "win32/htmlhelp.h"
