// The control window's own handlers: the mute state, the timers, commands and
// the end of the loop.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/control_ids.h"
#include "inprocess_support.h"
#include "registration/install_record_values.h"
#include "uninstall/uninstall.h"
#include "res/resource.h"

namespace {

using ControlWindow = ControlWindowTest;

TEST_F(ControlWindow, MuteStateIsStoredSentToEveryKeyboardInterfaceAndStamped) {
  App.LastActivityTick = GetTickCount() - 60000;
  DWORD before = GetTickCount();
  SendMessageW(App.Window, WM_MUTE_STATE, 1, 0);
  EXPECT_EQ(App.Mute, 1u);
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a1 01 00 00 00 00 00 00"));
  EXPECT_LE(App.LastActivityTick - before, GetTickCount() - before);

  reportsBefore_ += NewReports().size();
  SendMessageW(App.Window, WM_MUTE_STATE, 0, 0);
  EXPECT_EQ(App.Mute, 0u);
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a1 00 00 00 00 00 00 00"));
}

TEST_F(ControlWindow, ClosedLidOnlyStoresTheMuteState) {
  App.LidClosed = 1;
  App.LastActivityTick = 12345;
  SendMessageW(App.Window, WM_MUTE_STATE, 1, 0);
  EXPECT_EQ(App.Mute, 1u);
  EXPECT_TRUE(NewReports().empty());
  EXPECT_EQ(App.LastActivityTick, 12345u);
}

// The uninstall entry gets a subkey, which the entry's deletion refuses: the
// record stays, so RunUninstall ends with quit code 1 and starts no command that
// would delete this test program.
TEST_F(ControlWindow, UninstallThatKeepsTheRecordQuitsWith1AndThenSendsNothing) {
  const std::wstring part = std::wstring(UNINSTALL_KEY) + L"\\Part";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, part.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  PostMessageW(App.Window, WM_MUTE_STATE, 1, 0);  // still queued when the last report goes out

  RunUninstall();
  // PeekMessageW returns WM_QUIT whatever its filter.
  const std::vector<PostedMessage> posted = TakePosted();
  const std::vector<PostedMessage> expected = {{WM_MUTE_STATE, 1}, {WM_QUIT, 1}};
  ASSERT_EQ(posted, expected);
  Deliver({posted.front()});
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a1 00 00 00 00 00 00 00"));

  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, part.c_str(), KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
}

TEST_F(ControlWindow, ResendTimerPostsTheStoredStateAndRearmsItself) {
  App.Mute = 1;
  SendMessageW(App.Window, WM_TIMER, TIMER_RESEND, 0);
  std::vector<PostedMessage> expected = {{WM_MUTE_STATE, 1}};
  EXPECT_EQ(TakePosted(), expected);
  EXPECT_TRUE(TimerPending(TIMER_RESEND));
}

TEST_F(ControlWindow, ClosedLidKillsTheResyncTimersUnfiredButNotTheOthers) {
  App.LidClosed = 1;
  for (UINT_PTR id : {TIMER_RESEND, TIMER_WINDOW_END, TIMER_LOCK_POLL, TIMER_REACQUIRE}) {
    SetTimer(App.Window, id, 60000, nullptr);
    SendMessageW(App.Window, WM_TIMER, id, 0);
  }
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
  EXPECT_FALSE(TimerPending(TIMER_WINDOW_END));
  EXPECT_FALSE(TimerPending(TIMER_LOCK_POLL));
  // The re-acquire timer still fires: it is killed and the re-bind is asked for.
  std::vector<PostedMessage> expected = {{WM_ENDPOINT_REACQUIRE, 0}};
  EXPECT_EQ(TakePosted(), expected);
  EXPECT_FALSE(TimerPending(TIMER_REACQUIRE));
  EXPECT_TRUE(NewReports().empty());
}

TEST_F(ControlWindow, FailedRebindLeavesTheTimersAsTheyWere) {
  // No endpoint enumerator in this window, and no COM on this thread for a new one: the re-bind fails.
  SendMessageW(App.Window, WM_ENDPOINT_REACQUIRE, 0, 0);
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
  EXPECT_FALSE(TimerPending(TIMER_WINDOW_END));
}

std::string Describe(const RAWINPUTDEVICE& device, HWND window) {
  char text[80];
  wsprintfA(text, "%04x/%02x flags %lx %s", device.usUsagePage, device.usUsage, device.dwFlags,
            device.hwndTarget == window ? "to the window" : "elsewhere");
  return text;
}

// The window is never in the foreground: without input sinks aimed at it no key would count.
TEST_F(ControlWindow, CreationRegistersRawInputSinksButWithoutAStateNoTimer) {
  RAWINPUTDEVICE devices[8];
  UINT capacity = ARRAYSIZE(devices);
  UINT count = GetRegisteredRawInputDevices(devices, &capacity, sizeof devices[0]);
  ASSERT_NE(count, static_cast<UINT>(-1)) << GetLastError();
  std::vector<std::string> registered;
  for (UINT i = 0; i < count; ++i) registered.push_back(Describe(devices[i], App.Window));
  std::sort(registered.begin(), registered.end());
  const std::vector<std::string> expected = {"0001/02 flags 100 to the window", "0001/06 flags 100 to the window",
                                             "000c/01 flags 100 to the window", "ff00/01 flags 100 to the window"};
  EXPECT_EQ(registered, expected);

  // The fixture's window was created without an endpoint.
  EXPECT_EQ(App.Mute, 0u);
  EXPECT_FALSE(TimerPending(TIMER_RESEND));
  EXPECT_FALSE(TimerPending(TIMER_WINDOW_END));
  EXPECT_FALSE(TimerPending(TIMER_LOCK_POLL));
}

TEST_F(ControlWindow, ExitCommandAndCloseEndTheLoop) {
  for (UINT message : {WM_COMMAND, WM_CLOSE}) {
    if (message == WM_COMMAND)
      SendMessageW(App.Window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    else
      SendMessageW(App.Window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(App.Window));
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
    if (message == WM_COMMAND) {
      TearDown();
      SetUp();
    }
  }
}

// Raw input is cleaned up only in the default procedure, so its answer is the window's.
TEST_F(ControlWindow, RawInputAndOtherCommandsGoToTheDefaultProcedure) {
  DefaultProcedureCalls calls;
  ASSERT_TRUE(calls.Installed()) << "no import of DefWindowProcW in this program";
  EXPECT_EQ(SendMessageW(App.Window, WM_INPUT, RIM_INPUTSINK, 0), DefaultProcedureCalls::kAnswer);
  EXPECT_EQ(SendMessageW(App.Window, WM_COMMAND, MAKEWPARAM(999, 0), 0), DefaultProcedureCalls::kAnswer);
  EXPECT_EQ(calls.Messages(), (std::vector<UINT>{WM_INPUT, WM_COMMAND}));
  EXPECT_TRUE(IsWindow(App.Window));
}

}  // namespace
