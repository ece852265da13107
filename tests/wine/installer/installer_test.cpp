// Install_Corvane as a whole under Wine: the real installer carrying this build's
// Corvane.exe, installing into the prefix's system directory, with the virtual
// audio endpoint of the doubles. Every test starts without a target file, record
// or running Corvane, and leaves none behind.
//
// What the installer sends to a running Corvane is counted by a hook DLL
// (sent_message_probe.dll) set on that Corvane's main thread.

#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "program_driver.h"

namespace corvane {
namespace {

using Bytes = std::vector<unsigned char>;

// Well above the installer's waits for a resident that never ends: twice 5 s for
// the sent message and 20 s for the process (its stop step, then the record step).
constexpr DWORD kInstallerTimeoutMs = 90000;
constexpr DWORD kResidentTimeoutMs = 10000;
constexpr wchar_t kInstallerClass[] = L"Install_Corvane";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallParentKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kMessagesLog[] = L"messages.log";
// Appended to Corvane.exe to make a different program that still runs: the loader
// ignores bytes after the last section.
constexpr char kPreviousBuildMarker[] = "previous build of Corvane";

std::wstring BuiltFile(const wchar_t* name) { return ProgramFolder() + L"\\" + name; }

bool ReadBytes(const std::wstring& path, Bytes* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  DWORD got = 0;
  bool read = GetFileSizeEx(file, &size);
  if (read) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    read = ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) && got == bytes->size();
  }
  CloseHandle(file);
  return read;
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool complete = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return CloseHandle(file) && complete;
}

// Resource BIN 129 as the installer's image holds it.
Bytes EmbeddedProgram() {
  Bytes bytes;
  HMODULE image = LoadLibraryExW(BuiltFile(L"Install_Corvane.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return bytes;
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(129), L"BIN");
  HGLOBAL loaded = found ? LoadResource(image, found) : nullptr;
  const unsigned char* data = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
  if (data) bytes.assign(data, data + SizeofResource(image, found));
  FreeLibrary(image);
  return bytes;
}

std::wstring TargetPath() { return SystemDirectory() + L"\\Corvane.exe"; }
std::wstring TemporaryPath() { return TargetPath() + L".new"; }

std::set<std::wstring> SystemDirectoryNames() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((SystemDirectory() + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.insert(entry.cFileName);
  while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<HWND> TopLevelWindows(const wchar_t* className) {
  std::vector<HWND> windows;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) windows.push_back(window);
  return windows;
}

DWORD WindowProcessId(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// The control window of a Corvane other than process notPid, once there is one.
HWND WaitForOtherResident(DWORD notPid) {
  HWND found = nullptr;
  WaitUntil(kResidentTimeoutMs, [&] {
    for (HWND window : TopLevelWindows(kControlWindowClass)) {
      if (WindowProcessId(window) != notPid) found = window;
    }
    return found != nullptr;
  });
  return found;
}

std::wstring ProcessImagePath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  bool known = QueryFullProcessImageNameW(process, 0, path, &length);
  CloseHandle(process);
  return known ? std::wstring(path, length) : std::wstring();
}

// The Run value "Corvane" in the 64-bit view; empty while there is none.
std::wstring RunValue() {
  wchar_t value[MAX_PATH + 2];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"Corvane", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

void EndAllResidents() {
  for (HWND window : TopLevelWindows(kControlWindowClass)) {
    Process resident;
    resident.pid = WindowProcessId(window);
    resident.handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  resident.pid);
    EndProcess(&resident);
  }
}

void RemoveRecord() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, L"Corvane");
    RegCloseKey(key);
  }
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(key, L"Corvane");
    RegCloseKey(key);
  }
}

