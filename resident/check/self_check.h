#pragma once
#include <windows.h>

// "Corvane.exe /check": sends the current mute state to the keyboard once, as the
// resident would (from the session at the physical console only), asks a running
// resident what it holds, and reports what the program, the output, the keyboard,
// the installation, the resident and the machine look like. Changes nothing else
// and needs no rights; the question is a trigger for the resident like any other.
// Returns the exit code.
int RunSelfCheck(HINSTANCE instance);
