// Registration of the conduit with HotSync Manager (DllRegisterServer / DllUnregisterServer).
// Call from one thread at a time; never throws.
#pragma once

#include "win32/types.h"

namespace sx::conduit {

inline constexpr const char* kApplicationKey =
    "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib";

// Writes the "ApplicationVorScrib" key ("Creator", "Conduit", "Module", "Directory", "Integrate",
// "ShowProgress" when missing, "UserName" = HotSync's first user) and asks a running HotSync
// Manager to close so that it sees the conduit. 0, or E_FAIL when the key cannot be made or
// users.dat gives no user.
long register_conduit();
// Deletes the "*.VXS" files of the registered user's conduit folder, the folder, then the key.
// A user directory from users.dat that is not a plain folder name deletes no file. Always 0.
long unregister_conduit();

}  // namespace sx::conduit
