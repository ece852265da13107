// Corvane.exe as a whole, on the virtual keyboard and audio endpoint: changes
// made by other applications reach every interface of the keyboard, one
// instance stays resident, start-up failures are reported, and every way of
// ending the program runs its teardown.
//
// The program also sends the state on its own (about 100 ms after start, then
// every 5 s for 19 s), so the assertions look for the report that follows a
// change rather than counting all reports.

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>

#include "program_test.h"

namespace corvane {
namespace {

constexpr UINT kCommandExit = 105;

class CoreTest : public ProgramTest {
 protected:
  // No report at all went to a device other than the keyboard, and every report was accepted.
  void ExpectOnlyKeyboardReports() {
    for (const vdev::Report& report : vdev::ReadReports(dir_)) {
      EXPECT_EQ(std::count(keyboard_.begin(), keyboard_.end(), report.interfaceName), 1)
          << "report to " << report.interfaceName << ": " << vdev::HexBytes(report.bytes);
      EXPECT_EQ(report.result, "ok") << report.interfaceName << ": " << vdev::HexBytes(report.bytes);
    }
  }

  // The foreign devices were looked at (so "no report" means something).
  void ExpectForeignDevicesExamined() {
    for (const std::string& name : foreign_) {
      bool examined = false;
      for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog)) {
        examined = examined || (entry.event == "attributes" && entry.fields.at(0) == name);
      }
      EXPECT_TRUE(examined) << name << " was never asked for its attributes";
    }
  }

  void ExpectTeardown(DWORD pid) {
    std::vector<std::string> events;
    for (const vdev::LogEntry& entry : AudioEventsOf(dir_, pid)) {
      if (entry.event == "unregister-control-change-notify" || entry.event == "last-release") {
        events.push_back(entry.event + (entry.fields.empty() ? "" : " " + entry.fields[0]));
      }
    }
    auto position = [&](const std::string& event) { return std::find(events.begin(), events.end(), event); };
    auto unregister = position("unregister-control-change-notify 00000000");
    auto enumerator = position("last-release enumerator");
    ASSERT_NE(unregister, events.end()) << "volume callback not unregistered";
    ASSERT_NE(enumerator, events.end()) << "enumerator not released";
    EXPECT_LT(unregister, enumerator) << "callback unregistered after the enumerator was released";
    // Each object that was handed out, by a bind or a re-bind, was let go of once.
    std::map<std::string, int> acquired;
    std::map<std::string, int> released;
    for (const vdev::LogEntry& entry : AudioEventsOf(dir_, pid)) {
      const std::string result = entry.fields.empty() ? "" : entry.fields.back();
      if (entry.event == "class-object" && result == "00000000") ++acquired["enumerator"];
      if (entry.event == "get-default-endpoint" && result == "00000000") ++acquired["device"];
      if (entry.event == "activate" && result == "00000000") ++acquired["endpoint-volume"];
      if (entry.event == "last-release") ++released[entry.fields.at(0)];
    }
    EXPECT_EQ(released, acquired) << "objects released and objects acquired, by kind";
  }
};

TEST_F(CoreTest, MuteChangesOfAnotherApplicationReachEveryKeyboardInterfaceOnly) {
  Process resident = StartResident();

  for (bool muted : {true, false, true}) {
    SCOPED_TRACE(muted ? "muted" : "unmuted");
    size_t before = ReportCount();
    ASSERT_TRUE(vdev::SetMute(dir_, muted));
    EXPECT_TRUE(WaitForReportOnEach(dir_, before, resident.pid, keyboard_, MuteReport(muted), 3000))
        << "no " << vdev::HexBytes(MuteReport(muted)) << " on every keyboard interface";
  }

  SendToControlWindow(resident, WM_CLOSE);
  EXPECT_EQ(ExitCodeOf(resident), 0u);
  ExpectOnlyKeyboardReports();
  ExpectForeignDevicesExamined();
}

