#pragma once
#include <windows.h>

// 0 when both keys were reached, 1 when the program's own path is not usable or
// the Run key or the uninstall key could be neither opened nor created.
int WriteInstallRecord();
// The four components of the file version of PATH; all 0 unless it can be read.
void ReadFileVersion(const WCHAR* path, WORD (&version)[4]);
