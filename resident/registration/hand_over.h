#pragma once
// Ending a running resident so that another can take its place. Shared by the
// installer and by the resident's install and uninstall.
#include <windows.h>

// How long a resident may take to start handling the message that ends it: one
// that hangs, or another program's window of its class, must not hold the caller.
constexpr UINT RESIDENT_ANSWER_WAIT_MS = 5000;
// How long the caller then waits for the resident's process to end: long enough
// for a keyboard that stalls a few reports (seconds each) before the resident
// gets to the message.
constexpr DWORD RESIDENT_EXIT_WAIT_MS = 20000;

// Sends MESSAGE (WM_CLOSE or WM_DESTROY) to WINDOW and waits, bounded, for its
// process to end. A sent message that times out is withdrawn by Windows, so it is
// then posted, which is not. True when the process ended, or when the send was
// handled and the process cannot be waited for.
bool EndRunningResident(HWND window, UINT message);

// Windows of other sessions (and of other desktops) are out of FindWindowW's
// reach, so every resident also watches one event of the machine-wide "Global"
// namespace. Only administrators and SYSTEM may set it; everyone else may only
// wait on it, the user who happened to create it included.
//
// The resident's handle to that event, which may only wait on it; null when it
// cannot be had (the resident then ends only through its window).
HANDLE WatchEndOfEveryResident();
// Sets the event, waits (bounded by RESIDENT_EXIT_WAIT_MS) until no other process
// of Corvane.exe runs, and clears it again, so that residents started afterwards
// stay. True when none is left; false also when the event cannot be set (the
// caller is no administrator).
bool EndEveryResident();

// Security attributes (not inheritable) from the descriptor SDDL; the descriptor
// goes with LocalFree. False when the text cannot be converted.
bool DescribeSecurity(const wchar_t* sddl, SECURITY_ATTRIBUTES* attributes);
