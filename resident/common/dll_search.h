#pragma once
// DLLs that system libraries load at run time come from the system directory
// only, never from the program's folder or the current directory. Looked up at
// run time: Windows 7 has SetDefaultDllDirectories only with update KB2533623,
// and an import would stop the loader there before any code runs. Without it the
// program goes on with the standard search order.
void RestrictDllSearchToSystemDirectory();
