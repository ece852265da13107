#include "common/system_functions.h"

#include "common/dll_search.h"

SystemFunctions Sys;

void LoadSystemFunctions() {
  HMODULE hid = LoadSystemLibrary(L"hid.dll");
  FindSystemFunction(hid, "HidD_GetAttributes", &Sys.HidD_GetAttributes);
  FindSystemFunction(hid, "HidD_GetHidGuid", &Sys.HidD_GetHidGuid);
  FindSystemFunction(hid, "HidD_SetFeature", &Sys.HidD_SetFeature);
  HMODULE version = LoadSystemLibrary(L"version.dll");
  FindSystemFunction(version, "GetFileVersionInfoSizeW", &Sys.GetFileVersionInfoSizeW);
  FindSystemFunction(version, "GetFileVersionInfoW", &Sys.GetFileVersionInfoW);
  FindSystemFunction(version, "VerQueryValueW", &Sys.VerQueryValueW);
  HMODULE powrprof = LoadSystemLibrary(L"powrprof.dll");
  FindSystemFunction(powrprof, "GetPwrCapabilities", &Sys.GetPwrCapabilities);
  HMODULE wtsapi32 = LoadSystemLibrary(L"wtsapi32.dll");
  FindSystemFunction(wtsapi32, "WTSRegisterSessionNotification", &Sys.WTSRegisterSessionNotification);
  FindSystemFunction(wtsapi32, "WTSUnRegisterSessionNotification", &Sys.WTSUnRegisterSessionNotification);
}
