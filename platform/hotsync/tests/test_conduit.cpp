// A conduit for the HotSync stand-in's tests (built only for tests). What it does in OpenConduit is
// chosen by the string value "Mode" of its settings key (SyncProperties: root key and path):
//   "exercise"  reads every record of "TestDB", then purges, changes the first live record, adds
//               one, deletes the second, archives the third, writes a category block and resets
//               the sync flags
//   "rewrite"   reads every record and rewrites every tenth (the benchmark)
//   "kill"      changes a record and kills its own process before closing the database
//   "open"      only opens "TestDB" and reports the result
// It stores what it saw as values of the same key: "SeenSyncType", "SeenUser", "SeenRecords",
// "SeenResult", "SeenPath". ConfigureConduit/CfgConduit show HotSync's action dialog.
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "hotsync/actiondlg.h"
#include "hotsync/condapi.h"
#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "windows.h"

namespace {

struct Settings {
  HKEY key = nullptr;
  ~Settings() {
    if (key != nullptr) RegCloseKey(key);
  }
  std::string mode() const {
    char text[64] = {};
    DWORD size = sizeof text - 1, type = 0;
    if (RegQueryValueExA(key, "Mode", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != 0) {
      return "";
    }
    return text;
  }
  void put(const char* name, DWORD value) const {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  void put(const char* name, const std::string& value) const {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
};

struct Record {
  RecordInfoBlock info{};
  std::vector<BYTE> data;
};

long read_all(BYTE db, std::vector<Record>* records) {
  WORD count = 0;
  if (long r = SyncGetDBRecordCount(db, &count)) return r;
  std::vector<BYTE> buffer(0x8400);
  for (WORD i = 0; i < count; ++i) {
    Record rec;
    rec.info.m_FileHandle = db;
    rec.info.m_RecIndex = i;
    rec.info.m_pBytes = buffer.data();
    rec.info.m_TotalBytes = static_cast<WORD>(buffer.size());
    if (long r = SyncReadRecordByIndex(&rec.info)) return r;
    rec.data.assign(buffer.begin(), buffer.begin() + rec.info.m_RecSize);
    records->push_back(std::move(rec));
    SyncYieldCycles(1);
  }
  return 0;
}

long write(BYTE db, RecordInfoBlock info, std::vector<BYTE> data) {
  info.m_FileHandle = db;
  info.m_pBytes = data.data();
  info.m_RecSize = static_cast<DWORD>(data.size());
  info.m_TotalBytes = static_cast<WORD>(data.size());
  return SyncWriteRec(&info);
}

std::vector<BYTE> bytes(const char* text) {
  return std::vector<BYTE>(text, text + std::strlen(text) + 1);
}

long exercise(BYTE db, std::vector<Record>& records) {
  if (long r = SyncPurgeDeletedRecs(db)) return r;
  std::vector<Record> live;
  for (const Record& rec : records) {
    if ((rec.info.m_Attribs & (eRecAttrDeleted | eRecAttrArchived)) == 0) live.push_back(rec);
  }
  if (live.size() < 3) return -2;
  RecordInfoBlock changed = live[0].info;  // changed text, moved to category 5, made private
  changed.m_CatId = 5;
  changed.m_Attribs = eRecAttrSecret;
  if (long r = write(db, changed, bytes("changed on the desktop"))) return r;
  RecordInfoBlock added{};
  added.m_CatId = 2;
  if (long r = write(db, added, bytes("added on the desktop"))) return r;
  if (long r = SyncDeleteRec(db, live[1].info.m_RecId)) return r;
  RecordInfoBlock archived = live[2].info;
  archived.m_Attribs = eRecAttrArchived;
  if (long r = write(db, archived, live[2].data)) return r;
  std::vector<BYTE> categories(276 + 20, 0);
  std::strcpy(reinterpret_cast<char*>(&categories[2]), "Unfiled");
  std::strcpy(reinterpret_cast<char*>(&categories[2 + 16 * 5]), "Desktop");
  if (long r =
          SyncWriteDBAppInfoBlock(db, categories.data(), static_cast<DWORD>(categories.size()))) {
    return r;
  }
  return SyncResetSyncFlags(db);
}

long rewrite(BYTE db, std::vector<Record>& records) {
  for (std::size_t i = 0; i < records.size(); i += 10) {
    Record& rec = records[i];
    if (!rec.data.empty()) rec.data[0] ^= 0x01;
    if (long r = write(db, rec.info, rec.data)) return r;
  }
  return 0;
}

long run(SyncProperties* props) {
  Settings settings;
  if (RegOpenKeyExA(props->m_hKey, props->m_Registry, 0, KEY_ALL_ACCESS, &settings.key) != 0) {
    return -3;
  }
  const std::string mode = settings.mode();
  settings.put("SeenSyncType", static_cast<DWORD>(props->m_SyncType));
  settings.put("SeenUser", std::string(props->m_UserName));
  settings.put("SeenPath", std::string(props->m_PathName));
  if (props->m_SyncType == eDoNothing) return 0;
  CONDHANDLE conduit = 0;
  if (long r = SyncRegisterConduit(&conduit)) return r;
  LogAddEntry("", slSyncStarted, FALSE);
  BYTE db = 0;
  long result = SyncOpenDB("TestDB", 0, &db, eDbRead | eDbWrite | eDbExclusive);
  settings.put("SeenResult", static_cast<DWORD>(result));
  if (result == 0 && mode != "open") {
    std::vector<Record> records;
    result = read_all(db, &records);
    settings.put("SeenRecords", static_cast<DWORD>(records.size()));
    if (result == 0 && mode == "exercise") result = exercise(db, records);
    if (result == 0 && mode == "rewrite") result = rewrite(db, records);
    if (result == 0 && mode == "kill") {
      RecordInfoBlock info = records.at(0).info;
      write(db, info, bytes("never committed"));
      std::raise(SIGKILL);
    }
    const long closed = SyncCloseDB(db);
    if (result == 0) result = closed;
  } else if (result == 0) {
    SyncCloseDB(db);
  }
  settings.put("SeenResult", static_cast<DWORD>(result));
  LogAddEntry("Test Conduit", result == 0 ? slSyncFinished : slSyncAborted, FALSE);
  SyncUnRegisterConduit(conduit);
  return result;
}

}  // namespace

extern "C" {

long OpenConduit(PROGRESSFN progress, SyncProperties* props) {
  if (progress == nullptr || props == nullptr) return -1;
  try {
    progress("Test conduit");
    return run(props);
  } catch (...) {
    return -4;
  }
}

long GetConduitName(char* buffer, WORD size) {
  if (buffer == nullptr || size == 0) return -1;
  std::strncpy(buffer, "Test Conduit", size - 1);
  buffer[size - 1] = '\0';
  return 0;
}

DWORD GetConduitVersion() { return 0x108; }

long ConfigureConduit(CSyncPreference* pref) {
  if (pref == nullptr) return -1;
  CHotSyncActionDlg dialog;
  dialog.m_csCaption = "Test Conduit";
  const int type = pref->m_SyncType;
  dialog.m_nActionIndex = type <= 1 ? 0 : type == ePCtoHH ? 1 : type == eHHtoPC ? 2 : 3;
  pref->m_SyncPref = 0;
  if (dialog.DoModal() != IDOK) return -1;
  static const int kTypes[] = {eFast, ePCtoHH, eHHtoPC, eDoNothing};
  pref->m_SyncType = kTypes[dialog.m_nActionIndex];
  pref->m_SyncPref = dialog.m_bMakeDefault ? ePermanentPreference : eTemporaryPreference;
  return 0;
}

}  // extern "C"