// A volume change leaves the flag as it is; it is sent all the same. The change
// comes 1.5 s after start, well apart from the program's own sends at 0.1 s and 5.1 s.
TEST_F(CoreTest, VolumeChangeOfAnotherApplicationResendsTheUnchangedMuteFlag) {
  vdev::AudioSetup setup;
  setup.muted = true;
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, setup));
  Process resident = StartResident();
  HWND window = FindControlWindow(resident.pid);
  ASSERT_NE(window, nullptr);
  DWORD windowTick = GetTickCount();
  Sleep(1500);

  size_t before = ReportCount();
  ASSERT_TRUE(vdev::SetVolume(dir_, 0.2f));
  int notify = WaitForAudioEvent(dir_, resident.pid, "notify", {"1"}, 3000);
  ASSERT_GE(notify, 0) << "the double raised no notification";
  ASSERT_TRUE(WaitForReportOnEach(dir_, before, resident.pid, keyboard_, MuteReport(true), 2000));
  DWORD notifyTick = vdev::ReadLog(dir_, vdev::kAudioLog)[notify].tick;
  for (const std::string& name : keyboard_) {
    bool prompt = false;
    for (const vdev::Report& report : vdev::ReadReports(dir_)) {
      prompt = prompt || (report.interfaceName == name && report.tick - notifyTick < 1500 &&
                          report.tick - windowTick < 4500);
    }
    EXPECT_TRUE(prompt) << name << " got no report right after the volume change";
  }
  ExpectOnlyKeyboardReports();
}

// A resident sends thousands of reports a day: every send gives back its device
// set and its handles. Each send here is the window's handling of a sent
// WM_MUTE_STATE, over when the call returns; the handles are the least of three
// counts, so that a send of the period's own timer under way cannot add to them.
TEST_F(CoreTest, ThousandSendsLeaveNoDeviceSetAndNoHandleBehind) {
  constexpr UINT kMuteState = 0x401;
  Process resident = StartResident();
  ASSERT_TRUE(WaitForReportOnEach(dir_, 0, resident.pid, keyboard_, MuteReport(false), 3000));
  DWORD handlesAfter[2] = {};
  for (int round = 0; round < 2; ++round) {
    const int sends = round == 0 ? 10 : 990;
    SCOPED_TRACE(std::to_string(sends) + " more sends");
    for (int i = 0; i < sends; ++i) ASSERT_NO_FATAL_FAILURE(SendToControlWindow(resident, kMuteState, i % 2));
    DWORD least = MAXDWORD;
    for (int sample = 0; sample < 3; ++sample) {
      SendToControlWindow(resident, WM_NULL);
      least = std::min(least, OpenHandleCount(resident));
    }
    handlesAfter[round] = least;
    ASSERT_NE(least, 0u) << "no handle count of the resident";
    std::vector<std::string> sets;
    for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog)) {
      if (entry.pid == resident.pid && entry.event == "device-info-sets") sets = entry.fields;
    }
    ASSERT_EQ(sets.size(), 2u) << "the setupapi double logged no device set";
    EXPECT_GE(std::stoul(sets[0]), round == 0 ? 10ul : 1000ul);
    EXPECT_EQ(sets[0], sets[1]) << "device sets created and destroyed";
  }
  printf("[ handles ] %lu after 10 sends, %lu after 1000\n", handlesAfter[0], handlesAfter[1]);
  EXPECT_EQ(handlesAfter[1], handlesAfter[0]);
}

