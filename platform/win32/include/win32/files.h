// Files of the simulated machine: the Win32 file API over the files under the machine root.
//
// Every path is a Windows path mapped by sx::paths (see sx/paths.h): it never reaches a file
// outside the machine root. Every function is thread-safe, sets GetLastError to the Windows code on
// failure (and, where Windows does, on success), and never throws.
//
// Attributes: only FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_READONLY are kept. Read-only is kept
// as the absence of the owner's write permission bit, and it is enforced here, whatever the host
// permissions allow (the machine usually runs as root): opening a read-only file for writing or
// deleting, deleting it, truncating it or replacing it (MoveFileEx, CopyFile) fails with
// ERROR_ACCESS_DENIED. A plain file reports FILE_ATTRIBUTE_ARCHIVE (plus READONLY when read-only);
// other attributes given to SetFileAttributesA are accepted and dropped.
//
// Sharing: CreateFileA checks its access (read, write, delete) and share mode against every other
// open handle of the same file the Windows way, in this process and in every other process of the
// machine, and fails with ERROR_SHARING_VIOLATION. DeleteFileA and MoveFile(Ex)A need delete access
// to the files they remove or replace. An open that asks for no read, write or delete access is not
// checked and does not count. How: each handle owns its own open file description and holds shared
// OFD byte-range locks (fcntl F_OFD_SETLK) on bytes far past any file's end, one per access it
// holds and one per access it denies; an open tests the opposite bytes with F_OFD_GETLK, all under
// a short flock() on the file that makes test-and-take atomic. The kernel drops the locks when the
// handle's file description closes, even when a process dies. Do not use flock() or byte-range
// locks at offsets past 0x7FFFFFFFFFFF0000 on these files elsewhere. A stand-in that keeps a file
// open with host calls records its share mode with sx::files::hold_share_mode (sx/file_share.h).
//
// Last-write time: writes through a handle (WriteFile, SetEndOfFile, CREATE_ALWAYS truncation)
// stamp the file with the machine clock's time of day (sx/clock.h), when GetFileTime asks or the
// handle closes, so that virtual-time tests see deterministic times. SetFileTime sets it outright.
#pragma once

#include "sx/handles.h"
#include "win32/errors.h"
#include "win32/types.h"

struct OVERLAPPED;  // overlapped I/O is not supported: pass null

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

extern "C" {

// Closes a file handle (or any kernel handle); defined with the handle table (sx/handles.h).
// CloseHandle comes from sx/handles.h.

// Opens or creates a file. Access: GENERIC_READ, GENERIC_WRITE, GENERIC_ALL, DELETE (and
// FILE_READ_DATA / FILE_WRITE_DATA / FILE_APPEND_DATA). Dispositions as on Windows; CREATE_ALWAYS
// and OPEN_ALWAYS on an existing file succeed with GetLastError ERROR_ALREADY_EXISTS (else
// ERROR_SUCCESS). FILE_ATTRIBUTE_READONLY on a new file makes it read-only (this handle may still
// write). FILE_FLAG_* are ignored. A folder cannot be opened (ERROR_ACCESS_DENIED). Errors:
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_FILE_EXISTS (CREATE_NEW), ERROR_ACCESS_DENIED,
// ERROR_SHARING_VIOLATION, ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER. Returns
// INVALID_HANDLE_VALUE on failure; close the handle with CloseHandle.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Reads at the handle's position. At the end of the file: TRUE with 0 bytes read. Needs read access
// (ERROR_ACCESS_DENIED). lpOverlapped must be null (ERROR_INVALID_PARAMETER).
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, OVERLAPPED* lpOverlapped);
// Writes at the handle's position. Needs write access (ERROR_ACCESS_DENIED).
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, OVERLAPPED* lpOverlapped);
// Moves the position (FILE_BEGIN, FILE_CURRENT, FILE_END); appending is a move to FILE_END. Without
// lpDistanceToMoveHigh the distance is a signed 32-bit value. Returns the new position's low part
// (and the high part through lpDistanceToMoveHigh); INVALID_SET_FILE_POINTER with
// ERROR_NEGATIVE_SEEK before the start, ERROR_INVALID_PARAMETER for another method. When the result
// is INVALID_SET_FILE_POINTER, check GetLastError: ERROR_SUCCESS means it is a real position.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod);
// Cuts or extends the file at the handle's position. Needs write access.
BOOL SetEndOfFile(HANDLE hFile);
// The file's size: low part returned, high part through lpFileSizeHigh when given.
// INVALID_FILE_SIZE with an error code on failure (ERROR_SUCCESS when the low part really is
// 0xFFFFFFFF).
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
// Writes the file's data to the disk. Needs write access.
BOOL FlushFileBuffers(HANDLE hFile);
// Times as FILETIME (100 ns since 1601-01-01 UTC). Creation time is the host's birth time where the
// file system keeps one, else the last-write time. Any pointer may be null.
BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime);
// Sets the last-access and last-write times (a null pointer leaves that time). The creation time
// cannot be set on the host and is ignored. Needs write access.
BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime);

