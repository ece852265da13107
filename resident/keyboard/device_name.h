#pragma once
// The keyboard matchers applied to the UTF-16 names that Windows hands over.
#include <windows.h>

// Raw-input source name, at most capacity characters (not necessarily terminated).
bool IsKeyboardDeviceName(const WCHAR* name, size_t capacity);

// Interface path of a device-arrival broadcast, length UTF-16 units.
bool IsKeyboardInterfacePath(const WCHAR* path, size_t length);
