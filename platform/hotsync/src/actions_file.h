// The text of a HotSync user's SyncActions.txt: the action chosen for a conduit, one line each,
// "<conduit key> <default|once> <sync type>". A line that breaks the form is skipped; a later line
// for the same conduit replaces an earlier one. Pure functions; any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace sx::hotsync::detail {

inline constexpr std::size_t kMaxActionsFileBytes = 64 * 1024;

// Conduit key -> (kind "default" or "once", sync type >= 0).
using SyncActions = std::map<std::string, std::pair<std::string, int>>;

SyncActions parse_actions_text(std::string_view text);
std::string format_actions_text(const SyncActions& actions);

}  // namespace sx::hotsync::detail
