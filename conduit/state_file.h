// The desktop state file: the desktop notes as they were after the last synchronisation, one record
// per note (the 28-byte record information block, a little-endian length, the packed note,
// enciphered with DES for notes whose protect flag is set). The desktop side reads it when it
// opens and writes it after it has written its changes; the file's modification time is the
// desktop's last-sync time.
//
// Run thread only (progress sink, sync manager yields, HotSync log). Never throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "note_record.h"

namespace sx::conduit {

class NoteDatabase;

// A state file cut short or damaged: the desktop open fails with it and nothing is synchronised.
inline constexpr long kStateFileDamaged = 0x4005;
// The state file could not be written (the desktop side's failure code).
inline constexpr long kStateFileNotWritten = 4101;
// The conduit's own key for the notes in the state file.
inline constexpr std::uint64_t kStateFileKey = 0x5658535374617465ull;  // "VXSState"
// Bytes before the data of a record: the info block and the length.
inline constexpr std::size_t kStateInfoSize = 28;
inline constexpr std::size_t kStateHeaderSize = kStateInfoSize + 4;
// The largest data a record may hold: the true length of an enciphered note is kept in 16 bits.
inline constexpr std::size_t kMaxStatePacked = 0xFFFF;
inline constexpr std::size_t kMaxStateData = 0x10000;

// The state file of a desktop file: `conduit_dir` as given (it ends in a separator), then the
// desktop file's name (after its last '\') cut before its last '.', then ".VXS".
std::string state_file_path(const std::string& conduit_dir, const std::string& desktop_file);

// Makes the empty note a record is read into (the desktop's note class; protect flag set).
using NoteMaker = std::function<std::unique_ptr<NoteRecord>()>;
std::unique_ptr<NoteRecord> make_state_note();

// The bytes of one record for `note` (packs it: record size, category id, private bit; sets the
// reserved word when enciphered). Empty when the packed note is longer than kMaxStatePacked.
std::vector<BYTE> state_record_bytes(SyncRecord& note);

// Reads the record at the start of `data` into `into` (info block, deciphered when flagged,
// unpacked); *used := its bytes. 0, or kStateFileDamaged with *why.
long decode_state_record(const BYTE* data, std::size_t size, SyncRecord& into, std::size_t* used,
                         std::string* why);

// The file's bytes for `database`: its notes in ascending ID order, without those marked for
// deletion, deleted or archived. `each` (may be empty) runs once per note written.
std::vector<BYTE> state_file_bytes(NoteDatabase& database,
                                   const std::function<void(NoteRecord&)>& each = {});

// Reads records from `data` into `into` (notes made by `make`, unpacked, category and private
// from the info block, Mod bits applied, inserted). 0, or kStateFileDamaged with *why naming the
// record (1-based) and the fault; the notes before the fault stay inserted, the faulty one is not.
// `each` (may be empty) runs after each insert. A record whose note ID an earlier one holds is
// left out and reported to `duplicate` (may be empty) with the ID and the record's number: the
// file describes what the desktop held, which had one note per ID, so nothing is lost.
using DuplicateRecord = std::function<void(std::int32_t id, std::size_t record)>;
long parse_state_bytes(const BYTE* data, std::size_t size, NoteDatabase& into, std::string* why,
                       const NoteMaker& make = make_state_note,
                       const std::function<void(NoteRecord&)>& each = {},
                       const DuplicateRecord& duplicate = {});

// The state file reader's self-check (the fuzz target and its unit test): reads `data` as a state
// file; a refusal must name its reason, and what is read must write back to bytes that read again
// to the same notes. False when that does not hold. Never crashes on any input.
bool check_state_file_bytes(const BYTE* data, std::size_t size);

// Writes the state file of `database` at `path` (Windows path): the bytes go to
// "<path>.tmp<process id>", held open without sharing while written, which then replaces `path`,
// so the old file stays whole when anything fails. Temporaries of writers that were killed before
// their rename ("<path>.tmp*" that nobody holds open) are removed first. Progress step 5, then per
// note item step 3 and one yield. 0, or kStateFileNotWritten (logged, string 95).
long write_state_file(const std::string& path, NoteDatabase& database);

// Reads the state file at `path` into `into`. A missing file gives 0 and leaves `into` and its
// times alone. Otherwise modification_time := the file's (seconds since 1970), progress step 1,
// then per note one yield and item step 1. A damaged file gives kStateFileDamaged (logged, string
// 94, activity 22). A note ID that comes twice keeps its first record (the second is logged,
// string 96).
long read_state_file(const std::string& path, NoteDatabase& into,
                     const NoteMaker& make = make_state_note);

}  // namespace sx::conduit
