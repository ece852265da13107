#pragma once
// Whether a start must first get administrator rights, and from where it may ask
// for them. Platform-free: the Win32 side reads the token, the paths and the
// command line and carries out the step.
#include <cstddef>

#include "common/run_mode.h"

enum class ElevationState { Elevated, NotElevated, Unknown };

enum class ElevationStep {
  GoOn,        // start as usual
  Relaunch,    // start this program again elevated and end with what that instance did
  Refuse,      // exit 1 at once, having changed nothing
  WriteRecord, // the elevated instance of an install: write the record and end with its result
};

// Where the running program lies, each path in its long form (the glue expands
// short names; a short form here does not match).
struct ProgramPlace {
  const wchar_t* ProgramPath;   // this program's file
  const wchar_t* SystemFolder;  // GetSystemDirectoryW
  const wchar_t* Wow64Folder;   // GetSystemWow64DirectoryW; read only in a WoW64 process
  bool Wow64;                   // a 32-bit process on 64-bit Windows
};

struct StartFacts {
  RunMode Mode;
  bool Relaunched;  // the command line carried the relaunch marker
  ElevationState Elevation;
  ProgramPlace Place;
};

// The installed program is the file directly in the system folder of its own
// bitness, which only administrators can change. Compared as the file system
// compares names, ignoring case; only ASCII letters are folded, so a case
// difference in other letters counts as another folder: no prompt, never a
// wrong one.
bool IsInstalledProgram(const ProgramPlace& place);

// Install and uninstall change the machine and need an elevated token. Only the
// installed program asks for it: elevating a copy elsewhere would let whoever
// can write its folder run code as an administrator, and at every log-on as any
// user. A relaunched start that is still not elevated (no prompt could elevate
// it) refuses, so that it cannot start yet another instance. A token that cannot
// be read lets the start go on: its steps then fail where rights are missing.
ElevationStep DecideElevationStep(const StartFacts& facts);

// The command line of a start: the exact texts "/install" and "/uninstall", or
// one of them followed by " /relaunched", the marker that the relaunch adds.
// Anything else is Normal and not relaunched.
RunMode ParseStartCommandLine(const wchar_t* commandLine, bool* relaunched);

// The parameters of the elevated instance for MODE, marker included; null for Normal.
const wchar_t* RelaunchParameters(RunMode mode);

// The length of PATH's folder, its last backslash included; 0 when it has none.
std::size_t FolderLength(const wchar_t* path);
