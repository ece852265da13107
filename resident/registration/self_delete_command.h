#pragma once
// The hidden command that deletes the program file once the program has exited.
#include "registration/install_record_values.h"

// The command tries the deletion SELF_DELETE_ROUNDS times, about
// SELF_DELETE_ROUND_MS apart, while the file is still there; then it gives up.
constexpr unsigned SELF_DELETE_ROUNDS = 20;
constexpr unsigned SELF_DELETE_ROUND_MS = 1000;

// The interpreter, in the system folder.
constexpr wchar_t SELF_DELETE_INTERPRETER[] = L"\\cmd.exe";

// Room for the command line with a system folder and a file name of up to
// PROGRAM_PATH_CAPACITY - 1 characters each, and for the environment block with
// such a system and Windows folder.
constexpr unsigned SELF_DELETE_COMMAND_CAPACITY = 5 * PROGRAM_PATH_CAPACITY + 200;
constexpr unsigned SELF_DELETE_ENVIRONMENT_CAPACITY = 3 * PROGRAM_PATH_CAPACITY + 80;

// The command line of the interpreter in systemFolder, run in the folder of the
// file: without AutoRun commands, with command extensions on and delayed
// expansion off whatever the registry says, delete Corvane_WMI_DLL.dll there
// once, then fileName (a name in that folder), retried until it is gone; the
// pause is the system folder's ping.exe. False when fileName or systemFolder holds
// a character that the interpreter would read as more than a name (for example %,
// which expands variables, even within quotes) or when the line does not fit in
// capacity characters (terminator included); nothing is written then.
bool BuildSelfDeleteCommand(const wchar_t* systemFolder, const wchar_t* fileName, wchar_t* command,
                            unsigned capacity);

// The whole environment of the command (a block of NAME=value texts, sorted by
// name, ending with an empty text): the system folder as its only PATH, .COM and
// .EXE as the only extensions a command word takes, the interpreter as ComSpec
// and windowsFolder as SystemRoot, which ping's network stack needs. False, with
// nothing written, when it does not fit in capacity characters.
bool BuildSelfDeleteEnvironment(const wchar_t* systemFolder, const wchar_t* windowsFolder, wchar_t* block,
                                unsigned capacity);
