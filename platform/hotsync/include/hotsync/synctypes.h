// The records exchanged between HotSync, its sync manager and a conduit, byte for byte.
//
// Every 32-bit time in these records is a handheld time: unsigned seconds since 1 January 1904
// 00:00, local time (Unix seconds + 2082844800 + the local offset), as the handheld keeps it.
// Creators and types are four characters read as a 32-bit number, first character most significant
// ('VSXq' is 0x56535871).
#pragma once

#include <cstddef>

#include "win32/types.h"

// --- Result codes of the sync manager (0 = success) ----------------------------------------------
inline constexpr long SYNCERR_NONE = 0;
inline constexpr long SYNCERR_UNKNOWN = 0x4001;         // an internal failure of HotSync
inline constexpr long SYNCERR_NOT_FOUND = 0x4003;       // no such database/record/block; none left
inline constexpr long SYNCERR_FILE_NOT_OPEN = 0x4004;   // the handle names no open database
inline constexpr long SYNCERR_RECORD_DELETED = 0x4007;  // reserved
inline constexpr long SYNCERR_READ_ONLY = 0x4009;       // the database was opened for reading only
inline constexpr long SYNCERR_NOT_REGISTERED =
    0x400A;                                          // no conduit registered / no HotSync running
inline constexpr long SYNCERR_FILE_EXISTS = 0x400C;  // create: a database of that name exists
inline constexpr long SYNCERR_ALREADY_OPEN =
    0x400F;  // the database is open already in this HotSync
inline constexpr long SYNCERR_TOO_MANY_OPEN = 0x400D;  // more than 16 databases open
inline constexpr long SYNCERR_BAD_ARGUMENT = 0x4010;   // null pointer, bad size, category > 15...
inline constexpr long SYNCERR_BUFFER_TOO_SMALL =
    0x4012;                                              // the caller's buffer cannot hold the data
inline constexpr long SYNCERR_REMOTE_NO_SPACE = 0x4014;  // the database cannot grow (64K records)
inline constexpr long SYNCERR_DAMAGED_DATABASE =
    0x4015;                                 // the database file on the handheld is damaged
inline constexpr long SYNCERR_IO = 0x4016;  // the database could not be written

// --- Sync types (the first field of SyncProperties)
// ------------------------------------------------
inline constexpr int eFast = 0;    // synchronise; the handheld last synced with this PC
inline constexpr int eSlow = 1;    // synchronise; it last synced elsewhere (or never)
inline constexpr int eHHtoPC = 2;  // handheld overwrites desktop
inline constexpr int ePCtoHH = 3;  // desktop overwrites handheld
inline constexpr int eInstall = 4;
inline constexpr int eBackup = 5;
inline constexpr int eDoNothing = 6;

// --- Record attributes as a conduit sees them (RecordInfoBlock.m_Attribs)
// ---------------------------
inline constexpr BYTE eRecAttrDeleted = 0x80;
inline constexpr BYTE eRecAttrDirty = 0x40;
inline constexpr BYTE eRecAttrBusy = 0x20;
inline constexpr BYTE eRecAttrSecret = 0x10;
inline constexpr BYTE eRecAttrArchived = 0x08;

// Open modes for SyncOpenDB (combine).
inline constexpr BYTE eDbShowSecret = 0x10;
inline constexpr BYTE eDbExclusive = 0x20;
inline constexpr BYTE eDbWrite = 0x40;
inline constexpr BYTE eDbRead = 0x80;

#pragma pack(push, 1)

// One database of the handheld's list (SyncReadDBList). 76 bytes.
struct DatabaseInfoBlock {
  DWORD m_dwType;       // 0
  BYTE m_CardNo;        // 4
  BYTE m_MiscFlags;     // 5
  WORD m_DbFlags;       // 6: the file's database attributes
  WORD m_Index;         // 8: position in the handheld's list
  char m_Name[32];      // 10: NUL-terminated
  DWORD m_Creator;      // 42
  WORD m_Version;       // 46
  DWORD m_ModNumber;    // 48
  WORD m_NumRecords;    // 52
  DWORD m_CreateDate;   // 54
  DWORD m_ModDate;      // 58
  DWORD m_BackupDate;   // 62
  BYTE m_Reserved[10];  // 66, zero
};
static_assert(sizeof(DatabaseInfoBlock) == 76);
static_assert(offsetof(DatabaseInfoBlock, m_Name) == 10);
static_assert(offsetof(DatabaseInfoBlock, m_Creator) == 42);
static_assert(offsetof(DatabaseInfoBlock, m_Version) == 46);
static_assert(offsetof(DatabaseInfoBlock, m_ModDate) == 58);
static_assert(offsetof(DatabaseInfoBlock, m_BackupDate) == 62);