// Sets the hook of sent_message_probe.dll on the main thread of RESIDENT's process,
// so that every WM_DESTROY and WM_CLOSE sent to its window lands in messages.log.
class SentMessageProbe {
 public:
  explicit SentMessageProbe(HWND resident) {
    module_ = LoadLibraryW(BuiltFile(L"sent_message_probe.dll").c_str());
    FARPROC record = module_ ? GetProcAddress(module_, "RecordSentMessage") : nullptr;
    DWORD thread = GetWindowThreadProcessId(resident, nullptr);
    if (record && thread) {
      hook_ = SetWindowsHookExW(WH_CALLWNDPROC, reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(record)), module_,
                                thread);
    }
  }
  SentMessageProbe(const SentMessageProbe&) = delete;
  SentMessageProbe& operator=(const SentMessageProbe&) = delete;
  ~SentMessageProbe() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (module_) FreeLibrary(module_);
  }
  bool Active() const { return hook_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
  HHOOK hook_ = nullptr;
};

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = RunFolder(std::wstring(name.begin(), name.end()));
    ASSERT_TRUE(vdev::PrepareFolder(dir_)) << "cannot prepare the doubles' folder";
    // Inherited by the installer and so by every Corvane it starts.
    ASSERT_TRUE(SetEnvironmentVariableW(vdev::kDirVariable, dir_.c_str()));
    Clean();
    pendingRenames_ = ReadPendingRenames();
    ASSERT_TRUE(ReadBytes(BuiltFile(L"Corvane.exe"), &builtProgram_));
    embedded_ = EmbeddedProgram();
    ASSERT_FALSE(embedded_.empty()) << "no resource BIN 129 in Install_Corvane.exe";
    previousProgram_ = builtProgram_;
    previousProgram_.insert(previousProgram_.end(), kPreviousBuildMarker,
                            kPreviousBuildMarker + sizeof kPreviousBuildMarker);
  }

  void TearDown() override {
    for (Process& process : started_) EndProcess(&process);
    Clean();
    EXPECT_TRUE(RestorePendingRenames(pendingRenames_));
  }

  static void Clean() {
    EndAllResidents();
    SetFileAttributesW(TargetPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(TargetPath().c_str());
    DeleteFileW(TemporaryPath().c_str());
    for (const std::wstring& name : SystemDirectoryNames()) {
      if (name.compare(0, 8, L"Corvane-") == 0) DeleteFileW((SystemDirectory() + L"\\" + name).c_str());
    }
    RemoveRecord();
  }

  // On DESKTOP (null: this one), with OUTPUT (inheritable; null: none) as standard output.
  Process Start(const std::wstring& program, const wchar_t* desktop = nullptr, HANDLE output = nullptr) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(desktop);
    if (output) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = output;
    }
    PROCESS_INFORMATION info = {};
    Process process;
    EXPECT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                               nullptr, &startup, &info))
        << Narrow(program) << ": CreateProcessW failed: " << GetLastError();
    if (info.hProcess) {
      CloseHandle(info.hThread);
      process.handle = info.hProcess;
      process.pid = info.dwProcessId;
      started_.push_back(process);
    }
    return process;
  }

  Process StartInstaller() { return Start(BuiltFile(L"Install_Corvane.exe")); }

  DWORD ExitCodeOf(const Process& process) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(WaitForExit(process, kInstallerTimeoutMs, &code)) << "process " << process.pid << " still runs";
    return code;
  }

  // Puts a different Corvane at the target and starts it there without arguments,
  // with SETUP for its audio endpoint; returns once its volume callback is registered
  // (so it has read SETUP).
  Process StartPreviousResident(const vdev::AudioSetup& setup, HWND* window) {
    Process resident;
    if (!vdev::WriteAudioSetup(dir_, setup) || !WriteBytes(TargetPath(), previousProgram_)) return resident;
    resident = Start(TargetPath());
    *window = WaitForControlWindow(resident.pid, kResidentTimeoutMs);
    EXPECT_GE(WaitForAudioEvent(dir_, resident.pid, "register-control-change-notify", {"00000000"}, 5000), 0)
        << "the previous Corvane did not bind to the virtual endpoint";
    // Corvanes started from now on end promptly.
    EXPECT_TRUE(vdev::WriteAudioSetup(dir_, vdev::AudioSetup{}));
    return resident;
  }

  size_t SentTo(DWORD pid, const char* event) const {
    std::vector<vdev::LogEntry> log = vdev::ReadLog(dir_, kMessagesLog);
    return std::count_if(log.begin(), log.end(),
                         [&](const vdev::LogEntry& entry) { return entry.pid == pid && entry.event == event; });
  }

  Bytes AtTarget() const {
    Bytes bytes;
    EXPECT_TRUE(ReadBytes(TargetPath(), &bytes)) << "no file at the target";
    return bytes;
  }

  // A Corvane other than process notPid runs from the target and has recorded
  // itself for log-on: it was started in install mode.
  void ExpectStartedFromTargetInInstallMode(DWORD notPid) {
    HWND window = WaitForOtherResident(notPid);
    ASSERT_NE(window, nullptr) << "no Corvane was started";
    std::wstring image = ProcessImagePath(WindowProcessId(window));
    EXPECT_TRUE(SamePath(image, TargetPath())) << "it runs from " << Narrow(image);
    std::wstring run;
    WaitUntil(kResidentTimeoutMs, [&] { return !(run = RunValue()).empty(); });
    EXPECT_TRUE(SamePath(run, TargetPath())) << "Run value \"" << Narrow(run) << "\"";
  }

  std::wstring dir_;
  std::vector<wchar_t> pendingRenames_;  // as before the test
  Bytes builtProgram_;
  Bytes embedded_;
  Bytes previousProgram_;  // at the target before the installer runs

 private:
  std::vector<Process> started_;
};

