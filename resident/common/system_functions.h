#pragma once
// The functions of system libraries that are not KnownDLLs. Windows looks for a
// statically imported DLL that is not a KnownDLL in the program's own folder
// first, before any of its code runs: these are loaded from the system directory
// at start instead. A pointer whose DLL or function was not found stays null, and
// every caller takes that for the failed call.
#include <windows.h>
#include <powrprof.h>
#include <winver.h>
#include <wtsapi32.h>
// MinGW's hidsdi.h declares the functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

struct SystemFunctions {
  // hid.dll
  decltype(&::HidD_GetAttributes) HidD_GetAttributes;
  decltype(&::HidD_GetHidGuid) HidD_GetHidGuid;
  decltype(&::HidD_SetFeature) HidD_SetFeature;
  // version.dll
  decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW;
  decltype(&::GetFileVersionInfoW) GetFileVersionInfoW;
  decltype(&::VerQueryValueW) VerQueryValueW;
  // powrprof.dll
  decltype(&::GetPwrCapabilities) GetPwrCapabilities;
  // wtsapi32.dll
  decltype(&::WTSRegisterSessionNotification) WTSRegisterSessionNotification;
  decltype(&::WTSUnRegisterSessionNotification) WTSUnRegisterSessionNotification;
};

extern SystemFunctions Sys;

// Fills Sys; called once at start, after the DLL search is restricted.
void LoadSystemFunctions();
