// The cost figures of Corvane.exe under Wine on the doubles, beside the floor
// program (a hidden window with a 200 ms timer): start-up, mute-change latency
// by number of keyboard interfaces and other HID devices, a slider drag, idle
// CPU. Prints figures, judges none. Run by scripts/bench, which passes the Unix
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
  if (StartQuiet(corvane::CorvaneCopyPath(dir), &quiet) && corvane::WaitForControlWindow(quiet.pid, 10000)) {
    Sleep(kResyncPeriodMs + 1000);
    programIdle = MeasureIdle(corvane::CorvaneCopyPath(dir));
  }
  corvane::EndProcess(&quiet);

  Process floor;
  double floorToWindow = -1;
  Idle floorIdle;
  std::wstring floorPath = corvane::ProgramFolder() + L"\\corvane_floor.exe";
  if (StartQuiet(floorPath, &floor)) {
    if (corvane::WaitUntil(10000, [&] { return FindFloorWindow(floor.pid) != nullptr; })) {
      floorToWindow = static_cast<double>(GetTickCount() - floor.startTick);
    }
    floorIdle = MeasureIdle(floorPath);
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
  if (FigureMissing) fprintf(stderr, "bench: a figure could not be measured (\"-\")\n");
  return FigureMissing ? 1 : 0;
}