TEST_F(InstallerTest, FreshInstallWritesTheCarriedProgramAndStartsItInInstallMode) {
  std::set<std::wstring> before = SystemDirectoryNames();
  // Read as a deployment tool reads it: the pipe ends with the installer, though the resident runs on.
  HANDLE reader, writer;
  ASSERT_TRUE(CreateOutputPipe(&reader, &writer));
  Process installer = Start(BuiltFile(L"Install_Corvane.exe"), nullptr, writer);
  CloseHandle(writer);
  ASSERT_TRUE(installer.handle);
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  EXPECT_TRUE(PipeEnded(reader)) << "a process the installer started holds its output";
  CloseHandle(reader);

  Bytes installed = AtTarget();
  EXPECT_TRUE(installed == embedded_) << installed.size() << " bytes at the target, " << embedded_.size()
                                      << " carried";
  EXPECT_TRUE(installed == builtProgram_) << "the installer carries another Corvane.exe than this build's";
  ExpectStartedFromTargetInInstallMode(0);

  // A copy elsewhere checks the installed resident and the program its record names.
  DWORD code = 99;
  std::string text;
  ASSERT_TRUE(RunCheck(dir_, CorvaneCopyPath(dir_), &code, &text)) << "no report within 10 s";
  for (const char* line : {", in the system folder of its bitness\r\n",
                           "Corvane.exe (the program the Run value names)\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << "no line " << line << " in\n" << text;
  }

  std::set<std::wstring> after = SystemDirectoryNames();
  std::vector<std::wstring> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_EQ(added, std::vector<std::wstring>{L"Corvane.exe"}) << "files left beside the target";
}

// An interrupted install left a longer Corvane.exe.new: it is written over from
// its start to the carried program's end, with nothing of the old tail kept.
TEST_F(InstallerTest, LongerStaleTemporaryFileIsReplacedWhole) {
  Bytes stale = previousProgram_;
  stale.resize(embedded_.size() + 65536, 0xCC);
  ASSERT_TRUE(WriteBytes(TemporaryPath(), stale));

  Process installer = StartInstaller();
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  Bytes installed = AtTarget();
  EXPECT_TRUE(installed == embedded_) << installed.size() << " bytes at the target, " << embedded_.size()
                                      << " carried";
  EXPECT_EQ(GetFileAttributesW(TemporaryPath().c_str()), INVALID_FILE_ATTRIBUTES) << "the .new file remains";
  ExpectStartedFromTargetInInstallMode(0);
}

// A window of class CORVANE that never answers (a hung resident, or another
// program's) holds the installer up for the bounded waits of its stop step and of
// the record step, not for ever. The carried program is written and recorded, but
// cannot become the resident while that window stays: exit code 1.
TEST_F(InstallerTest, WindowThatNeverAnswersHoldsTheInstallOnlyForTheBoundedWaits) {
  constexpr DWORD kBoundMs = 75000;
  UnansweringWindow hung;
  ASSERT_NE(hung.window(), nullptr) << "no window: " << GetLastError();
  DWORD start = GetTickCount();
  Process installer = StartInstaller();
  ASSERT_TRUE(installer.handle);
  DWORD exitCode = 0xDEADBEEF;
  bool ended = WaitForExit(installer, kBoundMs, &exitCode);
  printf("[ timing ] installer past a window that never answers: %lu ms\n", GetTickCount() - start);
  ASSERT_TRUE(ended) << "still held up after " << kBoundMs << " ms";
  EXPECT_EQ(exitCode, 1u);
  EXPECT_TRUE(AtTarget() == embedded_) << "the target was not written";
  EXPECT_TRUE(SamePath(RunValue(), TargetPath())) << "Run value \"" << Narrow(RunValue()) << "\"";
  EXPECT_EQ(TopLevelWindows(kControlWindowClass), std::vector<HWND>{hung.window()}) << "a Corvane runs beside it";
}

struct UpgradeCase {
  const char* name;
  unsigned releaseDelayMs;  // how long the old Corvane's teardown keeps it alive
};

void PrintTo(const UpgradeCase& upgrade, std::ostream* out) { *out << upgrade.name; }

class InstallerUpgradeTest : public InstallerTest, public ::testing::WithParamInterface<UpgradeCase> {};

// The running Corvane gets one WM_DESTROY, ends, and is replaced, also when it
// takes far longer to exit than the 100 ms between the installer's steps.
TEST_P(InstallerUpgradeTest, ReplacesTheRunningResident) {
  vdev::AudioSetup slow;
  slow.releaseDelayMs = GetParam().releaseDelayMs;
  HWND oldWindow = nullptr;
  Process old = StartPreviousResident(slow, &oldWindow);
  ASSERT_NE(oldWindow, nullptr) << "the previous Corvane did not start";
  Process elsewhere = Start(TargetPath(), kOtherDesktop);
  ASSERT_GE(WaitForAudioEvent(dir_, elsewhere.pid, "register-control-change-notify", {}, kResidentTimeoutMs), 0)
      << "no previous Corvane on the other desktop";
  ASSERT_EQ(FindControlWindow(elsewhere.pid), nullptr) << "the other desktop's windows are seen from here";
  const std::set<std::wstring> before = SystemDirectoryNames();
  SentMessageProbe probe(oldWindow);
  ASSERT_TRUE(probe.Active()) << "hook not set: " << GetLastError();

  Process installer = StartInstaller();
  ASSERT_TRUE(installer.handle);
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  // The file is replaced only once the previous Corvane has ended.
  EXPECT_FALSE(IsRunning(old)) << "the installer did not wait for the previous Corvane";

  DWORD oldExitCode = 0;
  EXPECT_TRUE(WaitForExit(old, kResidentTimeoutMs, &oldExitCode)) << "the previous Corvane still runs";
  EXPECT_TRUE(WaitForExit(elsewhere, 0, &oldExitCode) && oldExitCode == 0) << "the other desktop's Corvane runs on";
  EXPECT_EQ(SentTo(old.pid, "destroy"), 1u);
  EXPECT_EQ(SentTo(old.pid, "close"), 0u) << "the new Corvane had to close the previous one";
  EXPECT_GE(WaitForAudioEvent(dir_, old.pid, "last-release", {"enumerator"}, 0), 0)
      << "the previous Corvane did not end through its teardown";
  EXPECT_TRUE(AtTarget() == embedded_) << "the target was not replaced";
  // A resident that ended lets its file be replaced in place: nothing goes aside.
  EXPECT_EQ(SystemDirectoryNames(), before) << "files left beside the target";
  EXPECT_TRUE(DeletionsAtRestartSince(pendingRenames_).empty());
  ExpectStartedFromTargetInInstallMode(old.pid);
}

INSTANTIATE_TEST_SUITE_P(, InstallerUpgradeTest,
                         ::testing::Values(UpgradeCase{"PromptExit", 0}, UpgradeCase{"SlowExit", 1500}),
                         [](const ::testing::TestParamInfo<UpgradeCase>& info) { return info.param.name; });

// A keyboard that does not answer holds the running Corvane in its report, on each
// of two interfaces, for longer than the installer's sent WM_DESTROY waits: the
// installer waits for that Corvane to end, and exactly one runs afterwards.
TEST_F(InstallerTest, ResidentHeldByAStalledKeyboardIsReplacedByExactlyOne) {
  std::vector<vdev::HidInterface> keyboard = {{L"keyboard-mi01", kKeyboardVendorId, kKeyboardProductId},
                                              {L"keyboard-mi02", kKeyboardVendorId, kKeyboardProductId}};
  for (vdev::HidInterface& device : keyboard) device.stallMs = 6000;
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, keyboard));
  VirtualKeyboardInSystemDirectory doubles(dir_);
  ASSERT_TRUE(doubles.ready()) << "cannot put the hid and setupapi doubles into the system directory";
  HWND oldWindow = nullptr;
  Process old = StartPreviousResident(vdev::AudioSetup{}, &oldWindow);
  ASSERT_NE(oldWindow, nullptr) << "the previous Corvane did not start";
  ASSERT_TRUE(WaitUntil(kResidentTimeoutMs, [&] {
    for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog)) {
      if (entry.pid == old.pid && entry.event == "stall") return true;
    }
    return false;
  })) << "the previous Corvane's report did not stall";

  Process installer = StartInstaller();
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  DWORD oldExitCode = 0;
  EXPECT_TRUE(WaitForExit(old, 0, &oldExitCode)) << "the previous Corvane still runs";
  const std::vector<HWND> residents = TopLevelWindows(kControlWindowClass);
  ASSERT_EQ(residents.size(), 1u) << "Corvanes running";
  EXPECT_TRUE(SamePath(ProcessImagePath(WindowProcessId(residents[0])), TargetPath()));
  // Before the doubles go back: a running Corvane holds them.
  Clean();
}

