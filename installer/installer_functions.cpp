#include "installer_functions.h"

#include "common/dll_search.h"

InstallerFunctions InstallerSys;

namespace {

template <typename Function>
void Find(HMODULE module, const char* name, Function* function) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

}  // namespace

void LoadInstallerFunctions() {
  HMODULE wtsapi32 = LoadSystemLibrary(L"wtsapi32.dll");
  Find(wtsapi32, "WTSQueryUserToken", &InstallerSys.WTSQueryUserToken);
  HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
  Find(userenv, "CreateEnvironmentBlock", &InstallerSys.CreateEnvironmentBlock);
  Find(userenv, "DestroyEnvironmentBlock", &InstallerSys.DestroyEnvironmentBlock);
}
