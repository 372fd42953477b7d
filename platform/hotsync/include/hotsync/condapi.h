// What HotSync Manager and a conduit exchange through the conduit's exports.
//
// A conduit is a shared library that exports (plain C names):
//   long OpenConduit(PROGRESSFN progress, SyncProperties* properties);   one HotSync of one user
//   long GetConduitName(char* buffer, WORD size);
//   DWORD GetConduitVersion();
//   long GetConduitInfo(int kind, void* argument, void* out, DWORD* size);
//   long ConfigureConduit(CSyncPreference* preference);                  the user changes the
//   action long CfgConduit(int kind, void* info, DWORD* size);                   the same, newer
//   form
// HotSync Manager calls them from its own thread; the conduit must not let an exception out.
#pragma once

#include <cstddef>

#include "hotsync/synctypes.h"

// HotSync's progress callback: a short text for HotSync's status line.
using PROGRESSFN = void (*)(const char* text);

// GetConduitInfo kinds.
inline constexpr int eConduitName = 0;    // argument: ConduitRequestInfo; out: the display name
inline constexpr int eMfcVersion = 1;     // out: 32-bit MFC version (0x500 = none/any)
inline constexpr int eDefaultAction = 2;  // out: 32-bit default sync type

// ConfigureConduit and CfgConduit permanence.
inline constexpr int ePermanentPreference = 1;  // "make default": every later HotSync
inline constexpr int eTemporaryPreference = 2;  // the next HotSync only

inline constexpr int eConfig1 = 0;  // the only CfgConduit kind

#pragma pack(push, 1)

struct CSyncPreference {
  int m_SyncType;  // in: current sync type; out: the chosen one
  int m_SyncPref;  // out: ePermanentPreference / eTemporaryPreference (0 on entry)
};

// The argument of GetConduitInfo(eConduitName, ...). 80 bytes.
struct ConduitRequestInfo {
  DWORD dwVersion;  // 1
  DWORD dwSize;     // 80
  DWORD dwCreatorId;
  DWORD dwUserId;
  char szUser[64];
};
static_assert(sizeof(ConduitRequestInfo) == 80);

// The info of CfgConduit(eConfig1, ...). 352 bytes.
struct CfgConduitInfo {
  DWORD dwVersion;     // 0: 1
  DWORD dwSize;        // 4: 352
  DWORD dwCreatorId;   // 8
  DWORD dwUserId;      // 12
  char szUser[256];    // 16
  char szUserDir[68];  // 272: the user's directory name in HotSync's directory
  int syncCurrent;     // 340: in
  int syncNew;         // 344: out
  int syncPermanent;   // 348: out: ePermanentPreference / eTemporaryPreference
};
static_assert(sizeof(CfgConduitInfo) == 352);
static_assert(offsetof(CfgConduitInfo, syncCurrent) == 340);
static_assert(offsetof(CfgConduitInfo, syncNew) == 344);
static_assert(offsetof(CfgConduitInfo, syncPermanent) == 348);

#pragma pack(pop)

using OpenConduitFn = long (*)(PROGRESSFN, SyncProperties*);
using GetConduitNameFn = long (*)(char*, WORD);
using GetConduitVersionFn = DWORD (*)();
using GetConduitInfoFn = long (*)(int, void*, void*, DWORD*);
using ConfigureConduitFn = long (*)(CSyncPreference*);
using CfgConduitFn = long (*)(int, void*, DWORD*);
