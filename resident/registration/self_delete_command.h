#pragma once
// The hidden command that deletes the program file once the program has exited.

// Parameters of the hidden command that deletes the program file after it exited:
// /c del "<shortPath>" Corvane_WMI_DLL.dll /F. False when it does not fit in capacity
// characters (terminator included).
bool BuildSelfDeleteParameters(const wchar_t* shortPath, wchar_t* parameters, unsigned capacity);
