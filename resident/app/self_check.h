#pragma once
#include <windows.h>

// "Corvane.exe /check": sends the current mute state to the keyboard once, as the
// resident would, and reports what the program, the output, the keyboard, the
// installation, a running resident and the machine look like. Changes nothing
// else and needs no rights; a running resident is left alone. Returns the exit code.
int RunSelfCheck(HINSTANCE instance);