// A target that cannot be replaced (held open without delete sharing, as Windows
// holds a running program's file; or no room for the new file beside it) stays as
// it was, nothing is left beside it, nothing is recorded or started: exit code 1.
TEST_F(InstallerTest, UnwritableTargetIsLeftUntouchedAndReported) {
  // Of the carried program's size: only the read-back of its bytes tells it apart.
  Bytes previous = embedded_;
  previous[previous.size() / 2] ^= 0xFF;
  for (const bool folderAtTemporaryPath : {false, true}) {
    SCOPED_TRACE(folderAtTemporaryPath ? "a folder named Corvane.exe.new" : "the target held open");
    ASSERT_TRUE(WriteBytes(TargetPath(), previous));
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (folderAtTemporaryPath) {
      ASSERT_TRUE(CreateDirectoryW(TemporaryPath().c_str(), nullptr));
    } else {
      lock = CreateFileW(TargetPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    }
    std::set<std::wstring> before = SystemDirectoryNames();

    Process installer = StartInstaller();
    EXPECT_EQ(ExitCodeOf(installer), 1u);
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    if (folderAtTemporaryPath) {
      EXPECT_TRUE(RemoveDirectoryW(TemporaryPath().c_str()));
    }

    EXPECT_TRUE(AtTarget() == previous) << "the target changed";
    before.erase(L"Corvane.exe.new");
    EXPECT_EQ(SystemDirectoryNames(), before) << "files left beside the target";
    EXPECT_EQ(RunValue(), L"") << "a record was written";
    EXPECT_TRUE(TopLevelWindows(kControlWindowClass).empty()) << "a Corvane was started";
  }
}

// A scanner that opens the freshly written Corvane.exe.new without delete sharing
// holds up its move for about a second: the move is tried again, and the target
// does not go aside for it.
TEST_F(InstallerTest, NewFileHeldBrieflyByAScannerIsMovedInOnceReleased) {
  ASSERT_TRUE(WriteBytes(TargetPath(), previousProgram_));
  HANDLE scanner = CreateFileW(TemporaryPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  std::set<std::wstring> before = SystemDirectoryNames();

  Process installer = StartInstaller();
  ASSERT_TRUE(installer.handle);
  EXPECT_TRUE(WaitUntil(kInstallerTimeoutMs, [&] {
    LARGE_INTEGER size;
    return GetFileSizeEx(scanner, &size) && size.QuadPart == static_cast<LONGLONG>(embedded_.size());
  })) << "the installer did not write the new file";
  Sleep(1000);  // the scanner's look at the file
  CloseHandle(scanner);

  EXPECT_EQ(ExitCodeOf(installer), 0u);
  EXPECT_TRUE(AtTarget() == embedded_) << "the target was not replaced";
  before.erase(L"Corvane.exe.new");
  EXPECT_EQ(SystemDirectoryNames(), before) << "files left beside the target";
  EXPECT_TRUE(DeletionsAtRestartSince(pendingRenames_).empty()) << "the target went aside";
  ExpectStartedFromTargetInInstallMode(0);
}

// A process that the stop step cannot reach (here a Corvane that shows its start-up
// failure, without a window) maps the old program, which Windows then refuses to
// replace but lets rename: it goes aside in the same folder until the restart,
// and the new program takes its name and is started.
TEST_F(InstallerTest, TargetMappedByAnUnreachableProcessIsRenamedAsideAndReplaced) {
  vdev::AudioSetup absent;
  absent.endpointAbsent = true;
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, absent));
  ASSERT_TRUE(WriteBytes(TargetPath(), previousProgram_));
  Process holder = Start(TargetPath());
  ASSERT_NE(WaitForMessageBox(holder.pid, L"Error", kResidentTimeoutMs, nullptr), nullptr) << "the old program runs";
  ASSERT_TRUE(vdev::WriteAudioSetup(dir_, vdev::AudioSetup{}));
  std::set<std::wstring> before = SystemDirectoryNames();

  Process installer = StartInstaller();
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  EXPECT_TRUE(IsRunning(holder)) << "the old program was reached after all";
  EXPECT_TRUE(AtTarget() == embedded_) << "the target was not replaced";
  const std::vector<std::wstring> atRestart = DeletionsAtRestartSince(pendingRenames_);
  ASSERT_EQ(atRestart.size(), 1u) << "one file to delete at the restart";
  Bytes aside;
  EXPECT_TRUE(ReadBytes(atRestart[0], &aside) && aside == previousProgram_) << Narrow(atRestart[0]);
  std::set<std::wstring> after = SystemDirectoryNames();
  std::vector<std::wstring> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  ASSERT_EQ(added.size(), 1u) << "files left beside the target";
  EXPECT_TRUE(SamePath(SystemDirectory() + L"\\" + added[0], atRestart[0])) << Narrow(added[0]);
  ExpectStartedFromTargetInInstallMode(holder.pid);
}

