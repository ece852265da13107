#include "app/activity_sources.h"

#include <dbt.h>
#include <stddef.h>

#include "app/activity_rules.h"
#include "common/app_state.h"
#include "common/control_ids.h"
#include "common/resident_answer.h"
#include "common/session_rules.h"
#include "common/system_functions.h"
#include "app/resync_timers.h"
#include "audio/endpoint_watch.h"
#include "keyboard/device_name.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"

namespace {

constexpr GUID USB_DEVICE_INTERFACE = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
constexpr GUID USB_HUB_INTERFACE = {0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
constexpr GUID LID_SWITCH_SETTING = {0xba3e0f4d, 0xb817, 0x4094, {0xa2, 0xd1, 0xd5, 0x63, 0x79, 0xe6, 0xa0, 0xf3}};
constexpr GUID CONSOLE_DISPLAY_SETTING = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

constexpr UINT DEVICE_NAME_CAPACITY = 400;  // characters

// Set once the services that session notifications depend on have started.
constexpr wchar_t SESSION_SERVICES_READY_EVENT[] = L"Global\\TermSrvReadyEvent";

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
// cannot be read (a device gone, input injected without one) is not the keyboard's
// this time, and is asked for again next time.
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
  DeviceNameVerdict verdict = DeviceNameVerdict::Unreadable;
  if (copied != 0 && copied != static_cast<UINT>(-1))
    verdict = IsKeyboardDeviceName(name, DEVICE_NAME_CAPACITY) ? DeviceNameVerdict::Keyboard : DeviceNameVerdict::Other;
  return TakeDeviceVerdict(InputDevices, handle, verdict);
}

// A trigger that arms a send reads the state it will send; that read is also what
// notices a restarted audio service and binds afresh.
void NudgeAndRead() {
  if (NudgeResync(App.LastActivityTick, GetTickCount(), WindowTimers())) RefreshEndpointMute();
}

void ForceAndRead() {
  RefreshEndpointMute();
  ForceResync(App.LastActivityTick, GetTickCount(), WindowTimers());
}

void ActOnInput(const unsigned char* record, UINT size) {
  switch (ClassifyRawInput(record, size)) {
    case InputTrigger::Nudge: NudgeAndRead(); break;
    case InputTrigger::Force: ForceAndRead(); break;
    case InputTrigger::None: break;
  }
}

// Resume, the display coming on, the session coming to the console or being
// unlocked: the keyboard may show a state from before. Resume is broadcast to every
// top-level window, also to the uninstaller's, which has nothing to keep in step.
void ResyncAfterSystemChange() {
  if (App.Mode == RunMode::Uninstall) return;
  ForceAndRead();
}

bool RegisterForThisSession() {
  return Sys.WTSRegisterSessionNotification &&
         Sys.WTSRegisterSessionNotification(App.Window, NOTIFY_FOR_THIS_SESSION) != FALSE;
}

// Thread pool thread: the session services are up; the main thread registers again.
VOID CALLBACK SessionServicesStarted(PVOID, BOOLEAN) {
  if (HWND window = CallbackWindow()) PostMessageW(window, WM_SESSION_SERVICES_READY, 0, 0);
}

void StopAwaitingSessionServices() {
  // INVALID_HANDLE_VALUE: a callback under way ends first, so none runs after this.
  if (App.SessionServicesWait) UnregisterWaitEx(App.SessionServicesWait, INVALID_HANDLE_VALUE);
  if (App.SessionServicesReady) CloseHandle(App.SessionServicesReady);
  App.SessionServicesWait = nullptr;
  App.SessionServicesReady = nullptr;
}

// The thread pool waits for the event, so the message loop stays as it is and
// nothing polls. Without the event there is nothing to wait for.
void AwaitSessionServices() {
  App.SessionServicesReady = OpenEventW(SYNCHRONIZE, FALSE, SESSION_SERVICES_READY_EVENT);
  if (!App.SessionServicesReady) return;
  if (!RegisterWaitForSingleObject(&App.SessionServicesWait, App.SessionServicesReady, SessionServicesStarted,
                                   nullptr, INFINITE, WT_EXECUTEONLYONCE)) {
    App.SessionServicesWait = nullptr;
    StopAwaitingSessionServices();
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
  // Where Modern Standby resumes without PBT_APMRESUMEAUTOMATIC, the display coming on still tells.
  App.DisplayNotify =
      RegisterPowerSettingNotification(App.Window, &CONSOLE_DISPLAY_SETTING, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void RegisterSessionChanges() {
  App.SessionNotify = RegisterForThisSession();
  // Called before the services of Remote Desktop are up, as a start by the Run value
  // early at log-on can be, the registration fails with this error until they are.
  if (!App.SessionNotify && GetLastError() == RPC_S_INVALID_BINDING) AwaitSessionServices();
}

LRESULT OnSessionServicesReady() {
  StopAwaitingSessionServices();
  // Once: a second refusal leaves the session's changes unheard.
  if (!App.SessionNotify) App.SessionNotify = RegisterForThisSession();
  return 0;
}

void ReleaseActivityRegistrations() {
  StopAwaitingSessionServices();
  if (App.UsbDeviceNotify) UnregisterDeviceNotification(App.UsbDeviceNotify);
  if (App.HubNotify) UnregisterDeviceNotification(App.HubNotify);
  if (App.PowerNotify) UnregisterPowerSettingNotification(App.PowerNotify);
  if (App.DisplayNotify) UnregisterPowerSettingNotification(App.DisplayNotify);
  if (App.SessionNotify && Sys.WTSUnRegisterSessionNotification) Sys.WTSUnRegisterSessionNotification(App.Window);
  App.UsbDeviceNotify = nullptr;
  App.HubNotify = nullptr;
  App.PowerNotify = nullptr;
  App.DisplayNotify = nullptr;
  App.SessionNotify = false;
}

bool SessionHasTheConsole() {
  DWORD own = 0;
  const bool known = ProcessIdToSessionId(GetCurrentProcessId(), &own) != FALSE;
  return SessionDrivesKeyboard(known, own, WTSGetActiveConsoleSessionId());
}

bool RunsInServicesSession() {
  DWORD own = 0;
  const bool known = ProcessIdToSessionId(GetCurrentProcessId(), &own) != FALSE;
  return ResidentPlaceFor(known, own, WTSGetActiveConsoleSessionId()) != ResidentPlace::Here;
}

void StartLockPoll() {
  App.LockBits = ReadLockKeyBits();
  App.LockPollStarted = true;
  ArmLockPoll(WindowTimers());
}

void OnLockPoll() {
  BYTE bits = ReadLockKeyBits();
  if (bits == App.LockBits) return;
  NudgeAndRead();
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
  if (IsKeyboardInterfacePath(reinterpret_cast<const WCHAR*>(name), length)) {
    RefreshEndpointMute();
    StartKeyboardArrivalResync(WindowTimers());
  }
  return 0;
}

LRESULT OnPowerBroadcast(WPARAM event, LPARAM setting) {
  // Sent at every resume, whether or not a user is present; a closed lid still
  // silences the period it opens.
  if (event == PBT_APMRESUMEAUTOMATIC) {
    ResyncAfterSystemChange();
    return 0;
  }
  if (event != PBT_POWERSETTINGCHANGE || !setting) return 0;
  auto* record = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
  size_t available = offsetof(POWERBROADCAST_SETTING, Data) + record->DataLength;
  switch (DecodePowerSetting(reinterpret_cast<const unsigned char*>(record), available)) {
    case PowerSetting::LidOpen:
      App.LidClosed = 0;
      // The state is kept, the command not sent, while another session has the console.
      if (SessionHasTheConsole()) SendKeyboardFeature(FEATURE_CMD_LID, 0);
      // The closed lid stopped the poll; without a restart lock keys would stay deaf.
      if (App.LockPollStarted) StartLockPoll();
      // A period that a resume or the display opened while the lid was closed died at
      // its first tick. Windows does not say in which order the three arrive, so the
      // opening lid opens a period of its own.
      ResyncAfterSystemChange();
      break;
    case PowerSetting::LidClosed:
      App.LidClosed = 1;
      if (SessionHasTheConsole()) SendKeyboardFeature(FEATURE_CMD_LID, 1);
      StopResyncForClosedLid(WindowTimers());
      break;
    case PowerSetting::DisplayOn: ResyncAfterSystemChange(); break;
    case PowerSetting::Other: break;
  }
  return 0;
}

LRESULT OnSessionChange(WPARAM event) {
  if (SessionChangeResyncs(event)) ResyncAfterSystemChange();
  return 0;
}

LRESULT OnCheckQuery() {
  // A trigger like any other: a resident that lost the audio service binds afresh
  // here, and the answer is the state after that.
  ResyncAfterSystemChange();
  ResidentAnswer answer = {};
  answer.FollowsOutput = EndpointWatched();
  answer.DrivesKeyboard = SessionHasTheConsole();
  answer.LidClosed = App.LidClosed != 0;
  answer.Muted = App.Mute != 0;
  answer.Sent = App.MuteSent;
  answer.Accepted = App.MuteSentAccepted;
  answer.SentSecondsAgo = (GetTickCount() - App.MuteSentTick) / 1000;
  return PackResidentAnswer(answer);
}
