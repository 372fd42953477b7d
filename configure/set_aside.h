// Setting a user's file aside before a fresh notes folder takes its place: the file is renamed to
// the first free "<file>.<n>" (n = 1 to 100), never over another file, with the C runtime's rename
// and its errno. Nothing is ever deleted here. User-interface thread only.
#pragma once

#include <string>

namespace sx::configure {

inline constexpr int kMostSetAside = 100;

// Renames `file` to "<file>.<n>", trying n = `first` .. 100 and then 1 .. `first` - 1, stopping at
// the first success: 0 and *setAsideAs, or the C runtime's errno of the last attempt (EACCES: the
// file is held open).
int SetAsideFile(const std::string& file, std::string* setAsideAs, int first = 1);

// The number n of a name "<file>.<n>" that SetAsideFile gave; 1 when there is none.
int SetAsideNumber(const std::string& file, const std::string& setAsideAs);

// Renames the set-aside file back to `file`: true when it is back.
bool PutBack(const std::string& setAsideAs, const std::string& file);

}  // namespace sx::configure
