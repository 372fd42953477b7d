// The line format of Outlook's per-user settings files (command bars, Outlook Bars): one record a
// line, fields separated by tabs, with "\\", "\t", "\n" and "\r" escaped inside a field; and
// reading and replacing such a file whole (docs/outlook-user-interface.md).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sx::outlook::settings_text {

std::string escape(std::string_view field);
// Nothing when the field holds a backslash that starts no known escape.
std::optional<std::string> unescape(std::string_view field);
// The record's fields (unescaped); nothing when a field is badly escaped.
std::optional<std::vector<std::string>> split(std::string_view line);
std::string join(const std::vector<std::string>& fields);  // escaped, without the line end

// Reads a file's text: the first line must be `header`; `record` is given the fields of each
// further line that is not empty and returns nullptr when it takes them, else what is wrong with
// them. False with "<what is wrong> at line N" (or "an empty file") in *why.
bool read_records(const std::string& text, std::string_view header,
                  const std::function<const char*(const std::vector<std::string>&)>& record,
                  std::string* why);

// The file's text; nothing when it does not exist or cannot be read.
std::optional<std::string> read_file(const std::filesystem::path& path);
// Replaces the file with `text` (a temporary beside it, then renamed over it, so a reader never
// sees half of it); creates its folder. False with the reason in *why.
bool replace_file(const std::filesystem::path& path, const std::string& text, std::string* why);
// Moves a damaged file aside ("<name>.damaged", or "<name>.damaged-N" when that is taken) so that
// nothing in it is lost when it is written anew; reports on stderr.
void keep_damaged(const std::filesystem::path& path, const std::string& why);

}  // namespace sx::outlook::settings_text
