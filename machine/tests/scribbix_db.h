// An empty "ScribbixDB" as the notes application makes it on the handheld, for the machine tool's
// tests.
#pragma once

#include "sx/hotsync.h"

namespace sx::registry::testing {

inline sx::hotsync::PdbDatabase empty_scribbix_db() {
  sx::hotsync::PdbDatabase db;
  db.name = "ScribbixDB";
  db.version = 2;
  db.creator = 0x56535871;  // 'VSXq'
  db.type = 0x44415441;     // 'DATA'
  return db;
}

}  // namespace sx::registry::testing
