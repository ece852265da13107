#pragma once
// The installer's functions of system libraries that are not KnownDLLs, loaded
// from the system directory at start rather than imported: Windows would look for
// an imported one in the installer's own folder (Downloads, say) first. A pointer
// whose DLL or function was not found stays null, and its caller takes that for
// the failed call.
#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

struct InstallerFunctions {
  // wtsapi32.dll
  decltype(&::WTSQueryUserToken) WTSQueryUserToken;
  // userenv.dll
  decltype(&::CreateEnvironmentBlock) CreateEnvironmentBlock;
  decltype(&::DestroyEnvironmentBlock) DestroyEnvironmentBlock;
};

extern InstallerFunctions InstallerSys;

// Fills InstallerSys; called once at start, after the DLL search is restricted.
void LoadInstallerFunctions();
