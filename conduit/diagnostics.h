// The diagnostic file: a text dump of both note databases at the checkpoints of a sync run
// ("Before loading", "After loading", "After Synchronization Analysis"), written only when
// DiagnosticMode is on. The file is "\VorScrib%08x.txt" at the root of drive C:, %08x being the time
// in seconds (since 1970) of the process's first write, kept for the life of the process; each
// checkpoint opens it for appending and closes it again.
//
// Run thread only. Best effort: when the file cannot be opened or written the dump is lost and
// nothing else happens. Never throws.
#pragma once

#include <string>

namespace sx::conduit {
class NoteDatabase;
class NoteRecord;

// Writes a header line for `label`, then, for `first` and then `second` when not null, a header
// and that database's dump. Nothing at all when DiagnosticMode is off.
void diagnostic_checkpoint(const char* label, const NoteDatabase* first,
                           const NoteDatabase* second);

// The diagnostic file's Windows path; empty until the process's first write.
std::string diagnostic_file_path();

// The texts written, for tests: "\n========== <label> at <%c local time> ==========\n", a
// database dump, one note of a dump.
std::string diagnostic_header(const char* label);
std::string diagnostic_dump(const NoteDatabase& database);
std::string diagnostic_note(const NoteRecord& note);
}  // namespace sx::conduit
