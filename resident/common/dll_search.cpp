#include "common/dll_search.h"

#include <windows.h>

void RestrictDllSearchToSystemDirectory() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (!found) return;
  auto setDefaultDirectories = reinterpret_cast<decltype(&SetDefaultDllDirectories)>(reinterpret_cast<void*>(found));
  setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
