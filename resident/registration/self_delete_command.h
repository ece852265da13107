#pragma once
// The hidden command that deletes the program file once the program has exited.
#include "registration/install_record_values.h"

// Room for the parameters with a path of up to PROGRAM_PATH_CAPACITY - 1 characters.
constexpr unsigned SELF_DELETE_PARAMETERS_CAPACITY = 3 * PROGRAM_PATH_CAPACITY + 160;

// Parameters of the command interpreter: delete Corvane_WMI_DLL.dll in the
// current directory once, then the file at shortPath (quoted), retried about once
// a second for about 20 s until it is gone. False when they do not fit in capacity
// characters (terminator included); nothing is written then.
bool BuildSelfDeleteParameters(const wchar_t* shortPath, wchar_t* parameters, unsigned capacity);
