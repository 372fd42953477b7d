// Property sheets, as system code includes them on Windows.
#pragma once

#include "win32/prsht.h"
