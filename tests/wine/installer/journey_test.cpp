// The journey of the 32-bit deliverables on 64-bit Windows, as WoW64 processes in
// a 64-bit prefix: Install_Corvane.exe installs Corvane.exe, another application
// mutes and unmutes, and the record's "UninstallString" is run the way 64-bit
// Programs and Features runs it. This test program is 32-bit too, so the system
// directory it names is redirected to SysWOW64 like the installer's; "sysnative"
// reaches the 64-bit system directory.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "program_driver.h"
#include "registration/self_delete_command.h"

namespace corvane {
namespace {

constexpr DWORD kStepTimeoutMs = 30000;  // a process start costs up to a second under emulation
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring WindowsDirectory() {
  wchar_t path[MAX_PATH];
  UINT length = GetWindowsDirectoryW(path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The file a 64-bit process reaches under PATH, named so that this 32-bit process
// reaches the same one: only the 64-bit system directory is redirected for it.
std::wstring AsSeenBy64Bit(const std::wstring& path) {
  std::wstring system32 = WindowsDirectory() + L"\\system32\\";
  if (path.size() > system32.size() && SamePath(path.substr(0, system32.size()), system32))
    return WindowsDirectory() + L"\\sysnative\\" + path.substr(system32.size());
  return path;
}

bool ReadBytes(const std::wstring& path, std::vector<char>* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  DWORD got = 0;
  bytes->resize(size);
  bool read = size != INVALID_FILE_SIZE && ReadFile(file, bytes->data(), size, &got, nullptr) && got == size;
  CloseHandle(file);
  return read;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether the record's last value, "VersionMinor", is in the 64-bit view: the whole record is written.
bool RecordComplete() {
  DWORD minor = 0;
  DWORD size = sizeof minor;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"VersionMinor", RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                      nullptr, &minor, &size) == ERROR_SUCCESS;
}

// A record value in one registry view; empty when absent.
std::wstring RecordValue(const wchar_t* key, const wchar_t* name, DWORD view) {
  wchar_t value[600];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | view, nullptr, value, &size) != ERROR_SUCCESS)
    return std::wstring();
  return value;
}

// The program a command line starts: the quoted or the first word.
std::wstring ProgramOf(const std::wstring& command) {
  if (!command.empty() && command[0] == L'"') return command.substr(1, command.find(L'"', 1) - 1);
  return command.substr(0, command.find(L' '));
}

Process StartCommand(const std::wstring& program, std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  Process process;
  if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process.handle = info.hProcess;
    process.pid = info.dwProcessId;
  }
  return process;
}

// No Corvane runs, none is installed (nor renamed aside by an uninstall) and there is no record.
void Clean(const std::wstring& installed) {
  while (HWND window = FindWindowW(kControlWindowClass, nullptr)) {
    Process resident;
    GetWindowThreadProcessId(window, &resident.pid);
    resident.handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  resident.pid);
    if (!resident.handle) break;
    EndProcess(&resident);
  }
  DeleteFileW(installed.c_str());
  const std::wstring folder = installed.substr(0, installed.rfind(L'\\') + 1);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"Corvane-*.old").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do DeleteFileW((folder + entry.cFileName).c_str());
    while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, L"Corvane");
    RegCloseKey(key);
  }
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
}

// Every report that reached a device other than the keyboard.
std::vector<std::string> ReportsToForeignDevices(const std::wstring& dir, const std::vector<std::string>& keyboard) {
  std::vector<std::string> foreign;
  for (const vdev::Report& report : vdev::ReadReports(dir)) {
    bool toKeyboard = false;
    for (const std::string& name : keyboard) toKeyboard = toKeyboard || report.interfaceName == name;
    if (!toKeyboard) foreign.push_back(report.interfaceName + ": " + vdev::HexBytes(report.bytes));
  }
  return foreign;
}

