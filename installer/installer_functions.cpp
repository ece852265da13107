#include "installer_functions.h"

#include "common/dll_search.h"

InstallerFunctions InstallerSys;

void LoadInstallerFunctions() {
  HMODULE wtsapi32 = LoadSystemLibrary(L"wtsapi32.dll");
  FindSystemFunction(wtsapi32, "WTSQueryUserToken", &InstallerSys.WTSQueryUserToken);
  HMODULE userenv = LoadSystemLibrary(L"userenv.dll");
  FindSystemFunction(userenv, "CreateEnvironmentBlock", &InstallerSys.CreateEnvironmentBlock);
  FindSystemFunction(userenv, "DestroyEnvironmentBlock", &InstallerSys.DestroyEnvironmentBlock);
}
