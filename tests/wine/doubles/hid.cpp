// hid.dll double: answers for the virtual interfaces of hid-interfaces.txt and
// logs every feature report to hid.log.

#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "double_support.h"
#include "hid_interfaces.h"
#include "virtual_devices.h"

struct HiddAttributes {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};

// GUID_DEVINTERFACE_HID
static const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Finds the interface a handle was opened on, by the name of the file behind it.
static bool InterfaceOfHandle(HANDLE handle, VirtualInterface* found) {
  wchar_t path[MAX_PATH + 8];
  DWORD length = GetFinalPathNameByHandleW(handle, path, ARRAYSIZE(path), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= ARRAYSIZE(path)) return false;
  const wchar_t* name = wcsrchr(path, L'\\');
  name = name ? name + 1 : path;
  static VirtualInterface interfaces[kMaxVirtualInterfaces];
  int count = LoadVirtualInterfaces(interfaces);
  for (int i = 0; i < count; ++i) {
    if (_wcsicmp(interfaces[i].name, name) == 0) {
      *found = interfaces[i];
      return true;
    }
  }
  return false;
}

// Windows opens keyboard and mouse collections for itself: other programs get a
// handle to them only without read and write access.
static bool AccessAllowed(HANDLE handle, const VirtualInterface& device) {
  if (!device.exclusive) return true;
  PUBLIC_OBJECT_BASIC_INFORMATION basic;
  ULONG length;
  if (!NT_SUCCESS(NtQueryObject(handle, ObjectBasicInformation, &basic, sizeof basic, &length))) {
    return false;
  }
  return (basic.GrantedAccess & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA)) == 0;
}

static void NarrowName(const VirtualInterface& device, char (&name)[128]) {
  if (WideCharToMultiByte(CP_UTF8, 0, device.name, -1, name, sizeof name, nullptr, nullptr) == 0) {
    strcpy(name, "?");
  }
}

extern "C" {

// The delay is read when the process loads the double and kept until it ends
// (RESERVED is non-null at a process's end, null at FreeLibrary).
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  static DWORD exitDelayMs;
  wchar_t path[MAX_PATH];
  DWORD size;
  if (reason == DLL_PROCESS_ATTACH && DoublesPath(vdev::kExitDelayFile, path, MAX_PATH)) {
    if (char* text = ReadWholeFile(path, &size)) {
      exitDelayMs = strtoul(text, nullptr, 10);
      HeapFree(GetProcessHeap(), 0, text);
    }
  }
  if (reason == DLL_PROCESS_DETACH && reserved && exitDelayMs) Sleep(exitDelayMs);
  return TRUE;
}

void WINAPI HidD_GetHidGuid(GUID* hidGuid) { *hidGuid = kHidInterfaceClass; }

BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, HiddAttributes* attributes) {
  VirtualInterface found;
  if (!InterfaceOfHandle(device, &found)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  char name[128];
  NarrowName(found, name);
  if (!AccessAllowed(device, found)) {
    AppendLog(vdev::kHidLog, "attributes %s refused-access", name);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (found.attributesFail) {
    AppendLog(vdev::kHidLog, "attributes %s failed", name);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  AppendLog(vdev::kHidLog, "attributes %s ok", name);
  attributes->Size = sizeof(HiddAttributes);
  attributes->VendorID = found.vendorId;
  attributes->ProductID = found.productId;
  attributes->VersionNumber = 0x0100;
  return TRUE;
}

BOOLEAN WINAPI HidD_SetFeature(HANDLE device, void* report, ULONG length) {
  VirtualInterface found;
  if (!InterfaceOfHandle(device, &found)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  char hex[3 * 64 + 1] = "-";
  const unsigned char* bytes = static_cast<const unsigned char*>(report);
  int used = 0;
  for (ULONG i = 0; i < length && i < 64; ++i) {
    used += snprintf(hex + used, sizeof hex - used, "%s%02x", i ? " " : "", bytes[i]);
  }
  const char* result = "ok";
  DWORD error = ERROR_SUCCESS;
  if (!AccessAllowed(device, found)) {
    result = "refused-access";
    error = ERROR_ACCESS_DENIED;
  } else if (length != found.featureLength) {
    // A real device takes a feature report only in a buffer of its report length.
    result = "refused-length";
    error = ERROR_CRC;
  }
  char name[128];
  NarrowName(found, name);
  // A control transfer takes its time; a keyboard that does not answer holds the
  // caller until the transfer times out. The report is logged when the call returns.
  if (found.stallMs) {
    AppendLog(vdev::kHidLog, "stall %s", name);
    Sleep(found.stallMs);
  } else {
    unsigned costMs = LoadHidCosts().setFeatureMs;
    if (costMs) Sleep(costMs);
  }
  AppendLog(vdev::kHidLog, "set-feature %s %s %s", name, result, hex);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