// While a keyboard interface holds the start-up send, other applications change
// the volume twenty times and then the mute state: the window, busy, folds them
// all into one send of the newest state, which reaches every interface.
TEST_F(CoreTest, BurstWhileASendStallsEndsInOneSendOfTheNewestState) {
  const std::string stalled = keyboard_.back();
  for (vdev::HidInterface& device : interfaces_) {
    if (std::string(device.name.begin(), device.name.end()) == stalled) device.stallMs = 2000;
  }
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
  Process resident = StartResident();
  auto stallBegun = [&] {
    for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog)) {
      if (entry.pid == resident.pid && entry.event == "stall") return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(5000, stallBegun)) << "the start-up send did not reach " << stalled;
  std::string burst;
  for (int i = 1; i <= 20; ++i) burst += "volume 0." + std::to_string(10 + i) + "\n";
  ASSERT_TRUE(vdev::SendAudioCommand(dir_, burst + "mute 1"));
  int muted = WaitForAudioEvent(dir_, resident.pid, "notify", {"1"}, 3000);
  ASSERT_GE(muted, 0);
  EXPECT_TRUE(WaitForReportOnEach(dir_, 0, resident.pid, keyboard_, MuteReport(true), 10000));
  SendToControlWindow(resident, WM_CLOSE);
  EXPECT_EQ(ExitCodeOf(resident), 0u);

  DWORD lastChange = vdev::ReadLog(dir_, vdev::kAudioLog)[muted].tick;
  for (const std::string& name : keyboard_) {
    std::vector<std::string> sent;
    for (const vdev::Report& report : vdev::ReadReports(dir_)) {
      if (report.interfaceName != name) continue;
      sent.push_back(vdev::HexBytes(report.bytes));
      if (name == stalled && sent.size() == 1) {
        ASSERT_LT(static_cast<LONG>(lastChange - report.tick), 0) << "the burst outlasted the stall";
      }
    }
    EXPECT_EQ(sent, (std::vector<std::string>{vdev::HexBytes(MuteReport(false)), vdev::HexBytes(MuteReport(true))}))
        << name;
  }
}

TEST_F(CoreTest, SecondInstanceWithoutArgumentsExitsAfterItsOwnBindAndLeavesTheFirstResident) {
  Process first = StartResident();
  HWND window = FindControlWindow(first.pid);

  Process second = Start();
  EXPECT_EQ(ExitCodeOf(second), 0u);
  EXPECT_GE(WaitForAudioEvent(dir_, second.pid, "get-default-endpoint", {"0", "0", "00000000"}, 0), 0)
      << "the second instance quit before its audio bind";
  EXPECT_TRUE(IsRunning(first));
  EXPECT_EQ(FindControlWindow(first.pid), window);

  size_t before = ReportCount();
  ASSERT_TRUE(vdev::SetMute(dir_, true));
  EXPECT_TRUE(WaitForReportOnEach(dir_, before, first.pid, keyboard_, MuteReport(true), 3000));
  for (const vdev::Report& report : vdev::ReadReports(dir_)) EXPECT_NE(report.pid, second.pid);
}

TEST_F(CoreTest, SecondInstanceWithoutAudioEndpointReportsItAndLeavesTheFirstResident) {
  Process first = StartResident();
  vdev::AudioSetup setup;
  setup.endpointAbsent = true;
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, setup));

  Process second = Start();
  ASSERT_NO_FATAL_FAILURE(ExpectStartupFailure(second, "GetDefaultAudioEndpoint fail!"));
  EXPECT_TRUE(IsRunning(first));
  EXPECT_NE(FindControlWindow(first.pid), nullptr);
}

// "/install" and "/uninstall" take over from a running instance by closing it.
class HandOverTest : public CoreTest, public ::testing::WithParamInterface<const wchar_t*> {
 protected:
  bool Installs() const { return std::wstring(GetParam()) == L"/install"; }

  // An install-mode instance stays resident: ends it past its install step (its
  // Run value written) and removes the record that step made in the prefix.
  void EndInstalledInstance(const Process& process) {
    EXPECT_TRUE(WaitUntil(10000, [] {
      HKEY run;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &run) != ERROR_SUCCESS)
        return false;
      bool written = RegQueryValueExW(run, L"Corvane", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
      RegCloseKey(run);
      return written;
    })) << "no install step";
    EXPECT_TRUE(IsRunning(process));
    SendToControlWindow(process, WM_CLOSE);
    EXPECT_EQ(ExitCodeOf(process), 0u);
    // In the 64-bit view, where the record is, also for the 32-bit build.
    HKEY run;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &run) == ERROR_SUCCESS) {
      RegDeleteValueW(run, L"Corvane");
      RegCloseKey(run);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane",
                    KEY_WOW64_64KEY, 0);
  }
};