// One entry of the list buffer SyncReadDBList fills: the block and a 16-bit word. 78 bytes.
struct DatabaseListEntry {
  DatabaseInfoBlock m_Info;
  WORD m_RecordCount;  // the number of records again (the word after the block)
};
static_assert(sizeof(DatabaseListEntry) == 78);

// One record as read or written (SyncReadRecordByIndex, SyncWriteRec). Byte-packed; 32 bytes here
// because the buffer pointer is 64 bits (a record saved to disk must be written field by field).
struct RecordInfoBlock {
  BYTE m_FileHandle;   // 0: from SyncOpenDB
  DWORD m_RecId;       // 1: unique record ID; 0 asks SyncWriteRec for a new one
  WORD m_RecIndex;     // 5
  BYTE m_Attribs;      // 7: eRecAttr* (archived records: 0x08 without 0x80)
  SHORT m_CatId;       // 8: 0-15
  DWORD m_ConduitId;   // 10: not used by the sync manager
  DWORD m_RecSize;     // 14: bytes of data read or to write
  WORD m_TotalBytes;   // 18: size of the buffer at m_pBytes
  BYTE* m_pBytes;      // 20
  DWORD m_dwReserved;  // 28
};
static_assert(offsetof(RecordInfoBlock, m_RecId) == 1);
static_assert(offsetof(RecordInfoBlock, m_RecIndex) == 5);
static_assert(offsetof(RecordInfoBlock, m_Attribs) == 7);
static_assert(offsetof(RecordInfoBlock, m_CatId) == 8);
static_assert(offsetof(RecordInfoBlock, m_ConduitId) == 10);
static_assert(offsetof(RecordInfoBlock, m_RecSize) == 14);
static_assert(offsetof(RecordInfoBlock, m_TotalBytes) == 18);
static_assert(offsetof(RecordInfoBlock, m_pBytes) == 20);
static_assert(offsetof(RecordInfoBlock, m_dwReserved) == 20 + sizeof(BYTE*));

// What SyncReadUserID reports about the handheld's user. 160 bytes.
struct UserInfoBlock {
  DWORD m_UserId;              // 0
  DWORD m_ViewerId;            // 4
  DWORD m_LastSyncPC;          // 8: the PC ID of the desktop it last synchronised with
  char m_UserName[124];        // 12: NUL-terminated
  DWORD m_LastSyncDate;        // 136: handheld time of the last HotSync (0 = never)
  DWORD m_SuccessfulSyncDate;  // 140
  DWORD m_Reserved[4];         // 144
};
static_assert(sizeof(UserInfoBlock) == 160);
static_assert(offsetof(UserInfoBlock, m_LastSyncDate) == 136);

// What HotSync gives a conduit for one HotSync of one user (OpenConduit).
struct SyncProperties {
  int m_SyncType;          // 0: eFast, eSlow, eHHtoPC, ePCtoHH, eDoNothing
  char m_PathName[512];    // 4: the user's conduit directory, ends in '\'
  char m_UserName[256];    // 516
  char m_LocalName[128];   // 772: the database file name on the desktop (empty)
  DWORD m_nRemoteCount;    // 900: databases of the conduit's creator on the handheld
  DWORD m_dwUserId;        // 904
  DWORD m_Creator;         // 908
  BYTE m_CardNo;           // 912
  BYTE m_Pad[3];           // 913
  DWORD m_DbType;          // 916
  DWORD m_dwPCId;          // 920
  DWORD m_dwHandheldTime;  // 924: handheld clock when the HotSync started
  char m_szUserDir[6];     // 928: unused, zero
  char m_Registry[256];    // 934: the conduit's settings key path
  HKEY m_hKey;             // 1190: the root key of that path (HKEY_CURRENT_USER)
  BYTE m_Reserved[32];     // 1198
};
static_assert(offsetof(SyncProperties, m_PathName) == 4);
static_assert(offsetof(SyncProperties, m_UserName) == 516);
static_assert(offsetof(SyncProperties, m_Creator) == 908);
static_assert(offsetof(SyncProperties, m_CardNo) == 912);
static_assert(offsetof(SyncProperties, m_Registry) == 934);
static_assert(offsetof(SyncProperties, m_hKey) == 1190);

#pragma pack(pop)
