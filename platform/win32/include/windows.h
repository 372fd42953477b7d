// The Windows stand-in's umbrella header: system code includes it as it would include <windows.h>.
#pragma once

#include "win32/codepage.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/module.h"
#include "win32/process.h"
#include "win32/registry.h"
#include "win32/sync.h"
#include "win32/types.h"
#include "win32/window.h"
