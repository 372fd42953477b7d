// The files of the web window host (sx/web_windows.h).
#include "sx/web_windows.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "sx/machine.h"
#include "sx/stale_temporaries.h"

namespace sx::window::web {

std::filesystem::path view_folder() { return sx::machine::root() / "view"; }
std::filesystem::path page_marker() { return view_folder() / "page"; }
std::filesystem::path windows_folder() { return view_folder() / "windows"; }
std::filesystem::path input_folder() { return view_folder() / "input"; }

bool page_open() {
  std::ifstream in(page_marker());
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return false;
  return !sx::stale::process_is_gone(pid);
}

std::optional<WindowInput> parse_window_input(std::string_view line) {
  using nlohmann::json;
  const json v = json::parse(line, nullptr, false);
  if (v.is_discarded() || !v.is_object()) return std::nullopt;
  auto what = v.find("do");
  auto handle = v.find("handle");
  if (what == v.end() || !what->is_string()) return std::nullopt;
  WindowInput input;
  const std::string& name = what->get_ref<const std::string&>();
  if (name == "close") {
    input.kind = WindowInput::Kind::kClose;
    return input;
  }
  if (handle == v.end() || !handle->is_number_unsigned()) return std::nullopt;
  input.handle = handle->get<std::uint64_t>();
  if (name == "click") {
    input.kind = WindowInput::Kind::kClick;
  } else if (name == "type") {
    auto text = v.find("text");
    if (text == v.end() || !text->is_string() || text->get_ref<const std::string&>().size() > 65536)
      return std::nullopt;
    input.kind = WindowInput::Kind::kType;
    input.text = text->get<std::string>();
  } else if (name == "select") {
    auto index = v.find("index");
    if (index == v.end() || !index->is_number_integer()) return std::nullopt;
    const auto n = index->get<std::int64_t>();
    if (n < 0 || n > 65535) return std::nullopt;
    input.kind = WindowInput::Kind::kSelect;
    input.index = static_cast<int>(n);
  } else {
    return std::nullopt;
  }
  return input;
}

std::string window_input_line(const WindowInput& input) {
  using nlohmann::json;
  static const char* const kNames[] = {"click", "type", "select", "close"};
  json v{{"do", kNames[static_cast<int>(input.kind)]}, {"handle", input.handle}};
  if (input.kind == WindowInput::Kind::kType) v["text"] = input.text;
  if (input.kind == WindowInput::Kind::kSelect) v["index"] = input.index;
  return v.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool is_window_name(std::string_view name) {
  const auto dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size() || name.size() > 40)
    return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool ok = i < dash ? (c >= '0' && c <= '9')
                    : i == dash
                        ? true
                        : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    if (!ok) return false;
  }
  return true;
}

}  // namespace sx::window::web