// While it lives, Wine takes a native uxtheme.dll before its own in Install_Corvane.exe,
// as Windows takes any DLL it finds first in the search order.
class NativeUxthemeFirst {
 public:
  NativeUxthemeFirst() {
    written_ = RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"uxtheme", REG_SZ, L"native,builtin",
                               sizeof L"native,builtin") == ERROR_SUCCESS;
  }
  NativeUxthemeFirst(const NativeUxthemeFirst&) = delete;
  NativeUxthemeFirst& operator=(const NativeUxthemeFirst&) = delete;
  ~NativeUxthemeFirst() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"uxtheme"); }
  bool written() const { return written_; }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\Install_Corvane.exe\\DllOverrides";
  bool written_ = false;
};

// The installer runs elevated from wherever it was downloaded to: a DLL placed beside
// it under the name of one that a system library loads later (user32 loads
// uxtheme.dll for the first window) must not be loaded.
TEST_F(InstallerTest, LoadsNoLibraryFromItsOwnFolderOnceRunning) {
  const std::wstring downloads = dir_ + L"\\downloads\\";
  ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
  for (const auto& [built, copy] : {std::make_pair(L"Install_Corvane.exe", L"Install_Corvane.exe"),
                                    std::make_pair(L"sent_message_probe.dll", L"uxtheme.dll")}) {
    ASSERT_TRUE(CopyFileW(BuiltFile(built).c_str(), (downloads + copy).c_str(), TRUE)) << Narrow(copy);
  }
  // Under its own name, since this process takes Wine's uxtheme whatever the path.
  HMODULE probe = LoadLibraryW(BuiltFile(L"sent_message_probe.dll").c_str());
  ASSERT_NE(probe, nullptr);
  FreeLibrary(probe);
  ASSERT_EQ(SentTo(GetCurrentProcessId(), "attach"), 1u) << "the probe does not log its loading";

  NativeUxthemeFirst nativeFirst;
  ASSERT_TRUE(nativeFirst.written());
  Process installer = Start(downloads + L"Install_Corvane.exe");
  EXPECT_EQ(ExitCodeOf(installer), 0u);
  EXPECT_EQ(SentTo(installer.pid, "attach"), 0u) << "the installer loaded uxtheme.dll from its own folder";
  ExpectStartedFromTargetInInstallMode(0);
}

