// The cost figures of Corvane.exe under Wine on the doubles, beside the floor
// program (a hidden window with a 200 ms timer): start-up, mute-change latency
// by number of keyboard interfaces and other HID devices, a slider drag, idle
// CPU, CPU while a mouse moves; and, with the doubles charging what the HID calls
// cost on Windows, a slider drag, a mute change right after one, and a keyboard
// that does not answer. Prints figures, judges none. Run by scripts/bench, which passes the Unix
// process id of the prefix's wineserver; CPU times are read from Z:\proc, the
// Unix side of Wine's drive mapping.
//
//   corvane_bench WINESERVER_PID

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_driver.h"

namespace {

using corvane::Process;

constexpr int kMuteChanges = 10;
constexpr int kDragSteps = 100;
constexpr DWORD kDragStepMs = 10;
constexpr DWORD kResyncPeriodMs = 19000;
constexpr DWORD kIdleMs = 40000;

unsigned long g_wineserverPid;

void Progress(const char* text) {
  fprintf(stderr, "bench: %s\n", text);
  fflush(stderr);
}

// A file of the Unix side, through Wine's drive Z: (empty when unreadable).
std::string ReadUnixFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD length = 0;
  while (ReadFile(file, buffer, sizeof buffer, &length, nullptr) && length > 0) text.append(buffer, length);
  CloseHandle(file);
  return text;
}

// CPU time of a Unix process with all its threads, in milliseconds: the time on
// the CPU in nanoseconds is the first field of each thread's schedstat (finer
// than the clock ticks that GetProcessTimes reports under Wine).
double UnixCpuMs(unsigned long pid) {
  std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  double ns = 0;
  do {
    if (found.cFileName[0] != L'.') ns += strtod(ReadUnixFile(tasks + found.cFileName + L"\\schedstat").c_str(), nullptr);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return ns / 1e6;
}

// The Unix process that runs the Windows program PATH: Wine shows the Windows
// command line as the process's command line. 0 when none.
unsigned long UnixPidOf(const std::wstring& path) {
  std::string wanted(path.begin(), path.end());
  CharLowerBuffA(&wanted[0], static_cast<DWORD>(wanted.size()));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  unsigned long pid = 0;
  do {
    if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
    std::string command = ReadUnixFile(std::wstring(L"Z:\\proc\\") + found.cFileName + L"\\cmdline");
    if (command.empty()) continue;
    CharLowerBuffA(&command[0], static_cast<DWORD>(command.size()));
    if (command.find(wanted) != std::string::npos) pid = wcstoul(found.cFileName, nullptr, 10);
  } while (!pid && FindNextFileW(search, &found));
  FindClose(search);
  return pid;
}

// COUNT keyboard interfaces (the first one exclusive, as Windows keeps the
// keyboard collection) after OTHERS foreign devices, so that every send walks
// all of them before it reaches the last keyboard interface.
std::vector<vdev::HidInterface> Devices(int count, int others) {
  std::vector<vdev::HidInterface> devices;
  for (int i = 0; i < others; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"other-%02d", i);
    // Another vendor than the keyboard's, whatever identifiers the build has; every fourth a mouse or keyboard.
    devices.push_back({name, static_cast<unsigned short>(corvane::kKeyboardVendorId ^ (0x4000 + i)),
                       static_cast<unsigned short>(0x0100 + i), i % 4 == 0});
  }
  for (int i = 0; i < count; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"keyboard-mi%02d", i);
    devices.push_back({name, corvane::kKeyboardVendorId, corvane::kKeyboardProductId, i == 0});
  }
  return devices;
}

bool Prepare(const std::wstring& dir, const std::vector<vdev::HidInterface>& devices) {
  return vdev::PrepareFolder(dir) && vdev::WriteHidInterfaces(dir, devices) &&
         vdev::WriteAudioSetup(dir, vdev::AudioSetup());
}

// The notifications that PID's audio double raised.
std::vector<vdev::LogEntry> Notifications(const std::wstring& dir, DWORD pid) {
  std::vector<vdev::LogEntry> notifications;
  for (const vdev::LogEntry& entry : corvane::AudioEventsOf(dir, pid)) {
    if (entry.event == "notify") notifications.push_back(entry);
  }
  return notifications;
}

struct Latency {
  int count = 0;
  DWORD median = 0;
  DWORD max = 0;
};

