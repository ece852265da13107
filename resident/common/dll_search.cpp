#include "common/dll_search.h"

void RestrictDllSearchToSystemDirectory() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (!found) return;
  auto setDefaultDirectories = reinterpret_cast<decltype(&SetDefaultDllDirectories)>(reinterpret_cast<void*>(found));
  setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
  WCHAR path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenW(fileName) >= MAX_PATH) return nullptr;
  path[length] = L'\\';
  lstrcpyW(path + length + 1, fileName);
  if (HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // A Windows 7 without KB2533623 refuses the flag; the altered search order
  // still looks for the DLL's imports in its own folder, the system directory, first.
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
