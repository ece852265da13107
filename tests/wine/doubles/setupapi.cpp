// setupapi.dll double: the HID interface class holds the virtual interfaces of
// hid-interfaces.txt, taken when the set is opened, in file order. Buffer and
// size rules follow Windows so that a caller's mistakes show here too.

#include <windows.h>
#define _SETUPAPI_  // this file defines the functions that the header imports
#include <setupapi.h>

#include <stddef.h>
#include <wchar.h>

#include "double_support.h"
#include "hid_interfaces.h"
#include "virtual_devices.h"

// GUID_DEVINTERFACE_HID
static const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr DWORD kSetMagic = 0x56534554;

struct InterfaceSet {
  DWORD magic;
  int count;
  wchar_t paths[kMaxVirtualInterfaces][MAX_PATH];
  bool absent[kMaxVirtualInterfaces];
};

// This process's sets so far; each creation and destruction logs both totals,
// so the last line of a process shows a set it never destroyed.
static LONG g_setsCreated;
static LONG g_setsDestroyed;

static void LogSetCounts(LONG created, LONG destroyed) {
  AppendLog(vdev::kHidLog, "device-info-sets %ld %ld", created, destroyed);
}

static InterfaceSet* SetOf(HDEVINFO handle) {
  InterfaceSet* set = static_cast<InterfaceSet*>(handle);
  if (handle == INVALID_HANDLE_VALUE || !set || set->magic != kSetMagic) return nullptr;
  return set;
}

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags) {
  InterfaceSet* set = static_cast<InterfaceSet*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(InterfaceSet)));
  if (!set) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  set->magic = kSetMagic;
  // Windows walks its device tree here, which is what a send pays for most.
  unsigned walkMs = LoadHidCosts().walkMs;
  if (walkMs) Sleep(walkMs);
  if (classGuid && IsEqualGUID(*classGuid, kHidInterfaceClass) && (flags & DIGCF_DEVICEINTERFACE)) {
    static VirtualInterface interfaces[kMaxVirtualInterfaces];
    int count = LoadVirtualInterfaces(interfaces);
    for (int i = 0; i < count; ++i) {
      // Like Windows, the set holds remembered, unplugged interfaces unless asked for present ones.
      if (interfaces[i].absent && (flags & DIGCF_PRESENT)) continue;
      if (VirtualInterfacePath(interfaces[i].name, set->paths[set->count], MAX_PATH)) {
        set->absent[set->count++] = interfaces[i].absent;
      }
    }
  }
  LogSetCounts(InterlockedIncrement(&g_setsCreated), g_setsDestroyed);
  return set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* classGuid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  InterfaceSet* set = SetOf(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (!classGuid || !IsEqualGUID(*classGuid, kHidInterfaceClass) || index >= static_cast<DWORD>(set->count)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->InterfaceClassGuid = kHidInterfaceClass;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
  InterfaceSet* set = SetOf(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > static_cast<ULONG_PTR>(set->count)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const wchar_t* path = set->paths[data->Reserved - 1];
  // Every caller here wants devices it can talk to; walking an unplugged one is a fault.
  if (set->absent[data->Reserved - 1]) AppendLog(vdev::kHidLog, "absent-interface-walked %ls", path);
  DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                    (wcslen(path) + 1) * sizeof(wchar_t));
  if (requiredSize) *requiredSize = needed;
  if (!detail) {
    SetLastError(detailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // Windows wants the size of the fixed record here, not of the buffer.
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (deviceInfo) {
    if (deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
      SetLastError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
    deviceInfo->ClassGuid = GUID{};
    deviceInfo->DevInst = static_cast<DWORD>(data->Reserved);
    deviceInfo->Reserved = 0;
  }
  wcscpy(detail->DevicePath, path);
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  InterfaceSet* set = SetOf(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  set->magic = 0;
  HeapFree(GetProcessHeap(), 0, set);
  LogSetCounts(g_setsCreated, InterlockedIncrement(&g_setsDestroyed));
  return TRUE;
}

}  // extern "C"
