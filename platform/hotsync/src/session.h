// The HotSync in progress: the connected handheld, its open databases, the registered conduits and
// the log. Internal to the sync manager library; every function takes the session lock itself.
#pragma once

#include <filesystem>
#include <string>

#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"

namespace sx::hotsync::detail {

// The sync manager operations behind the extern "C" functions of hotsync/syncmgr.h, with the same
// arguments and results. They may throw std::bad_alloc; the boundary catches it.
long register_conduit(CONDHANDLE* handle);
long unregister_conduit(CONDHANDLE handle);
long read_user(UserInfoBlock* info);
long read_clock(DWORD* time);
long read_db_list(BYTE card, WORD start, BYTE ram_flag, DatabaseListEntry* list, WORD* count);
long open_db(const char* name, BYTE card, BYTE* handle, BYTE mode);
long create_db(DWORD creator, DWORD type, WORD flags, BYTE card, WORD version, const char* name,
               BYTE* handle);
long close_db(BYTE handle);
long record_count(BYTE handle, WORD* count);
long read_record(RecordInfoBlock* rec);
long write_record(RecordInfoBlock* rec);
long delete_record(BYTE handle, DWORD id);
long purge_deleted(BYTE handle);
long reset_flags(BYTE handle);
long read_app_info(BYTE handle, BYTE* buffer, DWORD* size);
long write_app_info(BYTE handle, const BYTE* buffer, DWORD size);
long read_preference(DWORD creator, WORD id, BOOL backed_up, BYTE* buffer, DWORD* size);
long add_log_entry(const char* text, int activity, BOOL timestamp);
void count_yield();

// Whether the sync manager logged the damage of this database file during the HotSync in progress
// (a conduit opened it).
bool damage_reported(const std::filesystem::path& file);

// Fault injection (faults.cpp): the code to fail `operation` with on this call, or 0.
long take_fault(const char* operation);

// One log line as written to the file and shown ("[start] ...", "2001-01-01 00:00:00 ...").
std::string format_log_line(const char* text, int activity, bool timestamp);

}  // namespace sx::hotsync::detail
