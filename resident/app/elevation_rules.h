#pragma once
// Whether a start must first get administrator rights. Platform-free: the Win32
// side reads the token and the marker and carries out the step.
#include "common/run_mode.h"

enum class ElevationState { Elevated, NotElevated, Unknown };

enum class ElevationStep {
  GoOn,      // start as usual
  Relaunch,  // start this program again elevated, wait for it and exit with its code
  Refuse,    // exit non-zero at once, having changed nothing
};

// Set in the environment of the elevated instance's start. Where no prompt can
// elevate (UAC turned off for a standard user) the new instance inherits it, is
// still not elevated and refuses instead of starting yet another instance.
constexpr const wchar_t* RELAUNCH_MARKER_VARIABLE = L"CORVANE_ELEVATION_RELAUNCH";

// Install and uninstall change the machine and need an elevated token; a normal
// start does not. A token that cannot be read lets the start go on: its steps
// then fail where rights are missing, and uninstall says so in its exit code.
ElevationStep DecideElevationStep(RunMode mode, ElevationState elevation, bool relaunched);

// The parameter that selects MODE, for the elevated instance; null for Normal.
const wchar_t* RelaunchParameters(RunMode mode);
