// The sample add-ins of test_addins.cpp: their classes and where they log.
#pragma once

#include "comdef.h"

inline constexpr CLSID kTestAddInA = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DA1}");
inline constexpr CLSID kTestAddInB = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DB2}");
inline constexpr CLSID kTestAddInFailing = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DC3}");
inline constexpr char kTestAddInLogKey[] = "Software\\SxTest";
