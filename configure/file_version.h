// Version information of files, as the component checks read it: a file's FileVersion text, the
// four numbers of a version text, and the test for an Outlook 2000 SR-1 whose library files were
// left behind by a partial upgrade. Thread-safe (no shared state).
#pragma once

#include <array>
#include <string>

namespace sx::configure {

// Whether a file or folder exists at the Windows path.
bool FileExists(const std::string& path);

// ReadFileVersion's results besides 0 (the version text was read).
inline constexpr int kVersionFileMissing = -1;
inline constexpr int kVersionUnreadable = -2;

// The FileVersion text of the file at a Windows path, from the first of the language blocks
// 040904B0, 040904E4 and 000004E4 that holds one: 0; kVersionFileMissing when the file does not
// exist; kVersionUnreadable when it has no version information or no FileVersion in those blocks.
int ReadFileVersion(const std::string& path, std::string* version);

// One text value (FileVersion, InternalName...) of block 040904B0 of the file's version
// information; false when the file, the block or the value is missing.
bool ReadVersionString(const std::string& path, const char* name, std::string* value);

// The four parts of a version text "a.b.c.d"; each part is read as a decimal number (its leading
// digits; 0 when it has none). The first part is always read unless the text is empty; a later
// part only when it is not empty. Parts not read are -1.
std::array<int, 4> ParseVersion(const std::string& text);

// The library files of the Outlook at `serverPath` ("outlrpc.dll" and "1033\outllibr.dll" in its
// folder): 0 when both carry a version of 9.0 build 3000 or later (or any other major/minor).
// Otherwise non-zero: 1 with *message "The following file is out of date: <path>\n" for a file of
// 9.0 below build 3000, -1 for a missing file, -2 for an unreadable version (message empty unless
// a file was out of date). The first file's result wins when it is not 0.
int CheckPartialUpgrade(const std::string& serverPath, std::string* message);

}  // namespace sx::configure