// Mute changes one after the other, each once the last one reached the keyboard:
// from each notification to the report on the last keyboard interface.
Latency MuteLatency(int count, int others) {
  Latency latency;
  wchar_t name[64];
  swprintf(name, 64, L"bench-latency-%d-%d", count, others);
  std::wstring dir = corvane::RunFolder(name);
  std::vector<vdev::HidInterface> devices = Devices(count, others);
  Process process;
  if (!Prepare(dir, devices) || !corvane::StartCorvane(dir, L"", &process)) return latency;
  std::vector<std::string> last = {corvane::KeyboardInterfaceNames(devices).back()};
  bool ready = corvane::WaitForReportOnEach(dir, 0, process.pid, last, corvane::MuteReport(false), 10000);
  for (int change = 1; ready && change <= kMuteChanges; ++change) {
    bool muted = change % 2 == 1;
    size_t skip = vdev::ReadReports(dir).size();
    ready = vdev::SetMute(dir, muted) &&
            corvane::WaitForReportOnEach(dir, skip, process.pid, last, corvane::MuteReport(muted), 5000);
    Sleep(100);
  }
  corvane::EndProcess(&process);

  std::vector<vdev::Report> reports = vdev::ReadReports(dir);
  std::vector<DWORD> samples;
  for (const vdev::LogEntry& notification : Notifications(dir, process.pid)) {
    bool muted = notification.fields.at(0) == "1";
    for (const vdev::Report& report : reports) {
      if (report.pid == process.pid && report.interfaceName == last[0] && report.bytes == corvane::MuteReport(muted) &&
          static_cast<LONG>(report.tick - notification.tick) >= 0) {
        samples.push_back(report.tick - notification.tick);
        break;
      }
    }
  }
  if (samples.empty()) return latency;
  std::sort(samples.begin(), samples.end());
  latency.count = static_cast<int>(samples.size());
  latency.median = samples[samples.size() / 2];
  latency.max = samples.back();
  return latency;
}

struct Idle {
  double programMs = -1;
  double wineserverMs = -1;
};

// CPU time of the program PATH and of the wineserver over kIdleMs.
Idle MeasureIdle(const std::wstring& path) {
  Idle idle;
  unsigned long pid = UnixPidOf(path);
  double program = pid ? UnixCpuMs(pid) : -1;
  double server = UnixCpuMs(g_wineserverPid);
  Sleep(kIdleMs);
  if (program >= 0) idle.programMs = UnixCpuMs(pid) - program;
  if (server >= 0) idle.wineserverMs = UnixCpuMs(g_wineserverPid) - server;
  return idle;
}

HWND FindFloorWindow(DWORD pid) {
  for (HWND window = FindWindowExW(nullptr, nullptr, L"CORVANE_FLOOR", nullptr); window;
       window = FindWindowExW(nullptr, window, L"CORVANE_FLOOR", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid) return window;
  }
  return nullptr;
}

// Starts PROGRAM without the doubles' folder: the doubles then present nothing
// and poll nothing, so that idle figures are the program's own.
bool StartQuiet(const std::wstring& program, Process* process) {
  if (!SetEnvironmentVariableW(vdev::kDirVariable, nullptr)) return false;
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  process->startTick = GetTickCount();
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process->handle = info.hProcess;
  process->pid = info.dwProcessId;
  return true;
}

// A figure that could not be measured is negative: it prints as "-" and the run
// ends with exit code 1, so that no failed measurement reads like a result.
// kNoFigure marks one that does not apply (the floor sends no report).
constexpr double kNoFigure = -2;
bool FigureMissing = false;

void PrintFigure(int width, int decimals, double value) {
  if (value >= 0) {
    printf(" %*.*f", width, decimals, value);
    return;
  }
  FigureMissing = FigureMissing || value != kNoFigure;
  printf(" %*s", width, "-");
}

void PrintMs(const char* label, double corvane, double floor) {
  printf("  %-44s", label);
  PrintFigure(10, 1, corvane);
  PrintFigure(10, 1, floor);
  printf("\n");
}

// --- With Windows' prices ---------------------------------------------------------
// Public measurements put one send (the walk over the present HID interfaces and a
// control transfer per keyboard interface) at 5-25 ms on a real PC, and a keyboard
// that does not answer holds each transfer for about 5 s.

