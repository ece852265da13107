#pragma once
#include <windows.h>

// DLLs that system libraries load at run time come from the system directory
// only, never from the program's folder or the current directory. Looked up at
// run time: Windows 7 has SetDefaultDllDirectories only with update KB2533623,
// and an import would stop the loader there before any code runs. Without it the
// program goes on with the standard search order.
void RestrictDllSearchToSystemDirectory();

// Loads FILENAME (a name such as L"hid.dll") from the system directory by its
// full path, its own imports from there too; null when it cannot. A 32-bit
// process on 64-bit Windows gets the 32-bit DLL: the system redirects the path.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// Sets *FUNCTION to NAME's address in MODULE, null when MODULE is null or has no
// such export: callers treat a null function as its failed call.
template <typename Function>
void FindSystemFunction(HMODULE module, const char* name, Function* function) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}
