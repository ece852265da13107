// Device-arrival and power-setting records as Windows hands them to the control
// window, crafted here. Each record ends at a page that may not be read, so any
// read past its end faults.

#include <windows.h>

#include <dbt.h>
#include <stddef.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/activity_sources.h"
#include "app/control_window.h"
#include "check/self_check.h"
#include "common/control_ids.h"
#include "common/system_functions.h"
#include "inprocess_support.h"
#include "program_driver.h"

namespace {

// A record of SIZE bytes placed right before an inaccessible page.
class GuardedRecord {
 public:
  explicit GuardedRecord(size_t size) : size_(size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, page_ * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    if (base_) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
  }
  GuardedRecord(GuardedRecord&& other) noexcept : size_(other.size_), page_(other.page_), base_(other.base_) {
    other.base_ = nullptr;
  }
  GuardedRecord(const GuardedRecord&) = delete;
  GuardedRecord& operator=(const GuardedRecord&) = delete;
  ~GuardedRecord() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  BYTE* data() { return base_ + page_ - size_; }
  LPARAM lparam() { return reinterpret_cast<LPARAM>(data()); }

 private:
  size_t size_;
  size_t page_ = 0;
  BYTE* base_ = nullptr;
};

GuardedRecord InterfaceArrival(const std::wstring& name, bool terminated) {
  size_t units = name.size() + (terminated ? 1 : 0);
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + units * sizeof(WCHAR);
  GuardedRecord record(size);
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  broadcast->dbcc_size = static_cast<DWORD>(size);
  broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  broadcast->dbcc_reserved = 0;
  memcpy(broadcast->dbcc_name, name.c_str(), units * sizeof(WCHAR));
  return record;
}

std::wstring KeyboardPath(const wchar_t* vidPid) {
  return std::wstring(L"\\\\?\\USB#") + vidPid + L"#5&2a1b3c4d&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

std::wstring Hex4(unsigned value, bool lower) {
  wchar_t text[5];
  wsprintfW(text, lower ? L"%04x" : L"%04X", value);
  return text;
}

using DeviceArrival = ControlWindowTest;

TEST_F(DeviceArrival, OnlyTheKeyboardsInterfaceOpensAPeriod) {
  const std::wstring vid = Hex4(corvane::kKeyboardVendorId, false);
  const std::wstring pid = Hex4(corvane::kKeyboardProductId, false);
  const std::wstring VID = Hex4(corvane::kKeyboardVendorId, true);
  const std::wstring PID = Hex4(corvane::kKeyboardProductId, true);
  const std::wstring otherPid = Hex4(corvane::kKeyboardProductId ^ 0x0101, true);
  struct Case {
    std::wstring path;
    bool terminated;
    bool keyboard;
  } cases[] = {
      {KeyboardPath((L"VID_" + VID + L"&PID_" + PID).c_str()), true, true},
      {KeyboardPath((L"vid_" + vid + L"&pid_" + pid).c_str()), true, true},
      {KeyboardPath((L"VID_" + VID + L"&MI_00&PID_" + PID).c_str()), true, true},
      {KeyboardPath((L"VID_" + VID + L"&PID_" + PID).c_str()), false, true},
      {KeyboardPath((L"VID_" + VID + L"&PID_" + otherPid).c_str()), true, false},
      {L"\\\\?\\USB#VID_" + VID + L"&PID_" + PID, true, true},
      {L"\\\\?\\USBVID_" + VID + L"&PID_" + PID, true, false},
      // The identifiers beyond the first 259 characters are not looked at.
      {L"\\\\?\\" + std::wstring(300, L'X') + L"#VID_" + VID + L"&PID_" + PID, true, false},
      {L"\\\\?\\" + std::wstring(2000, L'Y'), false, false},
      {L"", true, false},
  };
  for (const Case& c : cases) {
    GuardedRecord record = InterfaceArrival(c.path, c.terminated);
    EXPECT_EQ(SendMessageW(App.Window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, record.lparam()), 0);
    std::string shown(c.path.begin(), c.path.begin() + (c.path.size() < 80 ? c.path.size() : 80));
    EXPECT_EQ(TimerPending(TIMER_RESEND), c.keyboard) << shown;
    EXPECT_EQ(TimerPending(TIMER_WINDOW_END), c.keyboard) << shown;
  }
}

TEST_F(DeviceArrival, RemovalAndBroadcastsWithoutAnInterfaceNameAreSkipped) {
  const std::wstring path = KeyboardPath((L"VID_" + Hex4(corvane::kKeyboardVendorId, true) + L"&PID_" +
                                          Hex4(corvane::kKeyboardProductId, true)).c_str());
  GuardedRecord removal = InterfaceArrival(path, true);
  SendMessageW(App.Window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, removal.lparam());

  GuardedRecord volume(sizeof(DEV_BROADCAST_VOLUME));
  auto* volumeRecord = reinterpret_cast<DEV_BROADCAST_VOLUME*>(volume.data());
  volumeRecord->dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
  volumeRecord->dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volumeRecord->dbcv_unitmask = 1u << 4;
  SendMessageW(App.Window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, volume.lparam());

  // A port record has a name of its own, which must not be taken for an interface path.
  std::wstring port = L"COM3";
  size_t portSize = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (port.size() + 1) * sizeof(WCHAR);
  GuardedRecord portRecord(portSize);
  auto* portBroadcast = reinterpret_cast<DEV_BROADCAST_PORT_W*>(portRecord.data());
  portBroadcast->dbcp_size = static_cast<DWORD>(portSize);
  portBroadcast->dbcp_devicetype = DBT_DEVTYP_PORT;
  memcpy(portBroadcast->dbcp_name, port.c_str(), (port.size() + 1) * sizeof(WCHAR));
  SendMessageW(App.Window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, portRecord.lparam());

  SendMessageW(App.Window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
  EXPECT_FALSE(TimerPending(TIMER_WINDOW_END));
}

GuardedRecord SettingRecord(const GUID& setting, const void* data, DWORD length) {
  size_t size = offsetof(POWERBROADCAST_SETTING, Data) + length;
  GuardedRecord record(size);
  auto* broadcast = reinterpret_cast<POWERBROADCAST_SETTING*>(record.data());
  broadcast->PowerSetting = setting;
  broadcast->DataLength = length;
  memcpy(broadcast->Data, data, length);
  return record;
}

const GUID kLidSwitch = {0xba3e0f4d, 0xb817, 0x4094, {0xa2, 0xd1, 0xd5, 0x63, 0x79, 0xe6, 0xa0, 0xf3}};
const GUID kDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

using LidSwitch = ControlWindowTest;

// What the window asked to be told of; Wine takes any flags and filter, Windows does not.
std::vector<std::string> Registrations;
HWND RegisteredWindow(HANDLE recipient) { return static_cast<HWND>(recipient); }

std::string GuidText(const GUID& guid) {
  char text[40];
  wsprintfA(text, "%08lx-%04x", guid.Data1, guid.Data2);
  return text;
}

HDEVNOTIFY WINAPI RecordDeviceRegistration(HANDLE recipient, LPVOID filter, DWORD flags) {
  const auto* interfaceFilter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
  char text[96];
  wsprintfA(text, "device type %lu size %s flags %lu", interfaceFilter->dbcc_devicetype,
            interfaceFilter->dbcc_size == sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ? "ok" : "wrong", flags);
  Registrations.push_back(std::string(text) + " class " + GuidText(interfaceFilter->dbcc_classguid) +
                          (RegisteredWindow(recipient) == App.Window ? " to the window" : " elsewhere"));
  return reinterpret_cast<HDEVNOTIFY>(Registrations.size());
}

HPOWERNOTIFY WINAPI RecordPowerRegistration(HANDLE recipient, LPCGUID setting, DWORD flags) {
  Registrations.push_back("power setting " + GuidText(*setting) + " flags " + std::to_string(flags) +
                          (RegisteredWindow(recipient) == App.Window ? " to the window" : " elsewhere"));
  return reinterpret_cast<HPOWERNOTIFY>(Registrations.size());
}

BOOL WINAPI ForgetRegistration(HANDLE) { return TRUE; }

// The first is refused, as before the session services are up early at log-on.
int SessionRegistrations = 0;
BOOL WINAPI RecordSessionRegistration(HWND window, DWORD flags) {
  Registrations.push_back("sessions flags " + std::to_string(flags) +
                          (window == App.Window ? " to the window" : " elsewhere"));
  SetLastError(RPC_S_INVALID_BINDING);
  return ++SessionRegistrations > 1;
}

BOOL WINAPI RecordSessionRelease(HWND window) {
  Registrations.push_back(window == App.Window ? "sessions released by the window" : "sessions released elsewhere");
  return TRUE;
}

// The window created anew with recorders in front of the registration calls.
TEST_F(LidSwitch, CreationAsksForUsbArrivalsAndPowerSettingsAsMessagesToTheWindow) {
  ASSERT_TRUE(DestroyWindow(App.Window));
  const struct {
    const char* function;
    void** slot;
    void* recorder;
  } recorders[] = {
      {"RegisterDeviceNotificationW", ImportSlot("user32.dll", "RegisterDeviceNotificationW"),
       reinterpret_cast<void*>(&RecordDeviceRegistration)},
      {"RegisterPowerSettingNotification", ImportSlot("user32.dll", "RegisterPowerSettingNotification"),
       reinterpret_cast<void*>(&RecordPowerRegistration)},
      {"UnregisterDeviceNotification", ImportSlot("user32.dll", "UnregisterDeviceNotification"),
       reinterpret_cast<void*>(&ForgetRegistration)},
      {"UnregisterPowerSettingNotification", ImportSlot("user32.dll", "UnregisterPowerSettingNotification"),
       reinterpret_cast<void*>(&ForgetRegistration)},
      // Wine ignores the scope and keeps no registration to release.
      {"WTSRegisterSessionNotification", reinterpret_cast<void**>(&Sys.WTSRegisterSessionNotification),
       reinterpret_cast<void*>(&RecordSessionRegistration)},
      {"WTSUnRegisterSessionNotification", reinterpret_cast<void**>(&Sys.WTSUnRegisterSessionNotification),
       reinterpret_cast<void*>(&RecordSessionRelease)}};
  void* real[ARRAYSIZE(recorders)];
  for (size_t i = 0; i < ARRAYSIZE(recorders); ++i) {
    ASSERT_TRUE(recorders[i].slot && *recorders[i].slot) << recorders[i].function;
    real[i] = *recorders[i].slot;
    WriteSlot(recorders[i].slot, recorders[i].recorder);
  }
  Registrations.clear();
  SessionRegistrations = 0;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"Global\\TermSrvReadyEvent");
  const bool created = ready && CreateMainWindow(GetModuleHandleW(nullptr));
  if (created) Registrations.push_back("session services ready");
  if (created) SetEvent(ready);
  MSG message;
  for (const DWORD start = GetTickCount();
       created && Registrations.back() == "session services ready" && GetTickCount() - start < 5000;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    if (PeekMessageW(&message, App.Window, WM_SESSION_SERVICES_READY, WM_SESSION_SERVICES_READY, PM_REMOVE))
      DispatchMessageW(&message);
  }
  if (created) DestroyWindow(App.Window);
  if (ready) CloseHandle(ready);
  for (size_t i = 0; i < ARRAYSIZE(recorders); ++i) WriteSlot(recorders[i].slot, real[i]);
  ASSERT_TRUE(created);
  const std::vector<std::string> expected = {
      "device type 5 size ok flags 0 class a5dcbf10-6530 to the window",
      "device type 5 size ok flags 0 class f18a0e88-c30c to the window",
      "power setting ba3e0f4d-b817 flags 0 to the window",  // the lid switch
      "power setting 6fe69556-704a flags 0 to the window",  // the console's display
      "sessions flags 0 to the window",                     // NOTIFY_FOR_THIS_SESSION, refused
      "session services ready",                             // the test sets their event
      "sessions flags 0 to the window",
      "sessions released by the window",
  };
  EXPECT_EQ(Registrations, expected);
}

TEST_F(LidSwitch, ClosingTellsTheKeyboardAndStopsThePeriodAndThePoll) {
  for (DWORD value : {0u, 2u}) {  // anything but 1 is a closed lid
    App.LidClosed = 0;
    for (UINT_PTR id : {TIMER_RESEND, TIMER_WINDOW_END, TIMER_LOCK_POLL}) SetTimer(App.Window, id, 60000, nullptr);
    GuardedRecord record = SettingRecord(kLidSwitch, &value, sizeof(value));
    EXPECT_EQ(SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, record.lparam()), 0);
    EXPECT_EQ(App.LidClosed, 1u);
    EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a2 01 00 00 00 00 00 00")) << value;
    EXPECT_FALSE(TimerPending(TIMER_RESEND));
    EXPECT_FALSE(TimerPending(TIMER_WINDOW_END));
    EXPECT_FALSE(TimerPending(TIMER_LOCK_POLL));
    reportsBefore_ += NewReports().size();
  }
}

TEST_F(LidSwitch, OpeningTellsTheKeyboardAndRestartsAPollThatHadRun) {
  App.LidClosed = 1;
  App.LockPollStarted = true;
  DWORD open = 1;
  GuardedRecord record = SettingRecord(kLidSwitch, &open, sizeof(open));
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, record.lparam());
  EXPECT_EQ(App.LidClosed, 0u);
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a2 00 00 00 00 00 00 00"));
  EXPECT_TRUE(TimerPending(TIMER_LOCK_POLL));
  EXPECT_TRUE(TimerPending(TIMER_RESEND)) << "opening opens a period";
}

