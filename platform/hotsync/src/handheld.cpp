// The emulated handheld: its device file and its database files. See sx/hotsync.h.
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "device_file.h"
#include "pdb_format.h"
#include "sx/clock.h"
#include "sx/hotsync.h"
#include "sx/kill_point.h"
#include "sx/machine.h"
#include "sx/stale_temporaries.h"

namespace fs = std::filesystem;

namespace sx::hotsync {
namespace {

constexpr std::uintmax_t kMaxDeviceFileBytes = 64 * 1024;
constexpr std::uintmax_t kMaxDatabaseFileBytes = 128ull * 1024 * 1024;
constexpr char kTempMarker[] = ".tmp";

std::int64_t local_offset_seconds(std::int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

bool parse_number(const std::string& text, long long min, long long max, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool set_why(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return false;
}

// Writes `file` through "<file>.tmp<pid>" and a rename; such temporaries of writers killed before
// their rename are removed first.
bool write_file_atomically(const fs::path& file, const void* data, std::size_t size,
                           std::string* why) {
  sx::stale::remove_temporaries(file, kTempMarker);
  const fs::path temp = file.string() + kTempMarker + std::to_string(::getpid());
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (out == nullptr)
    return set_why(why, "cannot write " + temp.string() + ": " + std::strerror(errno));
  const bool written = std::fwrite(data, 1, size, out) == size && std::fflush(out) == 0 &&
                       ::fsync(::fileno(out)) == 0;
  if (std::fclose(out) != 0 || !written) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return set_why(why, "cannot write " + temp.string());
  }
  sx::kill_points::pass("handheld-rename");
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    return set_why(why, "cannot replace " + file.string());
  }
  return true;
}

}  // namespace

DWORD palm_time_from_unix_ms(std::int64_t unix_ms) {
  const std::int64_t seconds = unix_ms / 1000;
  return static_cast<DWORD>(seconds + local_offset_seconds(seconds) + pdb::kPalmEpochOffset);
}

std::int64_t unix_seconds_from_palm_time(DWORD palm_time) {
  const std::int64_t local = static_cast<std::int64_t>(palm_time) - pdb::kPalmEpochOffset;
  return local - local_offset_seconds(local);
}

DWORD desktop_palm_now() { return palm_time_from_unix_ms(sx::clock::wall_unix_ms()); }

fs::path handheld_dir(const std::string& folder) {
  return sx::machine::root() / "handhelds" / folder;
}

namespace detail {

bool parse_device_text(std::string_view text, const std::string& source, DeviceInfo* out,
                       std::string* why) {
  DeviceInfo info;
  int number = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string line(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto bad = [&] {
      // The line as printable text: a damaged file's bytes would garble a terminal.
      std::string shown;
      for (unsigned char c : line) {
        if (shown.size() >= 60) {
          shown += "...";
          break;
        }
        if (c >= 0x20 && c < 0x7F && c != '\\') {
          shown += static_cast<char>(c);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          shown += hex;
        }
      }
      return set_why(why, source + ":" + std::to_string(number) + ": bad line \"" + shown +
                              "\" (the handheld's device file is damaged)");
    };
    // A NUL would cut a number short where it is read; a CR inside a line would give a user name
    // that the device file cannot be written back with.
    if (line.find_first_of(std::string_view("\0\r", 2)) != std::string::npos) return bad();
    const auto eq = line.find('=');
    if (eq == std::string::npos) return bad();
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    long long v = 0;
    if (key == "user_name") {
      info.user_name = value;
    } else if (key == "clock_offset") {
      if (!parse_number(value, -(1ll << 40), 1ll << 40, &v)) return bad();
      info.clock_offset = v;
    } else {
      if (!parse_number(value, 0, 0xFFFFFFFFll, &v)) return bad();
      const DWORD d = static_cast<DWORD>(v);
      if (key == "user_id") {
        info.user_id = d;
      } else if (key == "last_sync_pc") {
        info.last_sync_pc = d;
      } else if (key == "last_sync_time") {
        info.last_sync_time = d;
      } else if (key == "successful_sync_time") {
        info.successful_sync_time = d;
      }  // unknown keys are kept for newer versions: ignored
    }
  }
  *out = std::move(info);
  return true;
}

}  // namespace detail

bool read_device(const fs::path& handheld, DeviceInfo* out, std::string* why) {
  const fs::path file = handheld / "device.txt";
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) return set_why(why, "no handheld at " + handheld.string());
  if (size > kMaxDeviceFileBytes) return set_why(why, file.string() + " is too large");
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) return set_why(why, "cannot read " + file.string());
  return detail::parse_device_text(text.str(), file.string(), out, why);
}

bool write_device(const fs::path& handheld, const DeviceInfo& info, std::string* why) {
  if (info.user_name.find_first_of("\r\n") != std::string::npos) {
    return set_why(why, "a user name holds a line break");
  }
  std::error_code ec;
  fs::create_directories(handheld, ec);
  char text[512];
  std::snprintf(text, sizeof text,
                "# Emulated handheld: what the sync manager reports about the device\n"
                "user_id=%lu\nlast_sync_pc=0x%08lX\nlast_sync_time=%lu\n"
                "successful_sync_time=%lu\nclock_offset=%lld\n",
                static_cast<unsigned long>(info.user_id),
                static_cast<unsigned long>(info.last_sync_pc),
                static_cast<unsigned long>(info.last_sync_time),
                static_cast<unsigned long>(info.successful_sync_time),
                static_cast<long long>(info.clock_offset));
  const std::string content = std::string(text) + "user_name=" + info.user_name + "\n";
  return write_file_atomically(handheld / "device.txt", content.data(), content.size(), why);
}

fs::path database_file(const fs::path& handheld, const std::string& name) {
  std::string file;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == ' ' || c == '_' || c == '-' || (c == '.' && !file.empty())) {
      file += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      file += hex;
    }
  }
  return handheld / (file + ".pdb");
}

std::vector<fs::path> database_files(const fs::path& handheld) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(handheld, ec), end; !ec && it != end; it.increment(ec)) {
    std::string ext = it->path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".pdb" && it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool load_database(const fs::path& file, PdbDatabase* out, std::string* why) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) return set_why(why, "cannot read " + file.string());
  if (size > kMaxDatabaseFileBytes) return set_why(why, file.string() + " is too large");
  std::vector<std::uint8_t> bytes(size);
  std::ifstream in(file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    return set_why(why, "cannot read " + file.string());
  }
  std::string reason;
  if (!parse_pdb(bytes, out, &reason)) {
    return set_why(why, file.filename().string() + " is damaged: " + reason);
  }
  return true;
}

bool save_database(const fs::path& file, const PdbDatabase& db, std::string* why) {
  std::string reason;
  if (!check_pdb_limits(db, &reason)) return set_why(why, reason);
  const std::vector<std::uint8_t> bytes = serialize_pdb(db);
  return write_file_atomically(file, bytes.data(), bytes.size(), why);
}

}  // namespace sx::hotsync
