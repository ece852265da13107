// The whole journey of Corvane on a virtual keyboard (three interfaces of the
// keyboard, two foreign devices) and a virtual audio endpoint: Install_Corvane
// installs it into the system directory, the record is shown, "Corvane.exe /check"
// typed as the read-me prints it reports what it finds, another application mutes and unmutes the output and
// every report that reaches the keyboard is printed with its place in the resync
// period, then the uninstall string from the record is run as Windows runs it and
// the prefix is left as it was. Run by scripts/demo in a prefix of its own.

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "program_driver.h"

namespace {

using corvane::Process;

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";

DWORD g_start;
DWORD g_trigger;  // tick of the last change, for the place of each send in its period
size_t g_printed;

void Say(const char* text) {
  printf("%7.3f s  %s\n", (GetTickCount() - g_start) / 1000.0, text);
  fflush(stdout);
}

void PrintNewReports(const std::wstring& dir) {
  std::vector<vdev::Report> reports = vdev::ReadReports(dir);
  for (; g_printed < reports.size(); ++g_printed) {
    const vdev::Report& report = reports[g_printed];
    const char* meaning = "";
    if (report.bytes.size() == 9 && report.bytes[1] == 0xA1) meaning = report.bytes[2] ? "LED on " : "LED off";
    if (report.bytes.size() == 9 && report.bytes[1] == 0xA2) meaning = report.bytes[2] ? "lid closed" : "lid open";
    printf("%7.3f s    keyboard <- %-14s %s  %s  (+%.1f s)%s\n", (report.tick - g_start) / 1000.0,
           report.interfaceName.c_str(), vdev::HexBytes(report.bytes).c_str(), meaning,
           static_cast<LONG>(report.tick - g_trigger) / 1000.0, report.result == "ok" ? "" : "  (refused)");
  }
  fflush(stdout);
}

// Prints reports as they arrive for MS milliseconds.
void Watch(const std::wstring& dir, DWORD ms) {
  DWORD begin = GetTickCount();
  while (GetTickCount() - begin < ms) {
    PrintNewReports(dir);
    Sleep(20);
  }
  PrintNewReports(dir);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Prints the record as the registry holds it; false when there is none.
bool PrintRecord() {
  HKEY key;
  bool found = false;
  wchar_t text[600];
  DWORD size = sizeof text;
  DWORD type;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"Corvane", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, &type, text,
                   &size) == ERROR_SUCCESS) {
    printf("           HKLM\\%ls\n             Corvane = %ls\n", kRunKey, text);
    found = true;
  } else {
    printf("           HKLM\\%ls: no value \"Corvane\"\n", kRunKey);
  }
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    printf("           HKLM\\%ls: absent\n", kUninstallKey);
    return found;
  }
  printf("           HKLM\\%ls\n", kUninstallKey);
  for (DWORD index = 0;; ++index) {
    wchar_t name[100];
    DWORD nameLength = ARRAYSIZE(name);
    BYTE data[600];
    DWORD dataSize = sizeof data;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    if (type == REG_DWORD)
      printf("             %-16ls REG_DWORD %lu\n", name, *reinterpret_cast<DWORD*>(data));
    else
      printf("             %-16ls REG_SZ    %ls\n", name, reinterpret_cast<wchar_t*>(data));
  }
  RegCloseKey(key);
  return true;
}

bool Install(Process* corvane) {
  Say("running Install_Corvane.exe");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION installer;
  std::wstring command = L"\"" + corvane::ProgramFolder() + L"\\Install_Corvane.exe\"";
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &installer))
    return false;
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(installer.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(installer.hProcess, &code);
  CloseHandle(installer.hThread);
  CloseHandle(installer.hProcess);
  if (code == STILL_ACTIVE) {
    Say("the installer did not end within a minute");
    return false;
  }
  printf("%7.3f s  the installer exited with code %lu (0: written, recorded and resident)\n",
         (GetTickCount() - g_start) / 1000.0, code);
  if (code != 0) return false;

  HWND window = nullptr;
  corvane::WaitUntil(10000, [&] { return (window = FindWindowW(corvane::kControlWindowClass, nullptr)) != nullptr; });
  if (!window) return false;
  GetWindowThreadProcessId(window, &corvane->pid);
  corvane->handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, corvane->pid);
  wchar_t image[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!corvane->handle || !QueryFullProcessImageNameW(corvane->handle, 0, image, &length)) return false;
  printf("%7.3f s  Corvane is resident: %ls\n", (GetTickCount() - g_start) / 1000.0, image);
  return true;
}

