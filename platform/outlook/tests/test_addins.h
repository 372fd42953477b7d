// The sample add-ins of test_addins.cpp: their classes and where they log.
#pragma once

#include "comdef.h"

inline constexpr CLSID kTestAddInA = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DA1}");
inline constexpr CLSID kTestAddInB = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DB2}");
inline constexpr CLSID kTestAddInFailing = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DC3}");
// "SxTest.Toolbar": keeps a toolbar "SxTest Bar" (created once, found by its button's tag
// "SxTestTag" later) and a temporary menu "&SxTest" on the explorers' "Menu Bar"; logs clicks,
// the explorer's Close (with Explorers.Count then), NewInspector and Read (whether Read came on
// the inspector's CurrentItem), and on Read walks 30003/3273 and executes it.
inline constexpr CLSID kTestAddInToolbar = sx::com::guid("{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DD4}");
inline constexpr char kTestAddInLogKey[] = "Software\\SxTest";
