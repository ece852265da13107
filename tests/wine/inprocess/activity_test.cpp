// Device-arrival and power-setting records as Windows hands them to the control
// window, crafted here. Each record ends at a page that may not be read, so any
// read past its end faults.

#include <windows.h>

#include <dbt.h>
#include <stddef.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "app/activity_sources.h"
#include "common/control_ids.h"
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
  // Opening starts no period by itself.
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
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
