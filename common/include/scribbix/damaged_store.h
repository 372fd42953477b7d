// A personal folders file Outlook found damaged. Outlook refuses such a file (at logon, and at
// every call that reads it) with "Errors have been detected in the file <path>. Quit all
// mail-enabled applications, and then use the Inbox Repair Tool."; a program that meets that
// refusal tells the person the file is damaged and how to repair it, instead of taking the folder
// as missing (and leading the person to install it again, which would make every note look
// deleted).
#pragma once

#include <string>
#include <string_view>

namespace sx::common {

// The Windows path of the damaged file named in `error_text` (an error description, or a text
// that holds one); empty when the text is not Outlook's refusal of a damaged file.
std::string damaged_outlook_file(std::string_view error_text);

// What repairs such a file on this machine (a person's Outlook would name the Inbox Repair Tool).
inline constexpr char kRepairCommand[] = "sxfolders repair";

}  // namespace sx::common
