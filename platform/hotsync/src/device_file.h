// The text of a handheld's device.txt (see DeviceInfo in sx/hotsync.h): one "key=value" per line,
// '#' lines and blank lines skipped, unknown keys ignored. Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

#include "sx/hotsync.h"

namespace sx::hotsync::detail {

// The device of `text`, or false with the first bad line in *why ("<source>:<line>: ...").
[[nodiscard]] bool parse_device_text(std::string_view text, const std::string& source,
                                     DeviceInfo* out, std::string* why);

}  // namespace sx::hotsync::detail
