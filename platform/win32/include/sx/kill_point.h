// Kill points: a test makes a process of the machine die as if killed (SIGKILL, no clean-up of any
// kind) at a chosen moment, to see what a HotSync or an installation killed half-way leaves behind.
//
// The stand-ins pass named points where a killed process matters: every sync manager call (by its
// name, e.g. "SyncWriteRec"), the commit of a handheld file ("handheld-rename"), every call on
// Outlook's object model ("outlook-call"), every append to an Outlook store ("store-append", and
// "store-append-torn": half the bytes written first; "store-commit": the records written, their
// length not yet recorded), the Windows file layer ("WriteFile",
// "WriteFile-torn", "MoveFile") and the registry file ("registry-save").
//
// SX_KILL_POINT="<point>:<n>" in a process's environment kills it at the n-th passage of <point>
// (read once, at the first passage); unset, the normal case, a passage compares with an empty name.
#pragma once

namespace sx::kill_points {

// True when this passage of `point` is the one that must die: the caller may do what a process
// killed in the middle of its work leaves done (half a write), then call kill_now().
bool due(const char* point);

// Dies at once, as by SIGKILL from outside.
[[noreturn]] void kill_now();

// Dies here when this passage of `point` is the chosen one.
inline void pass(const char* point) {
  if (due(point)) kill_now();
}

}  // namespace sx::kill_points
