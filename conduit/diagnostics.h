// The diagnostic checkpoints of a sync run ("Before loading", "After loading", "After
// Synchronization Analysis"): a dump of the databases when DiagnosticMode is on. The dump itself
// comes with the diagnostic file; until then a checkpoint writes nothing.
#pragma once

namespace sx::conduit {
class NoteDatabase;
// `first`/`second` may be null (the header-only checkpoint).
void diagnostic_checkpoint(const char* label, const NoteDatabase* first,
                           const NoteDatabase* second);
}  // namespace sx::conduit