// Closed, not only told to quit: its window is gone before the new instance goes on,
// however long its process takes to end (held here), so no one finds it instead.
TEST_P(HandOverTest, RunningInstanceIsClosedAndEndsWithItsTeardown) {
  ASSERT_TRUE(vdev::WriteExitDelay(dir_, 3000));
  Process first = StartResident();
  Process second = Start(GetParam());

  // Install: the new instance is resident; uninstall: it turns the indicator off.
  EXPECT_TRUE(Installs() ? WaitForControlWindow(second.pid, 5000) != nullptr
                         : WaitForReportOnEach(dir_, 0, second.pid, keyboard_, MuteReport(false), 5000));
  EXPECT_EQ(FindControlWindow(first.pid), nullptr) << "the first instance's window outlived the hand-over";
  EXPECT_EQ(ExitCodeOf(first), 0u);
  ExpectTeardown(first.pid);
  if (Installs()) {
    EndInstalledInstance(second);
  } else {
    EXPECT_EQ(ExitCodeOf(second), 0u);
  }
}

// A window of the class that never answers (a hung resident, or another program's)
// holds the new instance up for the send's 5 s limit and the 20 s wait for its
// process, not for ever.
TEST_P(HandOverTest, WindowThatNeverAnswersHoldsTheStartUpOnlyForTheBoundedWaits) {
  constexpr DWORD kBoundMs = 35000;
  UnansweringWindow hung;
  ASSERT_NE(hung.window(), nullptr) << "no window: " << GetLastError();
  Process second = Start(GetParam());
  bool goneOn = Installs() ? WaitForControlWindow(second.pid, kBoundMs) != nullptr
                           : WaitForReportOnEach(dir_, 0, second.pid, keyboard_, MuteReport(false), kBoundMs);
  printf("[ timing ] %s past a window that never answers: %lu ms after CreateProcessW\n",
         Installs() ? "resident" : "indicator off", GetTickCount() - second.startTick);
  ASSERT_TRUE(goneOn) << "still held up after " << kBoundMs << " ms";
  if (Installs()) {
    EndInstalledInstance(second);
  } else {
    EXPECT_EQ(ExitCodeOf(second), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, HandOverTest, ::testing::Values(L"/install", L"/uninstall"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                           return std::string(info.param[1] == L'i' ? "Install" : "Uninstall");
                         });

struct StartupFailure {
  const char* name;
  const char* failStep;  // null: the endpoint is absent
  const wchar_t* arguments;
  const char* text;
  const char* lastStep;  // the audio.log event of the step that failed
};

class StartupFailureTest : public CoreTest, public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(StartupFailureTest, ShowsItsMessageAndExitsWithOne) {
  const StartupFailure& failure = GetParam();
  vdev::AudioSetup setup;
  if (failure.failStep) {
    setup.failSteps = {failure.failStep};
  } else {
    setup.endpointAbsent = true;
  }
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, setup));

  Process process = Start(failure.arguments);
  ASSERT_NO_FATAL_FAILURE(ExpectStartupFailure(process, failure.text));

  std::vector<vdev::LogEntry> events = AudioEventsOf(dir_, process.pid);
  ASSERT_FALSE(events.empty());
  std::vector<std::string> bindSteps;
  for (const vdev::LogEntry& entry : events) {
    if (entry.event == "class-object" || entry.event == "get-default-endpoint" || entry.event == "activate" ||
        entry.event == "register-control-change-notify" || entry.event == "get-mute") {
      bindSteps.push_back(entry.event);
    }
  }
  ASSERT_FALSE(bindSteps.empty());
  EXPECT_EQ(bindSteps.back(), failure.lastStep) << "steps after the failed one were tried";
  EXPECT_TRUE(vdev::ReadReports(dir_).empty()) << "a report was sent";
  EXPECT_NE(GetFileAttributesW(CorvaneCopyPath(dir_).c_str()), INVALID_FILE_ATTRIBUTES)
      << "the program file was deleted";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartupFailureTest,
    ::testing::Values(
        StartupFailure{"NoEnumerator", "class-object", L"", "CoCreateInstance fail!", "class-object"},
        StartupFailure{"NoEndpoint", nullptr, L"", "GetDefaultAudioEndpoint fail!", "get-default-endpoint"},
        StartupFailure{"NoEndpointInstall", nullptr, L"/install", "GetDefaultAudioEndpoint fail!",
                       "get-default-endpoint"},
        StartupFailure{"EndpointFails", "default-endpoint", L"", "GetDefaultAudioEndpoint fail!",
                       "get-default-endpoint"},
        StartupFailure{"ActivateFails", "activate", L"", "Activate fail!", "activate"},
        StartupFailure{"RegisterFails", "register-control-change-notify", L"", "RegisterControlChangeNotify fail!",
                       "register-control-change-notify"}),
    [](const ::testing::TestParamInfo<StartupFailure>& info) { return std::string(info.param.name); });

