// The two pieces of a framework's file serialisation that reading HotSync's users.dat needs:
// CFile (a file opened through the Windows file stand-in) and CArchive (a buffered view of it for
// loading or storing). One thread at a time per object; never throw.
#pragma once

#include <string>

#include "win32/types.h"

class CFile {
 public:
  enum : UINT { modeRead = 0x0000, modeWrite = 0x0001, modeCreate = 0x1000 };
  CFile() = default;
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens a Windows path. modeRead reads the whole file (at most 1 MiB); modeCreate|modeWrite makes
  // a file that Close() writes atomically ("<file>.new-<pid>", then a rename; such temporaries of
  // writers that died before their rename are removed first). FALSE when the file cannot be opened
  // (GetLastError says).
  BOOL Open(const char* windows_path, UINT flags);
  // Writes what was stored (write mode) and closes. FALSE when writing failed.
  BOOL Close();
  bool IsOpen() const { return open_; }

 private:
  friend class CArchive;
  bool open_ = false;
  bool writing_ = false;
  std::string path_;
  std::string data_;
};

class CArchive {
 public:
  enum Mode : UINT { store = 0, load = 1 };
  // `file` must stay open while the archive is used.
  CArchive(CFile* file, UINT mode, int buffer_size = 4096);
  bool IsLoading() const { return mode_ == load; }
  bool IsStoring() const { return mode_ == store; }
  // The whole content (loading), or where stored text goes.
  const std::string& Content() const;
  void Write(const std::string& text);
  void Close() {}

 private:
  CFile* file_;
  UINT mode_;
};
