#pragma once
#include <windows.h>

// 0 when every value was written, 1 when the program's own path is not usable, the
// Run key or the uninstall key could be neither opened nor created, or a value
// could not be set.
int WriteInstallRecord();
// Reads a text value of the record where it is written, in the 64-bit view: the
// status of the read, ERROR_FILE_NOT_FOUND when the key or the value is absent.
LSTATUS ReadRecordText(const WCHAR* keyPath, const WCHAR* valueName, WCHAR* text, DWORD bytes);
// The four components of the file version of PATH; all 0 unless it can be read.
void ReadFileVersion(const WCHAR* path, WORD (&version)[4]);
