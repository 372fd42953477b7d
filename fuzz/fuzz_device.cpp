// Fuzz target for an emulated handheld's device.txt: any text is read without crashing, a refusal
// names its line, and every device that reads writes back to a file that reads again the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device_file.h"

namespace {

bool same(const sx::hotsync::DeviceInfo& a, const sx::hotsync::DeviceInfo& b) {
  return a.user_name == b.user_name && a.user_id == b.user_id && a.last_sync_pc == b.last_sync_pc &&
         a.last_sync_time == b.last_sync_time && a.successful_sync_time == b.successful_sync_time &&
         a.clock_offset == b.clock_offset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sx::hotsync::DeviceInfo info;
  std::string why;
  if (!sx::hotsync::detail::parse_device_text(text, "device.txt", &info, &why)) {
    if (why.rfind("device.txt:", 0) != 0) std::abort();
    return 0;
  }
  // The writer's form of the same device (write_device refuses a name with a line break).
  if (info.user_name.find_first_of("\r\n") != std::string::npos) std::abort();
  const std::string written =
      "# comment\nuser_id=" + std::to_string(info.user_id) +
      "\nlast_sync_pc=" + std::to_string(info.last_sync_pc) +
      "\nlast_sync_time=" + std::to_string(info.last_sync_time) +
      "\nsuccessful_sync_time=" + std::to_string(info.successful_sync_time) +
      "\nclock_offset=" + std::to_string(info.clock_offset) + "\nuser_name=" + info.user_name +
      "\n";
  sx::hotsync::DeviceInfo again;
  if (!sx::hotsync::detail::parse_device_text(written, "device.txt", &again, &why) ||
      !same(info, again)) {
    std::abort();
  }
  return 0;
}
