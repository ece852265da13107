#pragma once
// The resync scheduler on the control window's real timers.
#include <windows.h>

#include "app/resync.h"

ResyncHost& WindowTimers();

LRESULT OnEndpointReacquire();
