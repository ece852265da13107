#pragma once
#include <windows.h>

// 0 when both keys were reached, 1 when the program's own path is not usable or
// the Run key or the uninstall key could be neither opened nor created.
int WriteInstallRecord();
void ReadFileVersion(const WCHAR* path, WORD* major, WORD* fourth);
