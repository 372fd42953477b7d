// ConduitRun: one call of OpenConduit (one HotSync of one user), and the driver that synchronises
// "ScribbixDB" with the desktop side.
//
// Runs on the thread HotSync called OpenConduit on. Never throws out of run().
#pragma once

#include <memory>
#include <string>

#include "hotsync/condapi.h"
#include "hotsync/syncmgr.h"
#include "note_database.h"

namespace sx::conduit {

inline constexpr long kForeignDatabase = 0x400B;
inline constexpr long kNoInstallation = 0x400E;
inline constexpr long kDesktopFailure = 4101;

// Makes the desktop NoteDatabase of a sync run (description string 22, handheld flag clear).
// The product's is the Outlook side (make_desktop_database); tests install their own, and null
// brings the product's back.
using DesktopDatabaseFactory = std::unique_ptr<NoteDatabase> (*)(SyncProperties* properties);
void set_desktop_database_factory(DesktopDatabaseFactory factory);

// The file name used for the desktop side of a Palm user: the user name with every character that
// cannot stand in a Windows file name (\ / : * ? " < > | and control characters) replaced by '_',
// followed by "-Scribbix.sxz". It never names another folder.
std::string desktop_file_name(const std::string& user_name);

class ConduitRun {
 public:
  ConduitRun(PROGRESSFN callback, SyncProperties* properties, HINSTANCE instance);
  ~ConduitRun();
  ConduitRun(const ConduitRun&) = delete;
  ConduitRun& operator=(const ConduitRun&) = delete;

  long run();

 private:
  long drive();
  std::string user_name() const;

  [[maybe_unused]] PROGRESSFN callback_;  // kept for HotSync; the sync run does not call it
  SyncProperties* properties_;
  HINSTANCE instance_;
  CONDHANDLE registration_ = 0;
  HKEY settings_key_ = nullptr;
};

}  // namespace sx::conduit
