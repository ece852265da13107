#include "app/activity_sources.h"

#include <dbt.h>
#include <stddef.h>

#include "app/activity_rules.h"
#include "common/app_state.h"
#include "common/control_ids.h"
#include "app/resync_timers.h"
#include "keyboard/device_name.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"

namespace {

constexpr GUID USB_DEVICE_INTERFACE = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
constexpr GUID USB_HUB_INTERFACE = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
constexpr GUID LID_SWITCH_SETTING = {0xba3e0f4d, 0xb817, 0x4094, {0xa2, 0xd1, 0xd5, 0x63, 0x79, 0xe6, 0xa0, 0xf3}};

constexpr UINT DEVICE_NAME_CAPACITY = 400;  // characters

// Main thread only, like every handler that uses it.
DeviceMemory InputDevices;

HDEVNOTIFY RegisterInterfaceClass(const GUID& interfaceClass) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = interfaceClass;
  return RegisterDeviceNotificationW(App.Window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

BYTE ReadLockKeyBits() {
  return CombineLockBits(GetKeyState(VK_NUMLOCK), GetKeyState(VK_CAPITAL), GetKeyState(VK_SCROLL));
}

// Whether input from DEVICE is the keyboard's: Windows is asked for the device's
// name once, and the answer is remembered until the devices change. A name that
// cannot be read (a device gone, input injected without one) is never the keyboard's.
bool IsKeyboardInput(HANDLE device) {
  const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(device);
  switch (RecallDevice(InputDevices, handle)) {
    case KnownDevice::Keyboard: return true;
    case KnownDevice::Other: return false;
    case KnownDevice::Unknown: break;
  }
  WCHAR name[DEVICE_NAME_CAPACITY] = {};
  UINT capacity = DEVICE_NAME_CAPACITY;
  UINT copied = GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, name, &capacity);
  bool keyboard = copied != 0 && copied != static_cast<UINT>(-1) && IsKeyboardDeviceName(name, DEVICE_NAME_CAPACITY);
  RememberDevice(InputDevices, handle, keyboard);
  return keyboard;
}

void ActOnInput(const unsigned char* record, UINT size) {
  switch (ClassifyRawInput(record, size)) {
    case InputTrigger::Nudge: NudgeResync(App.LastActivityTick, GetTickCount(), WindowTimers()); break;
    case InputTrigger::Force: ForceResync(App.LastActivityTick, GetTickCount(), WindowTimers()); break;
    case InputTrigger::None: break;
  }
}

}  // namespace

void RegisterDeviceArrival() {
  App.UsbDeviceNotify = RegisterInterfaceClass(USB_DEVICE_INTERFACE);
  App.HubNotify = RegisterInterfaceClass(USB_HUB_INTERFACE);
}

bool RegisterRawInput() {
  // Input sink: the window is never in the foreground.
  RAWINPUTDEVICE devices[] = {
      {0x01, 0x06, RIDEV_INPUTSINK, App.Window},  // keyboard
      {0x0C, 0x01, RIDEV_INPUTSINK, App.Window},  // consumer control
      {0xFF00, 0x01, RIDEV_INPUTSINK, App.Window},  // vendor-defined
      {0x01, 0x02, RIDEV_INPUTSINK, App.Window},  // mouse
  };
  return RegisterRawInputDevices(devices, ARRAYSIZE(devices), sizeof(devices[0])) != FALSE;
}

void RegisterLidSwitch() {
  App.PowerNotify = RegisterPowerSettingNotification(App.Window, &LID_SWITCH_SETTING, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void ReleaseActivityRegistrations() {
  if (App.UsbDeviceNotify) UnregisterDeviceNotification(App.UsbDeviceNotify);
  if (App.HubNotify) UnregisterDeviceNotification(App.HubNotify);
  if (App.PowerNotify) UnregisterPowerSettingNotification(App.PowerNotify);
  App.UsbDeviceNotify = nullptr;
  App.HubNotify = nullptr;
  App.PowerNotify = nullptr;
}

void StartLockPoll() {
  App.LockBits = ReadLockKeyBits();
  App.LockPollStarted = true;
  ArmLockPoll(WindowTimers());
}

void OnLockPoll() {
  BYTE bits = ReadLockKeyBits();
  if (bits == App.LockBits) return;
  NudgeResync(App.LastActivityTick, GetTickCount(), WindowTimers());
  App.LockBits = bits;
}

void OnRawInput(LPARAM inputHandle) {
  HRAWINPUT input = reinterpret_cast<HRAWINPUT>(inputHandle);
  // The header names the device: input from any other device (every move of every
  // mouse) costs this one call and nothing more.
  RAWINPUTHEADER header;
  UINT size = sizeof(header);
  if (GetRawInputData(input, RID_HEADER, &header, &size, sizeof(RAWINPUTHEADER)) != sizeof(header)) return;
  if (!IsKeyboardInput(header.hDevice)) return;
  size = 0;
  if (GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 ||
      size < sizeof(RAWINPUTHEADER))
    return;
  auto* record = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (!record) return;
  UINT fetched = GetRawInputData(input, RID_INPUT, record, &size, sizeof(RAWINPUTHEADER));
  if (fetched != static_cast<UINT>(-1) && fetched >= sizeof(RAWINPUTHEADER)) ActOnInput(record, fetched);
  HeapFree(GetProcessHeap(), 0, record);
}

LRESULT OnDeviceChange(WPARAM event, LPARAM broadcast) {
  // Whatever arrived or left, a remembered device handle may now name another device.
  ForgetDevices(InputDevices);
  if (event != DBT_DEVICEARRIVAL || !broadcast) return 0;
  auto* record = reinterpret_cast<const unsigned char*>(broadcast);
  const std::uint16_t* name = nullptr;
  size_t length = 0;
  // Volume and port arrivals carry no interface name and are skipped by their type.
  if (!FindInterfaceName(record, reinterpret_cast<const DEV_BROADCAST_HDR*>(record)->dbch_size, &name, &length))
    return 0;
  if (IsKeyboardInterfacePath(reinterpret_cast<const WCHAR*>(name), length))
    StartKeyboardArrivalResync(WindowTimers());
  return 0;
}

LRESULT OnPowerBroadcast(WPARAM event, LPARAM setting) {
  if (event != PBT_POWERSETTINGCHANGE || !setting) return 0;
  auto* record = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
  size_t available = offsetof(POWERBROADCAST_SETTING, Data) + record->DataLength;
  switch (DecodeLidSetting(reinterpret_cast<const unsigned char*>(record), available)) {
    case LidSetting::Open:
      App.LidClosed = 0;
      SendKeyboardFeature(FEATURE_CMD_LID, 0);
      // The closed lid stopped the poll; without a restart lock keys would stay deaf.
      if (App.LockPollStarted) StartLockPoll();
      break;
    case LidSetting::Closed:
      App.LidClosed = 1;
      SendKeyboardFeature(FEATURE_CMD_LID, 1);
      StopResyncForClosedLid(WindowTimers());
      break;
    case LidSetting::Other: break;
  }
  return 0;
}