constexpr int kPricedDragSteps = 200;  // 2 s at 100 notifications a second
constexpr DWORD kStallMs = 5000;
constexpr int kStallNotifications = 500;
constexpr int kMouseMoves = 5000;

vdev::HidCosts WindowsCosts() {
  vdev::HidCosts costs;
  costs.walkMs = 10;
  costs.setFeatureMs = 5;
  return costs;
}

void Drag(const std::wstring& dir, int steps) {
  for (int step = 0; step < steps; ++step) {
    vdev::SetVolume(dir, 0.2f + 0.6f * step / steps);
    Sleep(kDragStepMs);
  }
}

// Until no report was logged for QUIET_MS (LIMIT_MS at most).
bool WaitForQuiet(const std::wstring& dir, DWORD quietMs, DWORD limitMs) {
  size_t seen = 0;
  DWORD changed = GetTickCount();
  return corvane::WaitUntil(limitMs, [&] {
    size_t count = vdev::ReadReports(dir).size();
    if (count != seen) {
      seen = count;
      changed = GetTickCount();
    }
    return GetTickCount() - changed >= quietMs;
  });
}

// The tick of the first report of PID carrying BYTES on each interface of NAMES
// from the SKIP-th report on; the latest of them, or 0 when one is missing.
DWORD LastFirstReport(const std::wstring& dir, size_t skip, DWORD pid, const std::vector<std::string>& names,
                      const std::vector<unsigned char>& bytes) {
  std::vector<vdev::Report> reports = vdev::ReadReports(dir);
  DWORD latest = 0;
  for (const std::string& name : names) {
    size_t i = skip;
    while (i < reports.size() && !(reports[i].pid == pid && reports[i].interfaceName == name && reports[i].bytes == bytes)) ++i;
    if (i == reports.size()) return 0;
    if (latest == 0 || static_cast<LONG>(reports[i].tick - latest) > 0) latest = reports[i].tick;
  }
  return latest;
}

std::vector<vdev::LogEntry> StallsOf(const std::wstring& dir, DWORD pid) {
  std::vector<vdev::LogEntry> stalls;
  for (const vdev::LogEntry& entry : vdev::ReadLog(dir, vdev::kHidLog)) {
    if (entry.pid == pid && entry.event == "stall") stalls.push_back(entry);
  }
  return stalls;
}

struct PricedDrag {
  std::vector<int> reports;  // per interface of the devices, during the first drag
  double lastReportMs = -1;  // the drag's last notification to the last report
  double muteMs = -1;        // a mute change right after a second drag, to its report on every keyboard interface
};

PricedDrag MeasurePricedDrag(const std::vector<vdev::HidInterface>& devices) {
  PricedDrag drag;
  std::wstring dir = corvane::RunFolder(L"bench-priced-drag");
  std::vector<std::string> keyboard = corvane::KeyboardInterfaceNames(devices);
  Process process;
  if (!Prepare(dir, devices) || !vdev::WriteHidCosts(dir, WindowsCosts()) ||
      !corvane::StartCorvane(dir, L"", &process)) {
    return drag;
  }
  const DWORD pid = process.pid;
  if (corvane::WaitForReportOnEach(dir, 0, pid, keyboard, corvane::MuteReport(false), 10000)) {
    size_t skip = vdev::ReadReports(dir).size();
    size_t before = Notifications(dir, pid).size();
    Drag(dir, kPricedDragSteps);
    bool raised =
        corvane::WaitUntil(10000, [&] { return Notifications(dir, pid).size() >= before + kPricedDragSteps; });
    if (raised && WaitForQuiet(dir, 1000, 30000)) {
      std::vector<vdev::Report> reports = vdev::ReadReports(dir);
      for (const vdev::HidInterface& device : devices) {
        std::string name(device.name.begin(), device.name.end());
        int count = 0;
        for (size_t i = skip; i < reports.size(); ++i) count += reports[i].pid == pid && reports[i].interfaceName == name;
        drag.reports.push_back(count);
      }
      if (reports.size() > skip) {
        drag.lastReportMs = static_cast<LONG>(reports.back().tick - Notifications(dir, pid).back().tick);
      }
    }

    size_t muteSkip = vdev::ReadReports(dir).size();
    Drag(dir, kPricedDragSteps);
    vdev::SetMute(dir, true);
    int notify = corvane::WaitForAudioEvent(dir, pid, "notify", {"1"}, 10000);
    if (notify >= 0 && corvane::WaitForReportOnEach(dir, muteSkip, pid, keyboard, corvane::MuteReport(true), 30000)) {
      DWORD reported = LastFirstReport(dir, muteSkip, pid, keyboard, corvane::MuteReport(true));
      drag.muteMs = static_cast<LONG>(reported - vdev::ReadLog(dir, vdev::kAudioLog)[notify].tick);
    }
  }
  corvane::EndProcess(&process);
  return drag;
}