// Whatever a failed step leaves (a running Corvane, its record and file, the
// doubles in the system directory, a deletion at restart) goes with the test.
class Wow64Journey : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<vdev::HidInterface> interfaces = KeyboardAndForeignDevices();
    keyboard_ = KeyboardInterfaceNames(interfaces);
    ASSERT_TRUE(vdev::PrepareFolder(dir_) && vdev::WriteHidInterfaces(dir_, interfaces))
        << "cannot prepare the doubles' folder";
    // Inherited by the installer and so by the Corvane it starts.
    ASSERT_TRUE(SetEnvironmentVariableW(vdev::kDirVariable, dir_.c_str()));
    Clean(syswow64_);
    pendingRenames_ = ReadPendingRenames();
    virtualKeyboard_ = std::make_unique<VirtualKeyboardInSystemDirectory>(dir_);
    ASSERT_TRUE(virtualKeyboard_->ready())
        << "cannot put the hid and setupapi doubles into the 32-bit system directory";
  }

  // Before the doubles go: a Corvane still running would hold them.
  void TearDown() override {
    Clean(syswow64_);
    EXPECT_TRUE(RestorePendingRenames(pendingRenames_));
  }

  const std::wstring dir_ = RunFolder(L"Wow64Journey");
  const std::wstring syswow64_ = WindowsDirectory() + L"\\syswow64\\Corvane.exe";
  const std::wstring system32_ = WindowsDirectory() + L"\\sysnative\\Corvane.exe";
  std::vector<std::string> keyboard_;
  std::vector<wchar_t> pendingRenames_;
  std::unique_ptr<VirtualKeyboardInSystemDirectory> virtualKeyboard_;
};

