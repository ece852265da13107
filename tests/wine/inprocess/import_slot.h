#pragma once
// The import address table slot of FUNCTION from DLL in this program (null when
// not imported), and a write to it: a test puts a recorder in front of a system
// call whose arguments Wine ignores but Windows honours, or makes it fail.

#include <windows.h>

void** ImportSlot(const char* dll, const char* function);
void WriteSlot(void** slot, void* value);