struct StalledKeyboard {
  std::string stalled;         // the interface that blocks
  int notifications = 0;       // raised during the stall and after it
  double newestMs = -1;        // the last notification to the newest state on every keyboard interface
  double closeAfterMs = -1;    // the stalled report's return to the answer to WM_CLOSE
  double closeWaitedMs = -1;   // how long the sender of WM_CLOSE waited
};

// One keyboard interface blocks every report for kStallMs; kStallNotifications
// notifications arrive 10 ms apart from the first stall on, the last of them a
// mute change. Then a WM_CLOSE is sent during a stall.
StalledKeyboard MeasureStalledKeyboard() {
  StalledKeyboard result;
  std::vector<vdev::HidInterface> devices = corvane::KeyboardAndForeignDevices();
  std::vector<std::string> keyboard = corvane::KeyboardInterfaceNames(devices);
  result.stalled = keyboard.back();
  for (vdev::HidInterface& device : devices) {
    if (std::string(device.name.begin(), device.name.end()) == result.stalled) device.stallMs = kStallMs;
  }
  std::wstring dir = corvane::RunFolder(L"bench-stalled-keyboard");
  Process process;
  if (!Prepare(dir, devices) || !vdev::WriteHidCosts(dir, WindowsCosts()) ||
      !corvane::StartCorvane(dir, L"", &process)) {
    return result;
  }
  const DWORD pid = process.pid;
  if (corvane::WaitUntil(10000, [&] { return !StallsOf(dir, pid).empty(); })) {
    size_t before = Notifications(dir, pid).size();
    for (int i = 1; i <= kStallNotifications; ++i) {
      i < kStallNotifications ? vdev::SetVolume(dir, 0.2f + 0.6f * i / kStallNotifications) : vdev::SetMute(dir, true);
      Sleep(kDragStepMs);
    }
    corvane::WaitUntil(30000, [&] { return Notifications(dir, pid).size() >= before + kStallNotifications; });
    result.notifications = static_cast<int>(Notifications(dir, pid).size() - before);
    int notify = corvane::WaitForAudioEvent(dir, pid, "notify", {"1"}, 1000);
    if (notify >= 0 && corvane::WaitForReportOnEach(dir, 0, pid, keyboard, corvane::MuteReport(true), 40000)) {
      DWORD newest = LastFirstReport(dir, 0, pid, keyboard, corvane::MuteReport(true));
      result.newestMs = static_cast<LONG>(newest - vdev::ReadLog(dir, vdev::kAudioLog)[notify].tick);
    }

    size_t stalls = StallsOf(dir, pid).size();
    vdev::SetMute(dir, false);
    HWND window = corvane::FindControlWindow(pid);
    if (window && corvane::WaitUntil(20000, [&] { return StallsOf(dir, pid).size() > stalls; })) {
      DWORD stallTick = StallsOf(dir, pid).back().tick;
      DWORD sent = GetTickCount();
      DWORD_PTR answer = 0;
      if (SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 30000, &answer)) {
        DWORD answered = GetTickCount();
        result.closeWaitedMs = answered - sent;
        for (const vdev::Report& report : vdev::ReadReports(dir)) {
          if (report.pid == pid && report.interfaceName == result.stalled &&
              static_cast<LONG>(report.tick - stallTick) >= 0) {
            result.closeAfterMs = static_cast<LONG>(answered - report.tick);
            break;
          }
        }
      }
    }
  }
  corvane::EndProcess(&process);
  return result;
}

struct MouseCost {
  double cpuMs = -1;
  double spanMs = -1;
};