// Where the lid's state comes beside resume and the display is not documented: in
// every order, each resend tick after the lid opened sends, none before.
TEST_F(LidSwitch, InEveryOrderOfResumeDisplayOnAndOpeningTheLightFollowsOnceTheLidIsOpen) {
  DWORD on = 1, open = 1, closed = 0;
  GuardedRecord displayOn = SettingRecord(kDisplayState, &on, sizeof(on));
  GuardedRecord opened = SettingRecord(kLidSwitch, &open, sizeof(open));
  GuardedRecord shut = SettingRecord(kLidSwitch, &closed, sizeof(closed));
  const LPARAM events[][2] = {{PBT_APMRESUMEAUTOMATIC, 0}, {PBT_POWERSETTINGCHANGE, displayOn.lparam()},
                              {PBT_POWERSETTINGCHANGE, opened.lparam()}};
  int order[] = {0, 1, 2};
  do {
    SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, shut.lparam());
    std::vector<bool> sent, expected;
    for (int event : order) {
      SendMessageW(App.Window, WM_POWERBROADCAST, events[event][0], events[event][1]);
      expected.push_back(App.LidClosed == 0);
      const std::vector<std::string> before = NewReports();
      // The tick as the timer would bring it.
      if (TimerPending(TIMER_RESEND)) SendMessageW(App.Window, WM_TIMER, TIMER_RESEND, 0);
      Deliver(TakePosted());
      const std::vector<std::string> after = NewReports();
      sent.push_back(std::any_of(after.begin() + before.size(), after.end(),
                                 [](const std::string& report) { return report.find(": 00 a1 ") != std::string::npos; }));
    }
    EXPECT_EQ(sent, expected) << "order " << order[0] << order[1] << order[2];
  } while (std::next_permutation(order, order + 3));
}

