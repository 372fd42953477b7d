// Small readers and writers of registry values for the Outlook stand-in's own keys.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace sx::outlook::registry {

// A REG_SZ value of an open key (its terminating NULs dropped); nothing when absent or not text.
std::optional<std::string> read_text(HKEY key, const char* name);
// A REG_DWORD value of an open key; nothing when absent or of another type.
std::optional<DWORD> read_dword(HKEY key, const char* name);
// The names of the key's subkeys, in the registry's (ascending) order.
std::vector<std::string> subkeys(HKEY key);
// Writes a value under HKEY_CURRENT_USER\<path>, creating the key. False on failure.
bool write_text(const std::string& path, const char* name, const std::string& value);
bool write_dword(const std::string& path, const char* name, DWORD value);

}  // namespace sx::outlook::registry
