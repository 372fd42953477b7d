// The extern "C" boundary of the sync manager and the HotSync log: fault injection first, then the
// operation; nothing thrown gets out (it becomes SYNCERR_UNKNOWN).
#include <exception>
#include <new>

#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "session.h"
#include "sx/kill_point.h"

namespace {

template <typename Op>
long guarded(const char* operation, Op&& op) noexcept {
  sx::kill_points::pass(operation);
  try {
    if (const long fault = sx::hotsync::detail::take_fault(operation)) return fault;
    return op();
  } catch (...) {
    return SYNCERR_UNKNOWN;
  }
}

}  // namespace

namespace d = sx::hotsync::detail;

extern "C" {

long SyncRegisterConduit(CONDHANDLE* handle) {
  return guarded("SyncRegisterConduit", [&] { return d::register_conduit(handle); });
}
long SyncUnRegisterConduit(CONDHANDLE handle) {
  return guarded("SyncUnRegisterConduit", [&] { return d::unregister_conduit(handle); });
}
long SyncReadUserID(UserInfoBlock* info) {
  return guarded("SyncReadUserID", [&] { return d::read_user(info); });
}
long SyncReadSysDateTime(DWORD* handheld_time) {
  return guarded("SyncReadSysDateTime", [&] { return d::read_clock(handheld_time); });
}
long SyncReadDBList(BYTE card, WORD start_index, BYTE ram_flag, DatabaseListEntry* list,
                    WORD* count) {
  return guarded("SyncReadDBList",
                 [&] { return d::read_db_list(card, start_index, ram_flag, list, count); });
}
long SyncOpenDB(const char* name, BYTE card, BYTE* handle, BYTE mode) {
  return guarded("SyncOpenDB", [&] { return d::open_db(name, card, handle, mode); });
}
long SyncCreateDB(DWORD creator, DWORD type, WORD flags, BYTE card, WORD version, const char* name,
                  BYTE* handle) {
  return guarded("SyncCreateDB",
                 [&] { return d::create_db(creator, type, flags, card, version, name, handle); });
}
long SyncCloseDB(BYTE handle) {
  return guarded("SyncCloseDB", [&] { return d::close_db(handle); });
}
long SyncGetDBRecordCount(BYTE handle, WORD* count) {
  return guarded("SyncGetDBRecordCount", [&] { return d::record_count(handle, count); });
}
long SyncReadRecordByIndex(RecordInfoBlock* rec) {
  return guarded("SyncReadRecordByIndex", [&] { return d::read_record(rec); });
}
long SyncWriteRec(RecordInfoBlock* rec) {
  return guarded("SyncWriteRec", [&] { return d::write_record(rec); });
}
long SyncDeleteRec(BYTE handle, DWORD record_id) {
  return guarded("SyncDeleteRec", [&] { return d::delete_record(handle, record_id); });
}
long SyncPurgeDeletedRecs(BYTE handle) {
  return guarded("SyncPurgeDeletedRecs", [&] { return d::purge_deleted(handle); });
}
long SyncResetSyncFlags(BYTE handle) {
  return guarded("SyncResetSyncFlags", [&] { return d::reset_flags(handle); });
}
long SyncReadDBAppInfoBlock(BYTE handle, BYTE* buffer, DWORD* size) {
  return guarded("SyncReadDBAppInfoBlock", [&] { return d::read_app_info(handle, buffer, size); });
}
long SyncWriteDBAppInfoBlock(BYTE handle, const BYTE* buffer, DWORD size) {
  return guarded("SyncWriteDBAppInfoBlock",
                 [&] { return d::write_app_info(handle, buffer, size); });
}
long SyncYieldCycles(WORD /*max_cycles*/) {
  d::count_yield();
  return SYNCERR_NONE;
}
long SyncReadAppPreference(DWORD creator, WORD pref_id, BOOL backed_up, BYTE* buffer, DWORD* size) {
  return guarded("SyncReadAppPreference",
                 [&] { return d::read_preference(creator, pref_id, backed_up, buffer, size); });
}
long LogAddEntry(const char* text, int activity, BOOL timestamp) {
  return guarded("LogAddEntry", [&] { return d::add_log_entry(text, activity, timestamp); });
}

}  // extern "C"