struct Ending {
  const char* name;
  UINT message;
  WPARAM wParam;
};

class EndingTest : public CoreTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(EndingTest, EndsTheLoopWithTeardownAndExitCodeZero) {
  Process resident = StartResident();
  SendToControlWindow(resident, GetParam().message, GetParam().wParam);
  EXPECT_EQ(ExitCodeOf(resident), 0u);
  ExpectTeardown(resident.pid);
}

INSTANTIATE_TEST_SUITE_P(Messages, EndingTest,
                         ::testing::Values(Ending{"Close", WM_CLOSE, 0},
                                           Ending{"ExitCommand", WM_COMMAND, kCommandExit},
                                           Ending{"DestroyFromInstaller", WM_DESTROY, 0}),
                         [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

struct DefaultChange {
  const char* name;
  int flow;
  int role;
  bool rebinds;
};

class DefaultDeviceTest : public CoreTest, public ::testing::WithParamInterface<DefaultChange> {};

// A new default output (render, console) or communications device (either flow)
// makes the program bind afresh; it then sends the state again.
TEST_P(DefaultDeviceTest, RebindsOnlyForTheOutputOrACommunicationsDevice) {
  const DefaultChange& change = GetParam();
  Process resident = StartResident();
  size_t bindsBefore = 0;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) {
    bindsBefore += entry.event == "get-default-endpoint";
  }
  // Past the start-up send; the next one of the period is 5 s away.
  ASSERT_TRUE(WaitForReportOnEach(dir_, 0, resident.pid, keyboard_, MuteReport(false), 3000));
  size_t reportsBefore = ReportCount();

  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, change.flow, change.role));
  ASSERT_GE(WaitForAudioEvent(dir_, resident.pid, "default-changed", {}, 3000), 0);
  if (change.rebinds) {
    EXPECT_TRUE(WaitForReportOnEach(dir_, reportsBefore, resident.pid, keyboard_, MuteReport(false), 3000));
  } else {
    // The fence: a mute change raised after it on the double's thread. Its period's
    // next send comes 5 s after it, and a re-bind the change armed would run 200 ms
    // after the change: the window arms both in the order they were posted.
    ASSERT_TRUE(vdev::SetMute(dir_, true));
    ASSERT_TRUE(WaitUntil(15000, [&] {
      int muted = 0;
      for (const vdev::Report& report : vdev::ReadReports(dir_))
        muted += report.interfaceName == keyboard_.back() && report.bytes == MuteReport(true);
      return muted >= 2;
    })) << "the mute change and its period's send after 5 s did not arrive";
  }
  size_t binds = 0;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) binds += entry.event == "get-default-endpoint";
  EXPECT_EQ(binds - bindsBefore, change.rebinds ? 1u : 0u);
  if (change.rebinds) {
    // The old endpoint lets go of the callback and the new one has it: changes still arrive.
    EXPECT_GE(WaitForAudioEvent(dir_, resident.pid, "unregister-control-change-notify", {"00000000"}, 0), 0);
    size_t before = ReportCount();
    ASSERT_TRUE(vdev::SetMute(dir_, true));
    EXPECT_TRUE(WaitForReportOnEach(dir_, before, resident.pid, keyboard_, MuteReport(true), 3000));
  }
  SendToControlWindow(resident, WM_CLOSE);
  EXPECT_EQ(ExitCodeOf(resident), 0u);
  ExpectTeardown(resident.pid);
}

