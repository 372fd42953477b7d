// Modules (shared libraries loaded at run time), version information, the system's version and its
// message texts. Every function is thread-safe, never throws, and sets GetLastError on failure.
#pragma once

#include <cstdarg>
#include <string>

#include "win32/errors.h"
#include "win32/types.h"

using FARPROC = INT_PTR (*)();
using HLOCAL = HANDLE;

// ---- Modules
// ---------------------------------------------------------------------------------------
//
// A module is a shared library opened with dlopen (RTLD_NOW | RTLD_LOCAL); its HMODULE is the
// dlopen handle. LoadLibraryA accepts:
// - a host absolute path ("/..."), used as it is;
// - a Windows path (with a drive, '\' or '/'), mapped into the machine by sx::paths;
// - a bare name, looked up in this order: (1) a module already loaded whose file name equals it
//   ignoring case; (2) the machine's "C:\Windows\System32\<name>"; (3) the running program's folder
//   on the host (exact name, then ignoring case).
// As on Windows, a name whose last component has no '.' gets ".dll" appended; a trailing '.' means
// "no extension". Loading the same file again returns the same HMODULE and counts a reference;
// FreeLibrary unloads on the last one.
// Errors: ERROR_MOD_NOT_FOUND (no such file, or the library or one it needs could not be loaded),
// ERROR_BAD_EXE_FORMAT (not a loadable shared library of this machine). The loader's own text of
// the last failure on this thread stays available through sx::modules::last_load_error().

// Version information (GetFileVersionInfo*, VerQueryValueA) is read from the file, without loading
// it; the block's format and where it lives are in sx/version_stamp.h.
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // VS_FFI_SIGNATURE
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;  // MAKELONG(b, a) of a.b.c.d
  DWORD dwFileVersionLS;  // MAKELONG(d, c)
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u
#define VS_FFI_FILEFLAGSMASK 0x0000003Fu
#define VOS_NT_WINDOWS32 0x00040004u
#define VFT_UNKNOWN 0u
#define VFT_APP 1u
#define VFT_DLL 2u

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;
static_assert(sizeof(OSVERSIONINFOA) == 148);

struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156);

#define VER_PLATFORM_WIN32_NT 2u
#define VER_NT_WORKSTATION 1u

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

extern "C" {

HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// As LoadLibraryA. With LOAD_WITH_ALTERED_SEARCH_PATH and a path (not a bare name), the libraries
// the module needs are looked for in the module's own folder first: each one found there (by its
// name, or ignoring case) is loaded from there, and the rest as the host's loader finds them.
// hFile must be null; other flags are not supported (ERROR_INVALID_PARAMETER).
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// The exported symbol `lpProcName` of a module (null: the running program). Ordinals (values below
// 0x10000) are not supported: ERROR_PROC_NOT_FOUND, as for a missing name. An unknown module:
// ERROR_MOD_NOT_FOUND.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// Drops one reference; the last one unloads the module. FALSE with ERROR_INVALID_HANDLE for a
// handle LoadLibraryA did not give. Modules found by GetModuleHandleA only (loaded by the program
// itself) are never unloaded.
BOOL FreeLibrary(HMODULE hLibModule);
// A module already in the process, by name (as for LoadLibraryA's bare names, ignoring case) or by
// path; null gives the running program. Adds no reference. NULL with ERROR_MOD_NOT_FOUND.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
// The module's file: its Windows path when under the machine root, else its host path. Copies at
// most nSize - 1 characters and a NUL; returns the length copied, or nSize with
// ERROR_INSUFFICIENT_BUFFER when the name was cut. 0 with ERROR_MOD_NOT_FOUND for an unknown
// module.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// Size of the version information of a file (a Windows path, or a host absolute path), 0 on
// failure: ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND (no block),
// ERROR_BAD_EXE_FORMAT (a damaged ELF file), ERROR_INVALID_DATA (a damaged block). *lpdwHandle = 0.
DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
// Copies the version information into lpData; dwLen must be at least the size above, else FALSE
// with ERROR_INSUFFICIENT_BUFFER and lpData untouched. Same errors as above.
BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// Finds a value in a block from GetFileVersionInfoA: "\" (VS_FIXEDFILEINFO, 52 bytes),
// "\VarFileInfo\Translation" (WORD language, WORD code page; 4 bytes) or
// "\StringFileInfo\<8 hex digits>\<Name>" (a NUL-terminated text; *puLen counts its characters with
// the NUL). Names match ignoring case. The pointer points into pBlock. FALSE with
// ERROR_RESOURCE_TYPE_NOT_FOUND when absent, ERROR_INVALID_PARAMETER for a block it did not make.
BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);

// The simulated machine runs Windows XP: NT platform 5.1, build 2600. dwOSVersionInfoSize must be
// sizeof(OSVERSIONINFOA) or sizeof(OSVERSIONINFOEXA), else FALSE with ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

// FORMAT_MESSAGE_FROM_SYSTEM only: the Windows system text of a Win32 error code or HRESULT (an
// HRESULT_FROM_WIN32 code gives the Win32 text), ending in "\r\n" as on Windows; inserts such as
// "%1" are left as they stand. Any language id is accepted (the texts are English). Returns the
// length without the NUL. When nSize is too small: 0 with ERROR_INSUFFICIENT_BUFFER, buffer
// untouched. FORMAT_MESSAGE_ALLOCATE_BUFFER: lpBuffer is really an LPSTR* that receives a
// LocalAlloc'ed text (free it with LocalFree). A code without a text: 0 with
// ERROR_MR_MID_NOT_FOUND. Other sources (FROM_STRING, FROM_HMODULE): 0 with
// ERROR_INVALID_PARAMETER.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);

// Heap memory as FormatMessageA hands it out. LocalFree returns NULL on success.
HLOCAL LocalAlloc(UINT uFlags, std::size_t uBytes);
HLOCAL LocalFree(HLOCAL hMem);

}  // extern "C"

namespace sx::modules {

// The loader's text for the last LoadLibraryA failure on this thread (empty when none).
std::string last_load_error();

}  // namespace sx::modules