DWORD WINAPI AnotherSessionAtTheConsole() {
  DWORD own = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &own);
  return own + 1;
}

// Wine has one session: the console is given to another one (a switched user), whose
// user the keyboard now serves. The states are kept, nothing is sent.
TEST_F(LidSwitch, WhileAnotherSessionHasTheConsoleStatesAreKeptAndNothingIsSent) {
  void** slot = ImportSlot("kernel32.dll", "WTSGetActiveConsoleSessionId");
  ASSERT_NE(slot, nullptr);
  void* real = *slot;
  WriteSlot(slot, reinterpret_cast<void*>(&AnotherSessionAtTheConsole));
  SendMessageW(App.Window, WM_MUTE_STATE, 1, 0);
  DWORD open = 1, closed = 0;
  GuardedRecord opened = SettingRecord(kLidSwitch, &open, sizeof(open));
  GuardedRecord shut = SettingRecord(kLidSwitch, &closed, sizeof(closed));
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, opened.lparam());
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, shut.lparam());
  EXPECT_EQ(RunSelfCheck(GetModuleHandleW(nullptr)), 1) << "nor does the self-check send from here";
  WriteSlot(slot, real);
  EXPECT_EQ(App.Mute, 1u);
  EXPECT_EQ(App.LidClosed, 1u);
  EXPECT_TRUE(NewReports().empty());
}

