// <oleauto.h> on Windows: the automation types and functions come with the same umbrella as
// <objbase.h>.
#pragma once

#include "objbase.h"