// The second installer, on another desktop, finds the first one's mutex and leaves at once, while the
// first is still waiting for a Corvane that is slow to exit; that Corvane is
// stopped once.
TEST_F(InstallerTest, SecondInstallerExitsAtOnceWhileTheFirstRuns) {
  vdev::AudioSetup slow;
  slow.releaseDelayMs = 4000;
  HWND oldWindow = nullptr;
  Process old = StartPreviousResident(slow, &oldWindow);
  ASSERT_NE(oldWindow, nullptr) << "the previous Corvane did not start";
  SentMessageProbe probe(oldWindow);
  ASSERT_TRUE(probe.Active()) << "hook not set: " << GetLastError();

  Process first = StartInstaller();
  ASSERT_TRUE(WaitUntil(kInstallerTimeoutMs, [] { return !TopLevelWindows(kInstallerClass).empty(); }))
      << "the first installer made no window";
  Process second = Start(BuiltFile(L"Install_Corvane.exe"), kOtherDesktop);
  EXPECT_EQ(ExitCodeOf(second), 1u) << "the second installer installed nothing";
  EXPECT_TRUE(IsRunning(first)) << "the second installer ended only after the first";

  EXPECT_EQ(ExitCodeOf(first), 0u);
  DWORD oldExitCode = 0;
  EXPECT_TRUE(WaitForExit(old, kResidentTimeoutMs, &oldExitCode)) << "the previous Corvane still runs";
  EXPECT_EQ(SentTo(old.pid, "destroy"), 1u);
  EXPECT_TRUE(AtTarget() == embedded_) << "the target was not replaced";
  ExpectStartedFromTargetInInstallMode(old.pid);
}

}  // namespace
}  // namespace corvane
