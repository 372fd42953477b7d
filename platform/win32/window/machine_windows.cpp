// The machine-wide list of top-level windows, so that FindWindowA sees other processes' windows,
// and a per-process mailbox through which they can be posted simple messages.
//
// Layout under the machine root (plain text, one small file per entry):
//   windows/<hwnd as 16 hex digits>.win   "pid <n>\nclass <name>\ntitle <escaped>\n"
//   windows/mail-<pid>/<unique>.msg        "<hwnd hex> <msg> <wParam> <lParam>[ <reply>]\n"
//   windows/replies/<reply>.ans            "<result>\n": the answer to a sent message
// Window handles carry their process id in the upper 32 bits, so they are unique on the machine.
// Entries of processes that are gone are ignored and removed. Entries are written through a
// temporary file and a rename, so a reader never sees half of one.
#include <strings.h>
#include <sys/types.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "core.h"
#include "machine_windows_format.h"
#include "sx/clock.h"
#include "sx/machine.h"
#include "sx/stale_temporaries.h"

namespace fs = std::filesystem;

namespace sx::window::detail {
namespace {

constexpr std::uintmax_t kMaxEntryBytes = 4096;
std::atomic<int> g_published{0};  // top-level windows of this process in the list
std::atomic<std::uint64_t> g_mail_counter{0};

std::uint64_t handle_value(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }
std::uint32_t pid_of(HWND hwnd) { return static_cast<std::uint32_t>(handle_value(hwnd) >> 32); }

fs::path windows_dir() { return sx::machine::root() / "windows"; }

bool process_alive(std::uint32_t pid) {
  return pid != 0 && !sx::stale::process_is_gone(pid);
}

constexpr char kTempMarker[] = ".tmp";

// Writes `file` through "<file>.tmp<pid>" and a rename. A failed write (a full disk) removes its
// temporary; those that writers killed before their rename left in the folder go first (each entry
// has a name of its own, so they are looked for in the whole folder).
bool write_atomically(const fs::path& file, const std::string& content) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  sx::stale::remove_temporaries_in(file.parent_path(), kTempMarker);
  const fs::path temp = file.string() + kTempMarker + std::to_string(::getpid());
  bool written = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    written = static_cast<bool>(out.flush());
  }
  if (written) fs::rename(temp, file, ec);
  if (!written || ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

// Reads a small untrusted file; empty on any problem.
std::string read_small(const fs::path& file) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec || size > kMaxEntryBytes) return {};
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path mailbox(std::uint32_t pid) { return windows_dir() / ("mail-" + std::to_string(pid)); }

bool crosses_processes(UINT msg) {
  // Only messages whose parameters are plain numbers can cross; no pointer can.
  return msg == WM_NULL || msg == WM_CLOSE || msg == WM_COMMAND || msg >= WM_APP;
}

}  // namespace

HWND make_handle(std::uint64_t counter) {
  const std::uint64_t pid = static_cast<std::uint32_t>(::getpid());
  return reinterpret_cast<HWND>(
      static_cast<std::uintptr_t>((pid << 32) | ((counter * 4) & 0xFFFFFFFFu)));
}

bool is_own_handle(HWND hwnd) {
  return hwnd == nullptr || pid_of(hwnd) == static_cast<std::uint32_t>(::getpid());
}

void publish(Window& window) {
  std::string content;
  HWND hwnd = nullptr;
  {
    Guard guard = sx::kernel::lock();
    if (window.child || window.destroyed) return;
    hwnd = window.hwnd;
    content = format_window_entry(
        {static_cast<std::uint32_t>(::getpid()), window.class_name, window.text});
  }
  std::error_code ec;
  if (!fs::is_directory(sx::machine::root(), ec)) return;  // no machine: the process alone
  const fs::path file = windows_dir() / (handle_name(handle_value(hwnd)) + ".win");
  if (!write_atomically(file, content)) return;
  Guard guard = sx::kernel::lock();
  if (window.destroyed) {
    guard.unlock();
    fs::remove(file, ec);
    return;
  }
  if (window.published.empty()) ++g_published;
  window.published = file;
}

void withdraw(const fs::path& entry) {
  std::error_code ec;
  fs::remove(entry, ec);
  if (--g_published == 0) fs::remove_all(mailbox(static_cast<std::uint32_t>(::getpid())), ec);
}

HWND find_foreign(const char* class_name, const char* title) {
  std::error_code ec;
  const std::uint32_t me = static_cast<std::uint32_t>(::getpid());
  std::vector<std::pair<std::uint64_t, WindowEntry>> found;
  for (fs::directory_iterator it(windows_dir(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".win") continue;
    std::uint64_t value = 0;
    WindowEntry entry;
    if (!parse_handle_name(it->path().stem().string(), &value)) continue;
    if (!parse_window_entry(read_small(it->path()), &entry)) continue;
    if (entry.pid == me || (value >> 32) != entry.pid) continue;
    if (!process_alive(entry.pid)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);  // left behind by a process that ended without cleaning up
      continue;
    }
    if (class_name != nullptr && ::strcasecmp(entry.class_name.c_str(), class_name) != 0) continue;
    if (title != nullptr && ::strcasecmp(entry.title.c_str(), title) != 0) continue;
    found.emplace_back(value, std::move(entry));
  }
  if (found.empty()) return nullptr;
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(found.front().first));
}

