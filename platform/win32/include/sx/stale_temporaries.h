// Temporary files left by writers that were killed between writing a temporary file and renaming
// it over the real one. Such a file is named "<file><marker><pid>" beside the file it was to
// replace; the next writer of that file removes those whose process is gone. Any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace sx::stale {

// Whether `pid` names no live process: what it left behind (a file, a registration) may go.
bool process_is_gone(long pid);

// Removes "<file><marker><pid>" beside `file` for every pid that is not a live process (this
// process's own are kept). Returns how many were removed; errors are ignored (the files stay).
int remove_temporaries(const std::filesystem::path& file, std::string_view marker);

// The same for every file of `folder`: removes "<name><marker><pid>" whose process is gone, for
// writers of many files whose names do not repeat (one per window, one per message).
int remove_temporaries_in(const std::filesystem::path& folder, std::string_view marker);

}  // namespace sx::stale