// The self-check exactly as the read-me prints it, typed into the Run dialog's form
// "cmd /c ..."; prints the command, the report it left in the user's folder and the exit code.
bool RunCheck(const std::wstring& dir) {
  std::wstring line = corvane::SystemDirectory() + L"\\Corvane.exe /check > \"%USERPROFILE%\\corvane-check.txt\"";
  wchar_t profile[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring report = std::wstring(profile) + L"\\corvane-check.txt";
  DeleteFileW(report.c_str());
  printf("%7.3f s  cmd /c %ls\n", (GetTickCount() - g_start) / 1000.0, line.c_str());
  DWORD code = 99;
  std::string text;
  if (!corvane::RunInCmd(dir, line, &code) || !corvane::ReadTextFile(report, &text)) return false;
  PrintNewReports(dir);
  printf("           %ls:\n", report.c_str());
  size_t begin = 0;
  for (size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
    printf("             %s\n", text.substr(begin, end - begin).c_str());
  printf("%7.3f s  the check exited with code %lu\n", (GetTickCount() - g_start) / 1000.0, code);
  return code == 0;
}

bool Uninstall(const std::wstring& dir, Process* corvane) {
  wchar_t command[600];
  DWORD size = sizeof command;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                   nullptr, command, &size) != ERROR_SUCCESS)
    return false;
  printf("%7.3f s  uninstalling from Programs and Features: %ls\n", (GetTickCount() - g_start) / 1000.0, command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION uninstaller;
  g_trigger = GetTickCount();
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &uninstaller))
    return false;
  CloseHandle(uninstaller.hThread);
  DWORD code = 1;
  bool ended = WaitForSingleObject(uninstaller.hProcess, 10000) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(uninstaller.hProcess, &code);
  CloseHandle(uninstaller.hProcess);
  // The resident of the install was closed by the uninstaller (WM_CLOSE).
  DWORD residentCode = 1;
  corvane::WaitForExit(*corvane, 5000, &residentCode);
  PrintNewReports(dir);
  char line[96];
  snprintf(line, sizeof line, "the uninstaller exited with code %lu; the resident it replaced with %lu",
           ended ? code : 99, residentCode);
  Say(line);
  std::wstring installed = corvane::SystemDirectory() + L"\\Corvane.exe";
  corvane::WaitUntil(5000, [&] { return !Exists(installed); });
  printf("%7.3f s  %ls: %s\n", (GetTickCount() - g_start) / 1000.0, installed.c_str(),
         Exists(installed) ? "still there" : "deleted");
  return ended && code == 0 && !Exists(installed);
}

}  // namespace

int main() {
  std::wstring dir = corvane::RunFolder(L"demo");
  std::vector<vdev::HidInterface> devices = corvane::KeyboardAndForeignDevices();
  if (!vdev::PrepareFolder(dir) || !vdev::WriteHidInterfaces(dir, devices) ||
      !SetEnvironmentVariableW(vdev::kDirVariable, dir.c_str())) {
    fprintf(stderr, "demo: cannot set up the virtual devices\n");
    return 1;
  }
  corvane::VirtualKeyboardInSystemDirectory keyboard(dir);
  if (!keyboard.ready()) {
    fprintf(stderr, "demo: cannot place the virtual keyboard in the system directory\n");
    return 1;
  }
  printf("Programs: %ls\\Corvane.exe and Install_Corvane.exe, the %u-bit build with the test doubles\n"
         "(the release is the 32-bit build of preset windows-x86).\n",
         corvane::ProgramFolder().c_str(), static_cast<unsigned>(sizeof(void*) * 8));
  printf("Virtual HID interfaces:\n");
  for (const vdev::HidInterface& device : devices) {
    bool isKeyboard =
        device.vendorId == corvane::kKeyboardVendorId && device.productId == corvane::kKeyboardProductId;
    printf("  %-14ls VID %04X PID %04X  %s\n", device.name.c_str(), device.vendorId, device.productId,
           isKeyboard ? "the keyboard" : "another device");
  }
  printf("Audio endpoint: not muted. Times: since the demo began, and (+) since the last change.\n\n");

  g_start = g_trigger = GetTickCount();
  Process corvane;
  if (!Install(&corvane)) {
    fprintf(stderr, "demo: Corvane was not installed and started\n");
    return 1;
  }
  Watch(dir, 400);
  Say("the installation record:");
  PrintRecord();
  Say("start-up period: the state 0.1 s after start, then every 5 s until 19 s");
  Watch(dir, 19500);
  g_trigger = GetTickCount();
  Say("the self-check, run beside the resident: it sends the state once and reports");
  bool checked = RunCheck(dir);

  const bool steps[] = {true, false};
  for (bool muted : steps) {
    g_trigger = GetTickCount();
    Say(muted ? "another application mutes the output: sent at once, then every 5 s for 19 s"
              : "another application unmutes the output");
    vdev::SetMute(dir, muted);
    Watch(dir, muted ? 19500 : 1000);
  }
  g_trigger = GetTickCount();
  Say("another application changes only the volume: the unchanged state is sent");
  vdev::SetVolume(dir, 0.8f);
  Watch(dir, 1000);
  g_trigger = GetTickCount();
  Say("the default communications device changes: re-bind after 0.2 s, state read afresh, sent 0.2 s later");
  vdev::ChangeDefaultDevice(dir, 0, 2);
  Watch(dir, 1000);

  bool uninstalled = Uninstall(dir, &corvane);
  Say("the installation record after the uninstall:");
  bool recordLeft = PrintRecord();
  if (corvane.handle) CloseHandle(corvane.handle);
  return checked && uninstalled && !recordLeft ? 0 : 1;
}