INSTANTIATE_TEST_SUITE_P(Roles, DefaultDeviceTest,
                         ::testing::Values(DefaultChange{"RenderCommunications", 0, 2, true},
                                           DefaultChange{"CaptureCommunications", 1, 2, true},
                                           DefaultChange{"RenderConsole", 0, 0, true},
                                           DefaultChange{"RenderMultimedia", 0, 1, false},
                                           DefaultChange{"CaptureMultimedia", 1, 1, false}),
                         [](const ::testing::TestParamInfo<DefaultChange>& info) {
                           return std::string(info.param.name);
                         });

// Started from another folder (where it was downloaded, say), the resident settles
// into its own: the folder it was started in is not held and can be removed.
TEST_F(CoreTest, ResidentHoldsNotTheFolderItWasStartedIn) {
  const std::wstring folder = dir_ + L"\\started-in";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  Process resident;
  ASSERT_TRUE(StartCorvane(dir_, L"", &resident, folder));
  EXPECT_NE(WaitForControlWindow(resident.pid, 20000), nullptr);
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "error " << GetLastError();
  EndProcess(&resident);
}

// "/check" beside a resident: two keyboard interfaces, the second refusing the
// report (a feature report length other than the program's 9 bytes), a foreign
// device and a muted output.
TEST_F(CoreTest, CheckReportsEachKeyboardInterfaceAndLeavesTheResidentAlone) {
  interfaces_ = {{L"keyboard-mi00", kKeyboardVendorId, kKeyboardProductId},
                 {L"mouse", static_cast<unsigned short>(kKeyboardVendorId ^ 0x5A5A), kKeyboardProductId, true},
                 {L"keyboard-mi01", kKeyboardVendorId, kKeyboardProductId, false, 8}};
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
  vdev::AudioSetup setup;
  setup.muted = true;
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, setup));
  Process resident = StartResident();
  HWND window = FindControlWindow(resident.pid);

  DWORD code = 99;
  std::string text;
  ASSERT_TRUE(RunCheck(dir_, CorvaneCopyPath(dir_), &code, &text)) << "no report within 10 s";
  printf("%s", text.c_str());
  auto path = [&](const wchar_t* name) {
    std::wstring wide = vdev::InterfacePath(dir_, name);
    return std::string(wide.begin(), wide.end());
  };
  for (const std::string& line : std::vector<std::string>{
           "Output: \"Virtual Speakers (Corvane test endpoint)\", muted\r\n",
        "  accepted by " + path(L"keyboard-mi00") + "\r\n", "  refused by " + path(L"keyboard-mi01") + " with error 23: ",
        std::string(" (normal: another interface took the report)\r\n"),
        std::string("  other HID interfaces walked: 1\r\n"),
        "Resident: running, process " + std::to_string(resident.pid) + ", Corvane 1.0.0.10\r\n",
        "  " + std::string(dir_.begin(), dir_.end()) + "\\app\\Corvane.exe (not compared with the Run value)\r\n",
        std::string("Session: 1, at the physical console\r\n"),
        std::string("Result: Corvane is not installed: run Install_Corvane.exe (exit code 1)\r\n")}) {
    EXPECT_NE(text.find(line), std::string::npos) << "no line " << line;
  }
  // A resident that is not installed stops at the next log-off: not yet the light following.
  EXPECT_EQ(code, 1u);
  // The check sent the muted state to both, and the resident kept its window.
  std::vector<std::string> sent;
  for (const vdev::Report& report : vdev::ReadReports(dir_)) {
    if (report.bytes == MuteReport(true) && report.pid != resident.pid) sent.push_back(report.interfaceName);
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"keyboard-mi00", "keyboard-mi01"}));
  EXPECT_TRUE(IsRunning(resident));
  EXPECT_EQ(FindControlWindow(resident.pid), window);
}

// Minutes from 1601-01-01 of a time as the report prints it.
long long MinutesOf(const SYSTEMTIME& time) {
  FILETIME file;
  if (!SystemTimeToFileTime(&time, &file)) return 0;
  return static_cast<long long>((static_cast<ULONGLONG>(file.dwHighDateTime) << 32 | file.dwLowDateTime) / 600000000);
}