// CPU time of the program PATH while kMouseMoves relative mouse moves arrive 1 ms
// apart (Wine hands SendInput's moves to raw-input sinks), and a moment after.
MouseCost MeasureMouse(const std::wstring& path) {
  MouseCost cost;
  unsigned long pid = UnixPidOf(path);
  if (!pid) return cost;
  double before = UnixCpuMs(pid);
  DWORD start = GetTickCount();
  for (int i = 0; i < kMouseMoves; ++i) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = i % 2 ? 4 : -4;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    if (SendInput(1, &input, sizeof input) != 1) return cost;
    Sleep(1);
  }
  cost.spanMs = GetTickCount() - start;
  Sleep(500);
  if (before >= 0) cost.cpuMs = UnixCpuMs(pid) - before;
  return cost;
}

void PrintFigure(const char* label, double value, const char* goal) {
  printf("    %-56s", label);
  PrintFigure(8, 0, value);
  printf("%s\n", goal);
}

void PrintPricedFigures(const std::vector<vdev::HidInterface>& devices, const PricedDrag& drag,
                        const StalledKeyboard& stalled, const MouseCost& corvaneMouse, const MouseCost& floorMouse) {
  vdev::HidCosts costs = WindowsCosts();
  printf("\n  with Windows' prices: %u ms a device walk, %u ms a HidD_SetFeature, %zu keyboard interfaces\n",
         costs.walkMs, costs.setFeatureMs, corvane::KeyboardInterfaceNames(devices).size());
  printf("  slider drag: %d volume changes %lu ms apart\n", kPricedDragSteps, kDragStepMs);
  for (size_t i = 0; i < devices.size(); ++i) {
    std::string name(devices[i].name.begin(), devices[i].name.end());
    printf("    %-20s", name.c_str());
    PrintFigure(4, 0, i < drag.reports.size() ? drag.reports[i] : -1);
    printf(" reports\n");
  }
  PrintFigure("last notification to last report, ms", drag.lastReportMs, "   (goal: at most 50)");
  PrintFigure("mute change right after a drag, to every interface, ms", drag.muteMs, "   (goal: at most 50)");
  printf("  stalled keyboard: %s blocks %lu ms a report; %d of %d notifications raised\n", stalled.stalled.c_str(),
         kStallMs, stalled.notifications, kStallNotifications);
  PrintFigure("last notification to the newest state everywhere, ms", stalled.newestMs, "");
  PrintFigure("WM_CLOSE answered after the stalled report returned, ms", stalled.closeAfterMs, "");
  PrintFigure("WM_CLOSE sent during the stall waited, ms", stalled.closeWaitedMs, "");
  printf("\n  mouse: %d moves 1 ms apart, over %.0f ms beside Corvane, %.0f ms beside the floor\n", kMouseMoves,
         corvaneMouse.spanMs, floorMouse.spanMs);
  printf("  %-44s %10s %10s\n", "", "Corvane", "floor");
  PrintMs("CPU time meanwhile, ms", corvaneMouse.cpuMs, floorMouse.cpuMs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: corvane_bench WINESERVER_PID\n");
    return 2;
  }
  g_wineserverPid = wcstoul(argv[1], nullptr, 10);

  // Start-up, a slider drag and idle, on the keyboard and foreign devices of the tests.
  Progress("start-up and slider drag");
  std::wstring dir = corvane::RunFolder(L"bench-program");
  std::vector<vdev::HidInterface> devices = corvane::KeyboardAndForeignDevices();
  std::vector<std::string> keyboard = corvane::KeyboardInterfaceNames(devices);
  Process program;
  if (!Prepare(dir, devices) || !corvane::StartCorvane(dir, L"", &program)) {
    fprintf(stderr, "bench: cannot start Corvane.exe\n");
    return 1;
  }
  HWND window = corvane::WaitForControlWindow(program.pid, 10000);
  double toWindow = window ? static_cast<double>(GetTickCount() - program.startTick) : -1;
  double toReport = -1;
  if (corvane::WaitForReportOnEach(dir, 0, program.pid, keyboard, corvane::MuteReport(false), 10000)) {
    toReport = static_cast<double>(vdev::ReadReports(dir).front().tick - program.startTick);
  }

  Sleep(500);
  size_t dragSkip = vdev::ReadReports(dir).size();
  size_t notifiedBefore = Notifications(dir, program.pid).size();
  unsigned long programUnixPid = UnixPidOf(corvane::CorvaneCopyPath(dir));
  double dragCpu = programUnixPid ? UnixCpuMs(programUnixPid) : -1;
  for (int step = 0; step < kDragSteps; ++step) {
    vdev::SetVolume(dir, 0.2f + 0.006f * step);
    Sleep(kDragStepMs);
  }
  corvane::WaitUntil(10000, [&] { return Notifications(dir, program.pid).size() >= notifiedBefore + kDragSteps; });
  Sleep(1000);
  if (dragCpu >= 0) dragCpu = UnixCpuMs(programUnixPid) - dragCpu;
  std::vector<vdev::LogEntry> notifications = Notifications(dir, program.pid);
  size_t dragNotifications = notifications.size() - notifiedBefore;
  DWORD dragSpan = dragNotifications ? notifications.back().tick - notifications[notifiedBefore].tick : 0;
  std::vector<vdev::Report> reports = vdev::ReadReports(dir);

  corvane::EndProcess(&program);

  Progress("idle, Corvane (after its resync period) and the floor, 40 s each");
  Process quiet;
  Idle programIdle;
  MouseCost programMouse;
  if (StartQuiet(corvane::CorvaneCopyPath(dir), &quiet) && corvane::WaitForControlWindow(quiet.pid, 10000)) {
    Sleep(kResyncPeriodMs + 1000);
    programIdle = MeasureIdle(corvane::CorvaneCopyPath(dir));
    Progress("mouse input, Corvane");
    programMouse = MeasureMouse(corvane::CorvaneCopyPath(dir));
  }
  corvane::EndProcess(&quiet);

  Process floor;
  double floorToWindow = -1;
  Idle floorIdle;
  MouseCost floorMouse;
  std::wstring floorPath = corvane::ProgramFolder() + L"\\corvane_floor.exe";
  if (StartQuiet(floorPath, &floor)) {
    if (corvane::WaitUntil(10000, [&] { return FindFloorWindow(floor.pid) != nullptr; })) {
      floorToWindow = static_cast<double>(GetTickCount() - floor.startTick);
    }
    floorIdle = MeasureIdle(floorPath);
    Progress("mouse input, floor");
    floorMouse = MeasureMouse(floorPath);
    TerminateProcess(floor.handle, 0);
    CloseHandle(floor.handle);
  }

  Progress("mute-change latency");
  const int counts[] = {2, 8};
  const int others[] = {0, 32};
  Latency latencies[2][2];
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) latencies[i][j] = MuteLatency(counts[i], others[j]);
  }

  Progress("with Windows' prices: slider drags, then a stalled keyboard");
  PricedDrag pricedDrag = MeasurePricedDrag(devices);
  StalledKeyboard stalled = MeasureStalledKeyboard();

  printf("  %-44s %10s %10s\n", "", "Corvane", "floor");
  PrintMs("start to window, ms", toWindow, floorToWindow);
  PrintMs("start to first report, ms", toReport, kNoFigure);
  PrintMs("idle CPU over 40 s, ms", programIdle.programMs, floorIdle.programMs);
  PrintMs("wineserver CPU meanwhile, ms", programIdle.wineserverMs, floorIdle.wineserverMs);
  printf("  (idle: started without the doubles' folder, so that the doubles neither present nor poll anything)\n");
  printf("\n  mute-change latency, notification to report on the last keyboard interface, ms\n");
  printf("  %-22s %-22s %8s %8s %8s\n", "keyboard interfaces", "other HID devices", "median", "max", "changes");
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      const Latency& latency = latencies[i][j];
      printf("  %-22d %-22d", counts[i], others[j]);
      PrintFigure(8, 0, latency.count ? static_cast<double>(latency.median) : -1);
      PrintFigure(8, 0, latency.count ? static_cast<double>(latency.max) : -1);
      printf(" %8d\n", latency.count);
    }
  }
  printf("\n  slider drag: %d volume changes %lu ms apart, %zu notifications over %lu ms\n", kDragSteps, kDragStepMs,
         dragNotifications, dragSpan);
  for (const vdev::HidInterface& device : devices) {
    std::string name(device.name.begin(), device.name.end());
    int count = 0;
    for (size_t i = dragSkip; i < reports.size(); ++i) count += reports[i].interfaceName == name;
    printf("    %-20s %4d reports\n", name.c_str(), count);
  }
  printf("    Corvane's CPU time during it:");
  PrintFigure(0, 1, dragCpu);
  printf(" ms\n");
  PrintPricedFigures(devices, pricedDrag, stalled, programMouse, floorMouse);
  if (FigureMissing) fprintf(stderr, "bench: a figure could not be measured (\"-\")\n");
  return FigureMissing ? 1 : 0;
}
