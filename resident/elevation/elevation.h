#pragma once
#include <windows.h>
#include <shellapi.h>

#include "elevation/elevation_rules.h"

// Whether this process's token is elevated (TokenElevation).
ElevationState ReadTokenElevation();

// The paths of a ProgramPlace, in their long forms, with the storage they point into.
struct ProgramPlaceText {
  WCHAR Program[MAX_PATH];
  WCHAR System[MAX_PATH];
  WCHAR Wow64[MAX_PATH];
  ProgramPlace Place;
};

// Reads where PROGRAM_PATH lies (the running program's file when null). A path
// that cannot be read or expanded stays empty, which matches no folder.
void ReadProgramPlace(const wchar_t* programPath, ProgramPlaceText* text);

// The elevated start of PROGRAM_PATH for MODE, as handed to ShellExecuteExW.
struct ElevatedStart {
  SHELLEXECUTEINFOW Execute;
  WCHAR Folder[MAX_PATH];
};
// False when the path has no folder or does not fit.
bool DescribeElevatedStart(const wchar_t* programPath, RunMode mode, ElevatedStart* start);

// Carries out the step that DecideElevationStep gives for FACTS and returns it.
// After Relaunch and Refuse the process ends with *exitCode: 1 when refused, the
// prompt was declined or the start failed; otherwise the elevated instance's
// code, and after an install whose record was written (0) this program started
// again, without parameter and with this process's own token, as the resident.
// The Elevation of FACTS is ReadTokenElevation() except in tests, which cannot
// get an unelevated token under Wine.
ElevationStep TakeElevationStep(const StartFacts& facts, int* exitCode);
