#pragma once
#include <windows.h>

void RunUninstall();
// Whether the record (Run value and uninstall command) is this program's to
// remove: each value names this file, a file that is gone, or is absent.
bool RecordIsThisProgramsOwn();
// 0 removed (a missing value or key counts as removed), 1 the Run value was not
// removed (the uninstall entry is then left alone), 2 the uninstall entry was not
// removed.
int RemoveInstallRecord();

// The move that renames the program file aside: it never replaces a file of that
// name (another uninstall's, waiting for its deletion) and says why it failed.
bool MoveWithoutReplacing(const wchar_t* from, const wchar_t* to, unsigned long* error);

// Starts the hidden command that deletes the file at path, retrying until no
// process holds it, and the companion library in the same folder. The command runs
// the system folder's programs only, with an environment of its own: the uninstall
// runs elevated, and its environment comes from the user's, which the user's own
// programs can change (COMSPEC, PATH, PATHEXT). True when it started; *command is
// its process or null.
bool StartSelfDelete(const wchar_t* path, HANDLE* command);
