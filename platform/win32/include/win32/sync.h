// Threads, events, waits, critical sections, sleeping and the time of day, as kernel32 offers them.
//
// Every call here may be made from any thread. Every blocking call waits through the machine's one
// clock (sx/clock.h), so on the virtual clock of a test a 60-second wait costs no real time and
// ends the same way every run.
//
// System code reads the time of day only through GetSystemTime, GetLocalTime and
// GetSystemTimeAsFileTime (never time(), gettimeofday() or std::chrono::system_clock), and measures
// intervals only with GetTickCount/GetTickCount64, so that all of it follows the virtual clock.
#pragma once

#include "sx/handles.h"  // CloseHandle
#include "win32/errors.h"
#include "win32/types.h"

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

// Results of the wait functions.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u  // 258
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// GetExitCodeThread's answer while the thread runs.
#define STILL_ACTIVE 259
// The exit code of a thread whose entry point threw a C++ exception (as an unhandled C++ exception
// ends a thread on Windows).
#define SX_EXCEPTION_EXIT_CODE 0xE06D7363u

// CreateThread flags.
#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u

// A critical section: a lock that its owner may enter again. The fields are the implementation's;
// callers only pass its address. It must not be moved or copied while initialised.
struct CRITICAL_SECTION {
  void* DebugInfo;
  LONG LockCount;       // threads waiting to enter
  LONG RecursionCount;  // times the owner has entered
  HANDLE OwningThread;  // the owner's thread id, null when free
  HANDLE LockSemaphore;
  std::uintptr_t SpinCount;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

extern "C" {

// ---- Events and waits
// ------------------------------------------------------------------------------

// Creates an event. An auto-reset event (bManualReset FALSE) releases exactly one waiter per
// SetEvent and is reset by that release; a manual-reset event releases every waiter until
// ResetEvent. Security attributes are ignored. Named events are not supported: a non-null name
// gives null with ERROR_NOT_SUPPORTED.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
// FALSE with ERROR_INVALID_HANDLE when the handle is not an open event.
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Waits for an event or a thread (signalled when it has ended). dwMilliseconds 0 only polls;
// INFINITE never times out. Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with
// ERROR_INVALID_HANDLE when the handle is not an open waitable object.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Waits for all (bWaitAll) or any of nCount objects. Waiting for any returns WAIT_OBJECT_0 + the
// lowest index that is signalled (only that object is consumed); waiting for all consumes them all
// at once. WAIT_FAILED with ERROR_INVALID_PARAMETER for nCount 0 or above MAXIMUM_WAIT_OBJECTS, or
// one object twice in a wait for all; with ERROR_INVALID_HANDLE for a handle that is not waitable.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds);

// ---- Threads
// ---------------------------------------------------------------------------------------

// Starts lpStartAddress(lpParameter) on a new thread and returns its handle (and its id through
// lpThreadId when not null). The stack size is ignored. CREATE_SUSPENDED holds the thread until
// ResumeThread. The handle is signalled when the thread ends; closing it does not stop the thread.
// An exception thrown out of the entry point ends the thread with exit code SX_EXCEPTION_EXIT_CODE.
// Null with ERROR_INVALID_PARAMETER for a null entry point or unknown flags,
// ERROR_NOT_ENOUGH_MEMORY when no thread can be started.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, std::size_t dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
// Lowers the thread's suspend count; the thread runs when it reaches 0. Returns the previous count,
// or (DWORD)-1 with ERROR_INVALID_HANDLE.
DWORD ResumeThread(HANDLE hThread);
// Unique among the process's live threads; never 0.
DWORD GetCurrentThreadId();
// STILL_ACTIVE while the thread runs, then the value its entry point returned. FALSE with
// ERROR_INVALID_HANDLE when the handle is not a thread's; ERROR_INVALID_PARAMETER for a null out.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

// ---- Critical sections
// -----------------------------------------------------------------------------

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
// Blocks until the section is free or already owned by the calling thread (entries nest). Blocking
// goes through the machine's clock, so a holder that sleeps on the virtual clock still sees time
// move.
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// TRUE when entered (free or already owned by the caller), FALSE when another thread owns it.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Undoes one entry of the owner. A call by a thread that does not own the section does nothing.
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---- Sleeping and clocks
// ---------------------------------------------------------------------------

// Sleep(0) gives up the rest of the time slice; Sleep(INFINITE) never returns.
void Sleep(DWORD dwMilliseconds);
// Milliseconds on the machine's monotonic clock; the 32-bit value wraps after 49.7 days, so
// intervals are computed as unsigned differences.
DWORD GetTickCount();
ULONGLONG GetTickCount64();

// The time of day in UTC, and in the host's time zone (TZ).
void GetSystemTime(LPSYSTEMTIME lpSystemTime);
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
// 100-nanosecond intervals since 1601-01-01 00:00 UTC.
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);

// FALSE with ERROR_INVALID_PARAMETER for a file time of 0x8000000000000000 or above, or a null
// pointer.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// wDayOfWeek is ignored. FALSE with ERROR_INVALID_PARAMETER when a field is out of range (year 1601
// to 30827, a real day of the month, hour < 24, minute and second < 60, milliseconds < 1000).
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
// Shift by the host time zone's offset from UTC in effect now (as Windows does: the offset of the
// current moment, not of the converted one).
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime);

}  // extern "C"
