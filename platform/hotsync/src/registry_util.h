// Small helpers over the registry stand-in for HotSync's keys (HKEY_CURRENT_USER). Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace sx::hotsync::reg {

std::optional<std::string> read_string(const std::string& key, const char* name);
std::optional<DWORD> read_dword(const std::string& key, const char* name);
bool write_string(const std::string& key, const char* name, const std::string& value);
bool write_dword(const std::string& key, const char* name, DWORD value);
std::vector<std::string> subkeys(const std::string& key);

}  // namespace sx::hotsync::reg
