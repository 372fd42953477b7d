// The sync manager: a conduit's only way to the handheld during a HotSync.
//
// Call from the thread HotSync called OpenConduit on (or any thread: calls are serialised). Every
// function returns 0 on success or a SYNCERR_* code (synctypes.h); output arguments are left
// untouched on failure. No function throws. Outside a HotSync (no user connected) every call but
// SyncYieldCycles returns SYNCERR_NOT_REGISTERED.
//
// What a conduit writes is kept in memory and committed to the handheld's database file when the
// database is closed (or when the HotSync ends), atomically: a HotSync that is killed half way
// leaves each file as it was. A database file that is damaged gives SYNCERR_DAMAGED_DATABASE on
// open and a line in the HotSync log.
#pragma once

#include "hotsync/synctypes.h"

using CONDHANDLE = DWORD;

extern "C" {

// Registers the calling conduit for this HotSync; *handle becomes non-zero.
long SyncRegisterConduit(CONDHANDLE* handle);
// Ends the registration; closes (and commits) the databases the conduit left open.
long SyncUnRegisterConduit(CONDHANDLE handle);

// The handheld's user (name, ID, last-sync PC and time).
long SyncReadUserID(UserInfoBlock* info);
// The handheld's clock, in handheld time.
long SyncReadSysDateTime(DWORD* handheld_time);

// Lists databases of card `card` from position `start_index` on, in name order. `list` has room for
// *count entries; on return *count is the number filled. SYNCERR_NOT_FOUND when none is left.
// `ram_flag` must be 1 (RAM databases; there are no ROM databases on the emulated handheld).
long SyncReadDBList(BYTE card, WORD start_index, BYTE ram_flag, DatabaseListEntry* list,
                    WORD* count);

// Opens a database by name. `mode` is eDbRead/eDbWrite/... (0xE0: read, write, exclusive).
// SYNCERR_NOT_FOUND when there is none; SYNCERR_DAMAGED_DATABASE when its file cannot be read.
long SyncOpenDB(const char* name, BYTE card, BYTE* handle, BYTE mode);
// Creates an empty record database and opens it for reading and writing.
long SyncCreateDB(DWORD creator, DWORD type, WORD flags, BYTE card, WORD version, const char* name,
                  BYTE* handle);
// Closes a database, committing what was changed.
long SyncCloseDB(BYTE handle);

long SyncGetDBRecordCount(BYTE handle, WORD* count);

// Reads the record at rec->m_RecIndex of rec->m_FileHandle into rec->m_pBytes (room
// rec->m_TotalBytes). Fills id, attributes, category and size. SYNCERR_NOT_FOUND past the end,
// SYNCERR_BUFFER_TOO_SMALL (nothing copied) when the data does not fit.
long SyncReadRecordByIndex(RecordInfoBlock* rec);
// Writes rec->m_RecSize bytes from rec->m_pBytes with rec's attributes and category. m_RecId 0 adds
// a record with a fresh unique ID and returns it in m_RecId; an ID that exists is replaced; an ID
// that does not exist is added under that ID. eRecAttrArchived keeps the data as an archived
// record, eRecAttrDeleted alone drops it; busy is never written.
long SyncWriteRec(RecordInfoBlock* rec);
// Removes the record with this unique ID (SYNCERR_NOT_FOUND when there is none).
long SyncDeleteRec(BYTE handle, DWORD record_id);
// Removes every deleted or archived record.
long SyncPurgeDeletedRecs(BYTE handle);
// Clears every record's dirty bit and sets the database's backup time to the handheld clock.
long SyncResetSyncFlags(BYTE handle);

// The AppInfo block (for most databases the category block). *size: in, the room in `buffer`; out,
// the bytes read. SYNCERR_NOT_FOUND when the database has none (not an error for a conduit).
long SyncReadDBAppInfoBlock(BYTE handle, BYTE* buffer, DWORD* size);
long SyncWriteDBAppInfoBlock(BYTE handle, const BYTE* buffer, DWORD size);

// Keeps HotSync responsive; a conduit calls it once per record in long loops. Always 0.
long SyncYieldCycles(WORD max_cycles);

// Reads an application preference of the handheld (backed-up or not). *size: in, the room; out, the
// bytes read. SYNCERR_NOT_FOUND when there is none.
long SyncReadAppPreference(DWORD creator, WORD pref_id, BOOL backed_up, BYTE* buffer, DWORD* size);

}  // extern "C"
