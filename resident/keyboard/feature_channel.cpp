#include "keyboard/feature_channel.h"

#include <setupapi.h>

#include "common/system_functions.h"
#include "keyboard/feature_report.h"
#include "keyboard/keyboard_identity.h"

namespace {

// Notes one interface of the keyboard and what it answered.
void RecordKeyboardSend(FeatureSendRecord* record, const WCHAR* path, bool accepted, DWORD error) {
  if (record->KeyboardInterfaces < RECORDED_KEYBOARD_INTERFACES) {
    KeyboardInterfaceSend& send = record->Keyboard[record->KeyboardInterfaces];
    lstrcpynW(send.Path, path, RECORDED_PATH_CAPACITY);
    send.Accepted = accepted;
    send.Error = error;
  }
  ++record->KeyboardInterfaces;
  if (accepted) ++record->Accepted;
}

// Opens one interface briefly and sends the report when it belongs to the keyboard.
// True when it did; *accepted counts the interfaces that took it.
bool SendToInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                     unsigned char (&report)[FEATURE_REPORT_LENGTH], FeatureSendRecord* record, unsigned* accepted) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, required));
  if (!detail) return false;
  bool keyboard = false;
  // cbSize is the size of the fixed structure, not of the allocation.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, required, nullptr, nullptr)) {
    // Windows holds keyboards open exclusively; access 0 with shared read/write
    // still accepts feature reports.
    HANDLE device = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
      HIDD_ATTRIBUTES attributes = {};
      attributes.Size = sizeof(attributes);
      const bool identified = Sys.HidD_GetAttributes && Sys.HidD_GetAttributes(device, &attributes);
      keyboard = identified && attributes.VendorID == KeyboardVendorId && attributes.ProductID == KeyboardProductId;
      if (keyboard) {
        const bool took = Sys.HidD_SetFeature && Sys.HidD_SetFeature(device, report, FEATURE_REPORT_LENGTH);
        const DWORD error = took ? 0 : Sys.HidD_SetFeature ? GetLastError() : ERROR_PROC_NOT_FOUND;
        if (record) RecordKeyboardSend(record, detail->DevicePath, took, error);
        if (took) ++*accepted;
      } else if (identified && record) {
        RecordOtherDevice(record, attributes.VendorID, attributes.ProductID);
      }
      CloseHandle(device);
    }
  }
  HeapFree(GetProcessHeap(), 0, detail);
  return keyboard;
}

}  // namespace

unsigned SendKeyboardFeature(BYTE command, BYTE value, FeatureSendRecord* record) {
  if (record) *record = FeatureSendRecord{};
  // Without hid.dll there is no class of interfaces to list.
  if (!Sys.HidD_GetHidGuid) {
    if (record) record->ListError = ERROR_PROC_NOT_FOUND;
    return 0;
  }
  GUID hidClass;
  Sys.HidD_GetHidGuid(&hidClass);
  HDEVINFO set = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    if (record) record->ListError = GetLastError();
    return 0;
  }
  if (record) record->Listed = true;

  unsigned char report[FEATURE_REPORT_LENGTH];
  BuildFeatureReport(command, value, report);
  // Every collection of the keyboard gets the report, not only the first one found.
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof(interfaceData);
  unsigned accepted = 0;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interfaceData); ++index) {
    if (!SendToInterface(set, &interfaceData, report, record, &accepted) && record) ++record->OtherInterfaces;
  }
  SetupDiDestroyDeviceInfoList(set);
  return accepted;
}