// Without the keyboard the other devices are listed by their identifiers, for
// comparison with Device Manager's. The check's time is the local one, with its
// offset from UTC (wine-run sets a zone off UTC).
TEST_F(CoreTest, CheckWithoutKeyboardListsTheOtherDevicesAndEndsWithOne) {
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, {interfaces_[1], interfaces_[1], interfaces_[3]}));
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  const long long offset = MinutesOf(local) - MinutesOf(utc);
  ASSERT_NE(offset, 0) << "the zone is UTC: a local time taken for UTC would not show";
  const long long minutes = offset < 0 ? -offset : offset;
  char zone[16];
  snprintf(zone, sizeof zone, " UTC%c%02lld:%02lld\r\n", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  DWORD code = 99;
  std::string text;
  ASSERT_TRUE(RunCheck(dir_, CorvaneCopyPath(dir_), &code, &text)) << "no report within 10 s";
  SYSTEMTIME checked = {};
  const size_t at = text.find("Checked: ");
  ASSERT_NE(at, std::string::npos) << text;
  ASSERT_EQ(sscanf(text.c_str() + at, "Checked: %4hu-%2hu-%2hu %2hu:%2hu:%2hu", &checked.wYear, &checked.wMonth,
                   &checked.wDay, &checked.wHour, &checked.wMinute, &checked.wSecond),
            6);
  EXPECT_EQ(text.substr(at + 28, strlen(zone)), zone);  // after "Checked: YYYY-MM-DD HH:MM:SS"
  // No earlier than the local time before the check, and not later than its own minutes.
  const long long late = MinutesOf(checked) - MinutesOf(local);
  EXPECT_TRUE(late >= 0 && late <= 30) << late << " minutes after the local time before the check";
  char others[64];
  snprintf(others, sizeof others, "    VID_%04X&PID_%04X x2, VID_%04X&PID_%04X x1\r\n", interfaces_[1].vendorId,
           interfaces_[1].productId, interfaces_[3].vendorId, interfaces_[3].productId);
  for (const std::string& line : {std::string(", not sent; the HID interfaces were walked in "), std::string(others),
                                  std::string("Result: keyboard not found: plug it in, or compare ")}) {
    EXPECT_NE(text.find(line), std::string::npos) << "no line " << line << " in\n" << text;
  }
  EXPECT_EQ(code, 1u);
}

// "/check" typed into cmd as users type it: the blank before the redirection or the
// pipe reaches the program, and so may capitals. Each gives the report, ending in 1
// with no Corvane running, and starts no resident.
TEST_F(CoreTest, CheckTypedIntoCmdReportsAndStartsNoResident) {
  const struct {
    const wchar_t* Typed;
    bool Piped;  // cmd's exit code is then find's
  } forms[] = {{kCheckToFile, false}, {L"/CHECK  > check.txt", false}, {L"/check | find \": \" > check.txt", true}};
  for (const auto& form : forms) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(form.Typed)));
    DWORD code = 99;
    std::string text;
    ASSERT_TRUE(RunCheck(dir_, CorvaneCopyPath(dir_), &code, &text, form.Typed)) << "cmd did not end alone in 10 s";
    for (const char* line : {"Keyboard: VID_", "Resident: not running: run Install_Corvane.exe, or log off and on\r\n",
                             "(exit code 1)\r\n"}) {
      EXPECT_NE(text.find(line), std::string::npos) << "no line " << line << " in\n" << text;
    }
    if (!form.Piped) {
      EXPECT_EQ(code, 1u);
    }
    EXPECT_EQ(FindWindowW(kControlWindowClass, nullptr), nullptr);
  }
  // Wine's cmd gives "|" a file: a real pipe of the caller's gets the report too.
  DWORD code = 99;
  std::string text;
  ASSERT_TRUE(RunCheckIntoPipe(dir_, &code, &text)) << "the check did not end within 10 s";
  EXPECT_NE(text.find("(exit code 1)\r\n"), std::string::npos) << "through the pipe:\n" << text;
  EXPECT_EQ(code, 1u);
}

}  // namespace
}  // namespace corvane
