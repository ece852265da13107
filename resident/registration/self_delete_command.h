#pragma once
// The hidden command that deletes the program file once the program has exited.
#include "registration/install_record_values.h"

// The command tries the deletion SELF_DELETE_ROUNDS times, about
// SELF_DELETE_ROUND_MS apart, while the file is still there; then it gives up.
constexpr unsigned SELF_DELETE_ROUNDS = 20;
constexpr unsigned SELF_DELETE_ROUND_MS = 1000;

// Room for the parameters with a file name of up to PROGRAM_PATH_CAPACITY - 1 characters.
constexpr unsigned SELF_DELETE_PARAMETERS_CAPACITY = 3 * PROGRAM_PATH_CAPACITY + 160;

// Parameters of the command interpreter, run in the folder of the file: without
// AutoRun commands, delete Corvane_WMI_DLL.dll there once, then fileName (a name
// in that folder), retried until it is gone. False when fileName holds a
// character that the interpreter would read as more than a name (for example %,
// which expands variables, even within quotes) or when they do not fit in
// capacity characters (terminator included); nothing is written then.
bool BuildSelfDeleteParameters(const wchar_t* fileName, wchar_t* parameters, unsigned capacity);