TEST_F(LidSwitch, OtherSettingsShortDataAndOtherPowerEventsAreIgnored) {
  DWORD closed = 0;
  GuardedRecord other = SettingRecord(kDisplayState, &closed, sizeof(closed));
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, other.lparam());
  GuardedRecord shortData = SettingRecord(kLidSwitch, &closed, 2);
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, shortData.lparam());
  GuardedRecord lid = SettingRecord(kLidSwitch, &closed, sizeof(closed));
  SendMessageW(App.Window, WM_POWERBROADCAST, PBT_APMSUSPEND, lid.lparam());
  EXPECT_EQ(App.LidClosed, 0u);
  EXPECT_TRUE(NewReports().empty());
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
}

using SystemChanges = ControlWindowTest;

// Each change after which the keyboard may show an old state opens a period: the
// first send 200 ms later, the period 19 s long. Locking, a remote connection and
// the display going off open none.
TEST_F(SystemChanges, ResumeDisplayOnConsoleConnectAndUnlockOpenAPeriod) {
  DWORD on = 1;
  DWORD off = 0;
  GuardedRecord displayOn = SettingRecord(kDisplayState, &on, sizeof(on));
  GuardedRecord displayOff = SettingRecord(kDisplayState, &off, sizeof(off));
  struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool opens;
  } cases[] = {
      {"resume", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, true},
      {"display on", WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, displayOn.lparam(), true},
      {"display off", WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, displayOff.lparam(), false},
      {"console connect", WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 1, true},
      {"unlock", WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 1, true},
      {"lock", WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1, false},
      {"remote connect", WM_WTSSESSION_CHANGE, WTS_REMOTE_CONNECT, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SendMessageW(App.Window, c.message, c.wParam, c.lParam), 0) << c.what;
    EXPECT_EQ(TimerPending(TIMER_RESEND), c.opens) << c.what;
    EXPECT_EQ(TimerPending(TIMER_WINDOW_END), c.opens) << c.what;
  }
  EXPECT_TRUE(NewReports().empty()) << "the period's first send comes from its timer";
}

