// CComponentChecker: the ten checks of the status screen and what they find, and the program's
// connection to Outlook (started with the system's add-ins held back, logged on to one profile,
// released between steps so that Outlook lets go of the store files).
//
// The checker belongs to the user-interface thread: every method is called there, in the COM
// apartment initialised at start-up. The only other thread is the profile prompt watcher, which
// touches no data of the checker. No method lets an exception out: failures become row texts and
// states, result codes or message boxes.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "comdef.h"
#include "outlook/outlook.h"
#include "scribbix/profile_prompt_watcher.h"

namespace sx::configure {

enum RowState { kUnchecked = 0, kGood = 1, kWarning = 2, kFailed = 3 };

struct StatusRow {
  std::string name;
  std::string info;
  std::string status;
  RowState state = kUnchecked;
};

// The rows of the status screen, top to bottom.
enum Row {
  kRowOutlook,
  kRowProfiles,
  kRowHotSync,
  kRowHandhelds,
  kRowConduit,
  kRowUpdate,
  kRowPost,
  kRowAddIn,
  kRowMonitorAddIn,
  kRowFolder,
  kRowCount
};

using CProfilePromptWatcher = sx::common::ProfilePromptWatcher;

// CountFolderEntries' and ProbeEmptyFolder's result when an item of the notes folder cannot be
// read back.
inline constexpr long PROBE_FAILED = static_cast<long>(static_cast<LONG>(0x80880000u));

// Registry keys of the two add-ins under HKEY_CURRENT_USER, and their names in Outlook's list.
inline constexpr char kNotesAddInProgId[] = "VorScribOutlookAddIn.Connect";
inline constexpr char kMonitorAddInProgId[] = "ScribbixMonitorAddIn.Connect";
inline constexpr char kNotesAddInName[] = "Scribbix Outlook Add-In";
inline constexpr char kMonitorAddInName[] = "ScribbixMonitorAdd-In";
inline constexpr char kAddinsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\";
// FindAddIn's results: an add-in's place, with this bit when it is connected; from
// kFindAddInFailure up, the component's own failure.
inline constexpr LONG kAddInConnected = 0x10000;
inline constexpr LONG kFindAddInFailure = 0x100000;

class CComponentChecker {
 public:
  CComponentChecker();
  // Logs off the namespace when one is held, stops and waits for the watcher, releases Outlook.
  virtual ~CComponentChecker();
  CComponentChecker(const CComponentChecker&) = delete;
  CComponentChecker& operator=(const CComponentChecker&) = delete;

  // Runs the ten checks in row order; `shown`, when given, is called with each row's index right
  // after its check (the status screen copies the row's texts then). Stops when a check ended the
  // program.
  void RefreshStatus(const std::function<void(int row)>& shown = {});

  // The checks, each for its row (the index is the row's place on the screen).
  void CheckOutlook(int row);
  void CheckProfiles(int row);
  void CheckHotSync(int row);
  void CheckHandhelds(int row);
  void CheckConduit(int row);
  // Rows 6 and 7: a component by its ProgID; `versionState` once its version was read.
  void CheckComponent(int row, const char* name, const char* progId, RowState versionState);
  // Rows 8 and 9: an add-in registered with Outlook.
  void CheckAddIn(int row, const char* name, const char* progId, const char* addInName,
                  bool atStartup);
  void CheckFolder(int row);

  // --- The Outlook connection
  // 0 when Outlook is held afterwards, -1 otherwise (the user has seen why).
  long StartOutlook();
  // 0 logged on (or already), 1 Outlook refused the logon, 2 no namespace, 3 no Outlook.
  long LogonProfile(const std::string& profile);
  // Lets the namespace and Outlook go and waits 1000 ms, so that Outlook can end.
  void ReleaseOutlook();
  // The number of items of the notes folder "Vorlan\Scribbix" (0 or more), PROBE_FAILED when an
  // item cannot be read back, or another negative value.
  long CountFolderEntries();
  // Deletes "Vorlan\SXUpdate", the new notes folder of an update that stopped before its end (it
  // holds only copies of notes the old folder still has). True when there was one.
  bool RemoveUnfinishedUpdateFolder();
  // Saves a test post in the (empty) folder, reads the first item back and removes the test post:
  // 0, PROBE_FAILED or a negative value.
  long ProbeEmptyFolder(MAPIFolder* folder);

  // --- What the checks found, for the wizard, the dialogs and the folder procedures
  const StatusRow& GetRow(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  RowState GetRowState(int row) const { return GetRow(row).state; }
  const std::set<std::string>& Profiles() const { return profiles_; }
  int ProfileCount() const { return profileCount_; }
  int DefaultProfileIndex() const { return defaultProfileIndex_; }
  const std::set<std::string>& PalmUsers() const { return palmUsers_; }
  int PalmUserCount() const { return palmUserCount_; }
  const std::vector<std::string>& PairUsers() const { return pairUsers_; }
  const std::vector<std::string>& PairProfiles() const { return pairProfiles_; }
  int HandheldCount() const { return handheldCount_; }
  bool FolderError() const { return folderError_; }
  // The Windows path of a profile file Outlook found damaged at the last logon or folder read;
  // empty when it found none.
  const std::string& DamagedFile() const { return damagedFile_; }
  bool NotesAddInAtStartup() const { return notesAddInAtStartup_; }
  bool MonitorAddInAtStartup() const { return monitorAddInAtStartup_; }
  // Part `index` of Outlook's version (major, minor, build, revision, 0); -1 beyond.
  int OutlookVersion(int index) const;
  bool HoldsOutlook() const { return static_cast<bool>(outlookApp_); }
  _NameSpace* NameSpace() const { return nameSpace_.Get(); }
  // Whether a check ended the program (exit code -1).
  bool Ended() const { return ended_; }

 protected:
  // Ends the program with `code` (ExitProcess). Tests record the code instead; the refresh stops
  // either way.
  virtual void EndProgram(int code);

 private:
  void End(int code);
  StatusRow& Start(int row, const char* name, const char* status, RowState state);
  void StartWatcher();
  // Keeps the file named in Outlook's refusal of a damaged file (DamagedFile).
  void NoteDamagedFile(const sx::com::ComError& error);

  sx::com::ComPtr<_Application> outlookApp_;
  sx::com::ComPtr<_NameSpace> nameSpace_;
  std::array<StatusRow, kRowCount> rows_{};
  std::set<std::string> profiles_;
  int profileCount_ = 0;
  int defaultProfileIndex_ = 0;
  std::vector<std::string> pairUsers_;
  std::vector<std::string> pairProfiles_;
  int handheldCount_ = 0;
  std::set<std::string> palmUsers_;
  int palmUserCount_ = 0;
  std::unique_ptr<CProfilePromptWatcher> watcher_;
  bool folderError_ = false;
  std::string damagedFile_;
  bool notesAddInAtStartup_ = false;
  bool monitorAddInAtStartup_ = false;
  std::array<int, 5> outlookVersion_ = {-1, -1, -1, -1, 0};
  bool ended_ = false;
};

// A text as an omitted optional argument of an automation call.
sx::com::Variant Omitted();

}  // namespace sx::configure
