// Processes of the simulated machine: CreateProcessA starts a program given by its Windows path.
//
// The program file is mapped through sx::paths; it must be executable on the host (a stand-in
// program or a starter script such as HotSync's "HotSync.exe"). The child inherits the environment,
// and with it the machine root (SX_MACHINE), and its standard streams. Process handles are kernel
// objects: WaitForSingleObject on one returns when the process has ended. Thread-safe.
#pragma once

#include "sx/handles.h"
#include "win32/errors.h"
#include "win32/sync.h"
#include "win32/types.h"

// Creation flags are accepted and ignored, except CREATE_SUSPENDED (win32/sync.h), which is
// refused.
#define NORMAL_PRIORITY_CLASS 0x00000020

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

extern "C" {

// Starts a program. The program is lpApplicationName when given, else the first word of
// lpCommandLine (in double quotes when it has spaces); the rest of the command line is split into
// arguments the Windows way (double quotes group, backslashes before a quote escape it).
// lpCurrentDirectory (a Windows path) is the child's folder when given. Fails with
// ERROR_FILE_NOT_FOUND (no such program), ERROR_BAD_EXE_FORMAT (not executable),
// ERROR_NOT_SUPPORTED (CREATE_SUSPENDED) or ERROR_INVALID_PARAMETER. On success both handles of
// *lpProcessInformation must be closed with CloseHandle; the thread handle stands for the process's
// main thread.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);

// STILL_ACTIVE while the process runs, then its exit code. Exit codes are 32 bits, as on Windows:
// a stand-in program that ends with exit(-1), return -1 from main or ExitProcess(0xFFFFFFFF) is
// read here as 0xFFFFFFFF, although the host (a shell) sees only the low 8 bits, 255. The child
// leaves its full code in a file under "<machine root>/processes/" as it exits; a program that ends
// without exit() (_exit, a crash) gives its 8-bit status, and one killed by a signal 128 + the
// signal.
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);

// Ends the calling process with this exit code (see GetExitCodeProcess). As on Windows, the
// program's own clean-up (static destructors, atexit) does not run, so that threads still running
// never see it; stdio is flushed and the full exit code is left for the creator.
[[noreturn]] void ExitProcess(UINT uExitCode);

// The command line of this process in the Windows form: for a process started by CreateProcessA
// the command line its creator gave (lpCommandLine, else lpApplicationName), otherwise the
// program's path in double quotes (its Windows path when it lies on the machine, else its host
// path) followed by its arguments, each quoted the Windows way where needed. The text lives as long
// as the process.
LPSTR GetCommandLineA();

// Ends the process (SIGKILL); its exit code becomes uExitCode.
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);

DWORD GetCurrentProcessId();

// Waits until the process has a top-level window of its own on the machine (its user interface is
// up), at most dwMilliseconds. 0 when it has; WAIT_TIMEOUT when the time ran out; WAIT_FAILED when
// the process has ended or the handle is not a process.
DWORD WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds);

}  // extern "C"