bool foreign_window_exists(HWND hwnd) {
  if (hwnd == nullptr) return false;
  WindowEntry entry;
  const fs::path file = windows_dir() / (handle_name(handle_value(hwnd)) + ".win");
  return parse_window_entry(read_small(file), &entry) && entry.pid == pid_of(hwnd) &&
         process_alive(entry.pid);
}

namespace {

fs::path replies_dir() { return windows_dir() / "replies"; }

// Writes one letter into the mailbox of hwnd's process; `reply` names the answer file wanted (""
// for a posted message).
bool write_letter(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, const std::string& reply) {
  if (!foreign_window_exists(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (!crosses_processes(msg)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  if (msg == WM_COMMAND) lparam = 0;  // a control handle means nothing in the other process
  const std::uint64_t n = ++g_mail_counter;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path file =
      mailbox(pid_of(hwnd)) /
      (std::to_string(::getpid()) + "-" + std::to_string(stamp) + "-" + std::to_string(n) + ".msg");
  const Letter letter{handle_value(hwnd), msg, static_cast<std::uint64_t>(wparam),
                      static_cast<std::int64_t>(lparam), reply};
  if (!write_atomically(file, format_letter(letter))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

}  // namespace

bool post_foreign(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return write_letter(hwnd, msg, wparam, lparam, {});
}

LRESULT send_foreign(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  const std::string reply = std::to_string(::getpid()) + "-" + std::to_string(++g_mail_counter);
  std::error_code ec;
  fs::create_directories(replies_dir(), ec);
  const fs::path answer = replies_dir() / (reply + ".ans");
  if (!write_letter(hwnd, msg, wparam, lparam, reply)) return 0;
  // The other process answers from its message loop; wait in real time (another process cannot
  // take part in this one's virtual time). Give up when its window goes away.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int round = 0;; ++round) {
    if (fs::exists(answer, ec)) {
      const std::optional<std::int64_t> value = parse_answer(read_small(answer));
      fs::remove(answer, ec);
      if (value) return static_cast<LRESULT>(*value);
      report("ignored a damaged answer file %s", answer.string().c_str());
      return 0;
    }
    if ((round % 10 == 9 && !foreign_window_exists(hwnd)) ||
        std::chrono::steady_clock::now() > give_up) {
      SetLastError(foreign_window_exists(hwnd) ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

namespace {

// The mailbox is looked at no more often than every 50 ms of real time: PeekMessage loops call
// here a lot.
std::atomic<std::int64_t> g_last_mail_look{0};
constexpr std::int64_t kMailLookEveryMs = 50;

std::int64_t real_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool foreign_mail_due() {
  return g_published.load() != 0 && real_ms() - g_last_mail_look.load() >= kMailLookEveryMs;
}

void deliver_foreign_mail() {
  if (g_published.load() == 0) return;
  const std::int64_t now = real_ms();
  std::int64_t previous = g_last_mail_look.load();
  if (now - previous < kMailLookEveryMs || !g_last_mail_look.compare_exchange_strong(previous, now))
    return;

  std::error_code ec;
  const fs::path box = mailbox(static_cast<std::uint32_t>(::getpid()));
  std::vector<fs::path> letters;
  for (fs::directory_iterator it(box, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".msg") letters.push_back(it->path());
  }
  std::sort(letters.begin(), letters.end());
  for (const fs::path& letter : letters) {
    const std::string text = read_small(letter);
    std::error_code ignored;
    fs::remove(letter, ignored);
    Letter parsed;
    if (!parse_letter(text, &parsed) || !crosses_processes(parsed.msg)) {
      report("ignored a damaged window message file %s", letter.string().c_str());
      continue;
    }
    const UINT msg = parsed.msg;
    const unsigned long long wparam = parsed.wparam;
    const long long lparam = parsed.lparam;
    const std::string& reply = parsed.reply;
    HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(parsed.hwnd));
    if (!is_own_handle(hwnd)) continue;
    const LPARAM l = static_cast<LPARAM>(msg == WM_COMMAND ? 0 : lparam);
    if (reply.empty()) {
      post(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wparam), l);
      continue;
    }
    // A sent message: answered here, and the answer written where the sender waits for it.
    const LRESULT result = send(hwnd, static_cast<UINT>(msg), static_cast<WPARAM>(wparam), l);
    write_atomically(replies_dir() / (reply + ".ans"),
                     std::to_string(static_cast<long long>(result)) + "\n");
  }
}

}  // namespace sx::window::detail

namespace sx::window {

bool process_has_top_level_window(std::uint32_t pid) {
  std::error_code ec;
  for (fs::directory_iterator it(detail::windows_dir(), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::uint64_t value = 0;
    if (it->path().extension() != ".win") continue;
    if (!detail::parse_handle_name(it->path().stem().string(), &value)) continue;
    if ((value >> 32) == pid) return true;
  }
  return false;
}

}  // namespace sx::window
