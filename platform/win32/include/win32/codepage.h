#pragma once

#include "win32/types.h"
#include "win32/errors.h"