TEST_F(Wow64Journey, InstallMuteUnmuteUninstall) {
  std::vector<char> built;
  ASSERT_TRUE(ReadBytes(ProgramFolder() + L"\\Corvane.exe", &built)) << "no Corvane.exe in this build";

  // Install.
  Process installer = StartCommand(ProgramFolder() + L"\\Install_Corvane.exe", L"Install_Corvane.exe");
  ASSERT_TRUE(installer.handle) << "Install_Corvane.exe did not start: " << GetLastError();
  DWORD code = 99;
  ASSERT_TRUE(WaitForExit(installer, kStepTimeoutMs, &code)) << "Install_Corvane.exe did not end";
  CloseHandle(installer.handle);
  EXPECT_EQ(code, 0u) << "exit code of Install_Corvane.exe";
  std::vector<char> installed;
  ASSERT_TRUE(ReadBytes(syswow64_, &installed)) << "the installer wrote no " << Narrow(syswow64_);
  EXPECT_TRUE(installed == built) << "the installed program is not this build's Corvane.exe";
  EXPECT_FALSE(Exists(system32_)) << "the installer wrote into the 64-bit system directory";

  HWND window = nullptr;
  ASSERT_TRUE(WaitUntil(kStepTimeoutMs, [&] { return (window = FindWindowW(kControlWindowClass, nullptr)); }))
      << "the installed Corvane is not resident";
  Process resident;
  GetWindowThreadProcessId(window, &resident.pid);
  resident.handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                resident.pid);
  ASSERT_TRUE(resident.handle) << "cannot open the resident process";
  wchar_t image[MAX_PATH];
  DWORD length = MAX_PATH;
  ASSERT_TRUE(QueryFullProcessImageNameW(resident.handle, 0, image, &length));
  EXPECT_TRUE(SamePath(image, syswow64_)) << "the resident runs from " << Narrow(image);

  // The record, in the 64-bit view only, naming a program that 64-bit Explorer finds.
  ASSERT_TRUE(WaitUntil(kStepTimeoutMs, RecordComplete)) << "no complete record in the 64-bit view";
  std::wstring run = RecordValue(kRunKey, L"Corvane", RRF_SUBKEY_WOW6464KEY);
  std::wstring uninstall = RecordValue(kUninstallKey, L"UninstallString", RRF_SUBKEY_WOW6464KEY);
  ASSERT_FALSE(run.empty()) << "no Run value \"Corvane\" in the 64-bit view";
  ASSERT_FALSE(uninstall.empty()) << "no \"UninstallString\" in the 64-bit view";
  EXPECT_TRUE(RecordValue(kRunKey, L"Corvane", RRF_SUBKEY_WOW6432KEY).empty()) << "Run value in the 32-bit view";
  EXPECT_TRUE(RecordValue(kUninstallKey, L"UninstallString", RRF_SUBKEY_WOW6432KEY).empty())
      << "uninstall entry in the 32-bit view";
  for (const std::wstring& command : {run, uninstall}) {
    std::wstring program = AsSeenBy64Bit(ProgramOf(command));
    std::vector<char> named;
    EXPECT_TRUE(ReadBytes(program, &named) && named == built)
        << "\"" << Narrow(command) << "\" names no installed Corvane.exe for a 64-bit process";
  }

  // Another application mutes, then unmutes.
  ASSERT_GE(WaitForAudioEvent(dir_, resident.pid, "register-control-change-notify", {"00000000"}, kStepTimeoutMs), 0)
      << "the resident did not bind to the virtual endpoint (32-bit COM registration of the double?)";
  for (bool muted : {true, false}) {
    size_t before = vdev::ReadReports(dir_).size();
    ASSERT_TRUE(vdev::SetMute(dir_, muted));
    EXPECT_TRUE(WaitForReportOnEach(dir_, before, resident.pid, keyboard_, MuteReport(muted), kStepTimeoutMs))
        << (muted ? "the mute" : "the unmute") << " did not reach every interface of the keyboard";
  }

  // Uninstall as 64-bit Programs and Features does: the string as it stands, from a 64-bit process.
  size_t before = vdev::ReadReports(dir_).size();
  Process uninstaller = StartCommand(WindowsDirectory() + L"\\sysnative\\cmd.exe", L"cmd /s /c \"" + uninstall + L"\"");
  ASSERT_TRUE(uninstaller.handle) << "the 64-bit cmd did not start: " << GetLastError();
  ASSERT_TRUE(WaitForExit(uninstaller, kStepTimeoutMs, &code)) << "\"" << Narrow(uninstall) << "\" did not end";
  CloseHandle(uninstaller.handle);
  EXPECT_EQ(code, 0u) << "exit code of \"" << Narrow(uninstall) << "\"";
  // From the uninstalling process, not a resync of the resident it closed.
  EXPECT_TRUE(WaitUntil(kStepTimeoutMs, [&] {
    std::vector<vdev::Report> reports = vdev::ReadReports(dir_);
    for (const std::string& name : keyboard_) {
      bool off = false;
      for (size_t i = before; i < reports.size(); ++i)
        off = off || (reports[i].interfaceName == name && reports[i].pid != resident.pid &&
                      reports[i].bytes == MuteReport(false));
      if (!off) return false;
    }
    return true;
  })) << "the uninstall did not turn the indicator off on every interface";
  EXPECT_TRUE(RecordValue(kRunKey, L"Corvane", RRF_SUBKEY_WOW6464KEY).empty()) << "the Run value is left";
  EXPECT_TRUE(RecordValue(kUninstallKey, L"UninstallString", RRF_SUBKEY_WOW6464KEY).empty())
      << "the uninstall entry is left";
  EXPECT_TRUE(WaitForExit(resident, kStepTimeoutMs, &code)) << "the resident still runs after the uninstall";
  EXPECT_FALSE(Exists(syswow64_)) << "the uninstall left " << Narrow(syswow64_);
  const std::vector<std::wstring> atRestart = DeletionsAtRestartSince(pendingRenames_);
  ASSERT_EQ(atRestart.size(), 1u) << "one file to delete at the restart";
  EXPECT_TRUE(WaitUntil(SELF_DELETE_ROUNDS * SELF_DELETE_ROUND_MS + kStepTimeoutMs, [&] {
    return !Exists(atRestart[0]);
  })) << "the delete command left " << Narrow(atRestart[0]);
  EXPECT_EQ(ReportsToForeignDevices(dir_, keyboard_), std::vector<std::string>()) << "reports to other devices";
  EndProcess(&resident);
}

}  // namespace
}  // namespace corvane
