#pragma once
#include "app/elevation_rules.h"

// Whether this process's token is elevated (TokenElevation).
ElevationState ReadTokenElevation();

// True when this process must end now with *exitCode: in install and uninstall
// mode without an elevated token it starts itself again with the verb "runas" and
// the same parameter, waits for that instance and takes its exit code; 1 when the
// prompt was refused, the start failed or no prompt can elevate it. ELEVATION is
// ReadTokenElevation() except in tests, which cannot get an unelevated token under Wine.
bool HandOverToElevatedInstance(RunMode mode, ElevationState elevation, int* exitCode);