// Raw input as Windows hands it over, from a double of the two calls that read
// it: the input handle stands for its device, 1 the keyboard, 2 another keyboard.
UINT WINAPI InputOfDevice(HRAWINPUT input, UINT command, LPVOID data, PUINT size, UINT headerSize) {
  const UINT whole = sizeof(RAWINPUTHEADER) + sizeof(RAWKEYBOARD);
  if (headerSize != sizeof(RAWINPUTHEADER) || (command != RID_HEADER && command != RID_INPUT)) return UINT(-1);
  const UINT wanted = command == RID_HEADER ? sizeof(RAWINPUTHEADER) : whole;
  if (!data) {
    *size = wanted;
    return 0;
  }
  if (*size < wanted) return UINT(-1);
  RAWINPUT record = {};
  record.header = {RIM_TYPEKEYBOARD, whole, reinterpret_cast<HANDLE>(input), RIM_INPUTSINK};
  memcpy(data, &record, wanted);
  return wanted;
}

UINT WINAPI InfoOfDevice(HANDLE device, UINT command, LPVOID data, PUINT size) {
  if (command != RIDI_DEVICENAME) {
    // What any other question answers: a record of the device, never its name.
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    info.dwType = RIM_TYPEKEYBOARD;
    if (!data || *size < sizeof info) return UINT(-1);
    memcpy(data, &info, sizeof info);
    return sizeof info;
  }
  wchar_t name[128];
  const unsigned vendor = device == reinterpret_cast<HANDLE>(1) ? corvane::kKeyboardVendorId : corvane::kKeyboardVendorId ^ 0x5A5A;
  wsprintfW(name, L"\\\\?\\HID#VID_%04X&PID_%04X&MI_00#7&1a2b3c4d&0&0000#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}",
            vendor, corvane::kKeyboardProductId);
  const UINT length = static_cast<UINT>(lstrlenW(name)) + 1;
  if (!data || *size < length) {
    *size = length;
    return UINT(-1);
  }
  lstrcpyW(static_cast<wchar_t*>(data), name);
  return length;
}

