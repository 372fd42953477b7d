#include "page_request.h"

#include <nlohmann/json.hpp>

namespace sx::machine_view {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxText = 64 * 1024;
constexpr std::size_t kMaxEntryId = 128;

[[noreturn]] void refuse(const std::string& why) { throw BadPageRequest(why); }

std::optional<std::string> text_member(const json& body, const char* name, bool required) {
  auto it = body.find(name);
  if (it == body.end() || it->is_null()) {
    if (required) refuse(std::string("The request needs \"") + name + "\".");
    return std::nullopt;
  }
  if (!it->is_string()) refuse(std::string("\"") + name + "\" must be a text.");
  const std::string& value = it->get_ref<const std::string&>();
  if (value.size() > kMaxText) refuse(std::string("\"") + name + "\" is longer than 64 KiB.");
  return value;
}

std::optional<bool> flag_member(const json& body, const char* name) {
  auto it = body.find(name);
  if (it == body.end() || it->is_null()) return std::nullopt;
  if (!it->is_boolean()) refuse(std::string("\"") + name + "\" must be true or false.");
  return it->get<bool>();
}

std::uint32_t record_member(const json& body) {
  auto it = body.find("record");
  if (it == body.end() || !it->is_number_integer())
    refuse("The request needs \"record\", a record ID.");
  const auto n = it->get<std::int64_t>();
  if (n < 1 || n > 0xFFFFFF) refuse("\"record\" is not a record ID (1 to 16777215).");
  return static_cast<std::uint32_t>(n);
}

std::string entry_id_member(const json& body) {
  const std::string id = *text_member(body, "entry_id", true);
  if (id.empty() || id.size() > kMaxEntryId) refuse("\"entry_id\" is not an entry ID.");
  for (char c : id) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) refuse("\"entry_id\" is not an entry ID.");
  }
  return id;
}

std::string window_member(const json& body) {
  const std::string name = *text_member(body, "window", true);
  const auto dash = name.find('-');
  bool ok = dash != std::string::npos && dash > 0 && dash + 1 < name.size() && name.size() <= 40;
  for (std::size_t i = 0; ok && i < name.size(); ++i) {
    const char c = name[i];
    ok = i == dash || (c >= '0' && c <= '9') || (i > dash && c >= 'a' && c <= 'f');
  }
  if (!ok) refuse("\"window\" is not a window's name.");
  return name;
}

Action action_of(Side side, const std::string& name) {
  struct Known {
    Side side;
    const char* name;
    Action action;
  };
  static constexpr Known kKnown[] = {
      {Side::kHandheld, "new", Action::kNew},       {Side::kHandheld, "edit", Action::kEdit},
      {Side::kHandheld, "delete", Action::kDelete}, {Side::kHandheld, "archive", Action::kArchive},
      {Side::kOutlook, "add", Action::kNew},        {Side::kOutlook, "edit", Action::kEdit},
      {Side::kOutlook, "delete", Action::kDelete},  {Side::kHotSync, "sync", Action::kSync},
      {Side::kHotSync, "preview", Action::kPreview}, {Side::kWindow, "click", Action::kClick},
      {Side::kWindow, "type", Action::kType},         {Side::kWindow, "select", Action::kSelect},
      {Side::kWindow, "close", Action::kClose}};
  for (const Known& k : kKnown) {
    if (k.side == side && name == k.name) return k.action;
  }
  refuse("\"" + name.substr(0, 40) + "\" is not an action of that side.");
}

}  // namespace

PageRequest parse_page_request(std::string_view text) {
  const json body = json::parse(text, nullptr, false);
  if (body.is_discarded() || !body.is_object()) refuse("The request is not a JSON object.");
  PageRequest r;
  const std::string side = *text_member(body, "side", true);
  if (side == "handheld") {
    r.side = Side::kHandheld;
  } else if (side == "outlook") {
    r.side = Side::kOutlook;
  } else if (side == "hotsync") {
    r.side = Side::kHotSync;
  } else if (side == "window") {
    r.side = Side::kWindow;
  } else {
    refuse("\"side\" is handheld, outlook, hotsync or window.");
  }
  r.action = action_of(r.side, *text_member(body, "action", true));
  switch (r.side) {
    case Side::kHandheld:
      if (r.action != Action::kNew) r.record = record_member(body);
      if (r.action == Action::kNew || r.action == Action::kEdit) {
        r.text = text_member(body, "text", r.action == Action::kNew);
        r.category = text_member(body, "category", false);
        r.is_private = flag_member(body, "private");
      }
      break;
    case Side::kOutlook:
      if (r.action != Action::kNew) r.entry_id = entry_id_member(body);
      if (r.action == Action::kNew || r.action == Action::kEdit) {
        r.subject = text_member(body, "subject", false);
        r.body = text_member(body, "body", r.action == Action::kNew);
        r.categories = text_member(body, "categories", false);
      }
      break;
    case Side::kHotSync:
      break;
    case Side::kWindow: {
      r.window = window_member(body);
      if (r.action == Action::kClose) break;
      auto handle = body.find("handle");
      if (handle == body.end() || !handle->is_number_unsigned() || handle->get<std::uint64_t>() == 0)
        refuse("The request needs \"handle\", a control's handle.");
      r.handle = handle->get<std::uint64_t>();
      if (r.action == Action::kType) r.text = text_member(body, "text", true);
      if (r.action == Action::kSelect) {
        auto index = body.find("index");
        if (index == body.end() || !index->is_number_integer() || index->get<std::int64_t>() < 0 ||
            index->get<std::int64_t>() > 65535)
          refuse("The request needs \"index\", an item's position from 0.");
        r.index = static_cast<int>(index->get<std::int64_t>());
      }
      break;
    }
  }
  return r;
}

}  // namespace sx::machine_view
