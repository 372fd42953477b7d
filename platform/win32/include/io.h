// The Windows C runtime's low-level file calls, as system code includes them on Windows
// (win32/crt.h tells how rename and remove reach their Windows versions).
#pragma once

#include "win32/crt.h"