using KeyboardInput = ControlWindowTest;

// Only the keyboard's input counts, recognised by the device name Windows gives.
TEST_F(KeyboardInput, OnlyTheKeyboardsInputOpensAPeriod) {
  void** dataSlot = ImportSlot("user32.dll", "GetRawInputData");
  void** infoSlot = ImportSlot("user32.dll", "GetRawInputDeviceInfoW");
  ASSERT_TRUE(dataSlot && infoSlot);
  void* realData = *dataSlot;
  void* realInfo = *infoSlot;
  WriteSlot(dataSlot, reinterpret_cast<void*>(&InputOfDevice));
  WriteSlot(infoSlot, reinterpret_cast<void*>(&InfoOfDevice));
  std::vector<bool> opened;
  for (LPARAM device : {2, 1}) {
    OnDeviceChange(DBT_DEVNODES_CHANGED, 0);  // forget what the devices were
    OnRawInput(device);
    opened.push_back(TimerPending(TIMER_WINDOW_END));
  }
  WriteSlot(dataSlot, realData);
  WriteSlot(infoSlot, realInfo);
  EXPECT_EQ(opened, (std::vector<bool>{false, true}));
}

using LockKeys = ControlWindowTest;

// Through the window's own timer: the poll that sees the toggle nudges (arming the
// period's end), and the polls after it, seeing the same state, do not.
TEST_F(LockKeys, OnlyThePollRightAfterAToggleNudges) {
  StartLockPoll();  // as the start-up read of the mute state does
  BYTE keys[256];
  ASSERT_TRUE(GetKeyboardState(keys));
  keys[VK_CAPITAL] ^= 1;
  ASSERT_TRUE(SetKeyboardState(keys));

  std::vector<bool> nudged;
  const DWORD start = GetTickCount();
  MSG message;
  while (nudged.size() < 5 && GetTickCount() - start < 5000) {
    if (!PeekMessageW(&message, App.Window, 0, 0, PM_REMOVE)) {
      Sleep(10);
      continue;
    }
    DispatchMessageW(&message);
    if (message.message == WM_TIMER && message.wParam == TIMER_LOCK_POLL) {
      nudged.push_back(TimerPending(TIMER_WINDOW_END));
    }
  }
  keys[VK_CAPITAL] ^= 1;
  SetKeyboardState(keys);
  EXPECT_EQ(nudged, (std::vector<bool>{true, false, false, false, false}));
}

}  // namespace
