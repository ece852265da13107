#include "common/system_functions.h"

#include "common/dll_search.h"

SystemFunctions Sys;

namespace {

template <typename Function>
void Find(HMODULE module, const char* name, Function* function) {
  FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

}  // namespace

void LoadSystemFunctions() {
  HMODULE hid = LoadSystemLibrary(L"hid.dll");
  Find(hid, "HidD_GetAttributes", &Sys.HidD_GetAttributes);
  Find(hid, "HidD_GetHidGuid", &Sys.HidD_GetHidGuid);
  Find(hid, "HidD_SetFeature", &Sys.HidD_SetFeature);
  HMODULE version = LoadSystemLibrary(L"version.dll");
  Find(version, "GetFileVersionInfoSizeW", &Sys.GetFileVersionInfoSizeW);
  Find(version, "GetFileVersionInfoW", &Sys.GetFileVersionInfoW);
  Find(version, "VerQueryValueW", &Sys.VerQueryValueW);
  HMODULE powrprof = LoadSystemLibrary(L"powrprof.dll");
  Find(powrprof, "GetPwrCapabilities", &Sys.GetPwrCapabilities);
  HMODULE wtsapi32 = LoadSystemLibrary(L"wtsapi32.dll");
  Find(wtsapi32, "WTSRegisterSessionNotification", &Sys.WTSRegisterSessionNotification);
  Find(wtsapi32, "WTSUnRegisterSessionNotification", &Sys.WTSUnRegisterSessionNotification);
}