// Deletes a file: ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED (read-only or a
// folder), ERROR_SHARING_VIOLATION (open without FILE_SHARE_DELETE).
BOOL DeleteFileA(LPCSTR lpFileName);
// Renames a file or folder; fails with ERROR_ALREADY_EXISTS when the new name exists.
BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
// As MoveFileA; MOVEFILE_REPLACE_EXISTING replaces an existing file atomically (not a folder:
// ERROR_ACCESS_DENIED; a read-only file: ERROR_ACCESS_DENIED). A rename that only changes the case
// of the name works. MOVEFILE_COPY_ALLOWED and MOVEFILE_WRITE_THROUGH are accepted;
// MOVEFILE_DELAY_UNTIL_REBOOT is not supported (ERROR_INVALID_PARAMETER). Across host file systems:
// ERROR_NOT_SAME_DEVICE.
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
// Copies a file with its read-only attribute and last-write time. bFailIfExists: ERROR_FILE_EXISTS
// when the new file exists. A read-only target: ERROR_ACCESS_DENIED.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
// ERROR_ALREADY_EXISTS when the name exists, ERROR_PATH_NOT_FOUND when the parent does not.
BOOL CreateDirectoryA(LPCSTR lpPathName, SECURITY_ATTRIBUTES* lpSecurityAttributes);
// ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY (a file), ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND; a
// drive's root cannot be removed (ERROR_ACCESS_DENIED).
BOOL RemoveDirectoryA(LPCSTR lpPathName);
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
DWORD GetFileAttributesA(LPCSTR lpFileName);
// Only FILE_ATTRIBUTE_READONLY has an effect (on files); see the top of this header.
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);

// Lists the names in a folder that match the last component of lpFileName, in which '*' matches any
// run of characters and '?' one character, ignoring case ("*.VXS" finds "a.vxs"; "*.*" is "*").
// "." and ".." are listed for folders other than a drive's root, as Windows does. Names are
// returned in case-insensitive order; the list is taken when the search starts.
// ERROR_PATH_NOT_FOUND when the folder is missing, ERROR_FILE_NOT_FOUND when nothing matches. Names
// that do not fit cFileName are skipped. Close the search with FindClose.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
// FALSE with ERROR_NO_MORE_FILES after the last name.
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// The machine's temporary folder "C:\Windows\Temp\" (made when missing). Returns its length without
// the NUL; when nBufferLength is too small, the size needed including the NUL, buffer untouched.
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
// Forms "<path>\<first 3 chars of prefix><hex of unique>.TMP" in lpTempFileName (MAX_PATH bytes).
// uUnique 0: picks a number whose file does not exist, creates the empty file and returns the
// number; else only forms the name and returns uUnique. 0 on failure.
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

}  // extern "C"
