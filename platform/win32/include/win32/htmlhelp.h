// HTML Help: HtmlHelpA opens a help file in a viewer window.
//
// The viewer is a top-level window of class "HH Parent" titled by the file's name without its
// extension; it belongs to the calling thread, is listed for FindWindowA like any top-level window,
// and is recorded under the scripted host (sx::window::shown(), kind kHelpViewer, `text` the file
// as given). Nothing is rendered. Thread-safe.
#pragma once

#include "win32/winuser.h"

#define HH_DISPLAY_TOPIC 0x0000u
#define HH_HELP_FINDER 0x0000u
#define HH_DISPLAY_TOC 0x0001u
#define HH_DISPLAY_INDEX 0x0002u
#define HH_DISPLAY_SEARCH 0x0003u
#define HH_CLOSE_ALL 0x0012u

extern "C" {

// HH_DISPLAY_TOPIC (and TOC, INDEX, SEARCH): `file` is a Windows path to a .chm file, optionally
// followed by "::/topic.htm" and ">window". Returns the viewer window when the file exists (the
// same window again for the same file while it is open), null when it does not. HH_CLOSE_ALL
// closes the calling thread's viewers and returns null; other commands return null.
HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

}  // extern "C"
