// What setup leaves for a Palm user's notes in Outlook: the notes store "<user> Vorlan.pst" (root
// folder "Vorlan" holding the notes folder "Scribbix" of posts "IPM.Post.ScribbixPost2") added to
// an Outlook profile, and the pairing of the Palm user with that profile (HKEY_CURRENT_USER
// "Software\Vorlan Software\Scribbix\Profiles", one value per Palm user).
//
// Used by the machine tool and by tests; call on a machine whose registry exists, with Outlook not
// running in this process (the store file is written directly).
#pragma once

#include <string>

namespace sx::machine_tool {

// The Windows path of the user's notes store, beside the profile's default store.
std::string notes_store_path(const std::string& user);

// True when the user's notes store can be named after `user` (ANSI): its file name
// "<user> Vorlan.pst" is one Windows file name. Otherwise false with a sentence for the person.
bool valid_notes_store_user(const std::string& user, std::string* why);

// Makes the notes store when it is missing and adds it to `profile`'s stores when it is not among
// them. False with a reason on failure (the profile does not exist, the file cannot be written).
bool install_notes_store(const std::string& profile, const std::string& user, std::string* why);

// Pairs the Palm user with the Outlook profile. False with a reason when the key cannot be written.
bool pair_profile(const std::string& user, const std::string& profile, std::string* why);

}  // namespace sx::machine_tool
