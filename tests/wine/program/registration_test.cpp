// Corvane.exe installing and uninstalling itself, read back from the test
// prefix's registry (the 64-bit view, where Windows looks for both keys) and
// file system: the record that "/install" writes, its removal by "/uninstall"
// together with the indicator and the program file (also when the program is
// slow to exit or a keyboard stalls), and failures and other programs' records
// that must leave both alone.

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "program_test.h"
#include "registration/self_delete_command.h"

namespace corvane {
namespace {

constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallParentKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";
constexpr wchar_t kProgramName[] = L"Corvane";  // Run value and uninstall subkey
// Another program's Run value and uninstall entry, which uninstalling must not touch.
// The shared prefix of the names catches removal by prefix.
constexpr wchar_t kNeighbourName[] = L"CorvaneNeighbour";
constexpr wchar_t kNeighbourKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CorvaneNeighbour";
constexpr wchar_t kCompanionFile[] = L"Corvane_WMI_DLL.dll";
constexpr DWORD kRecordTimeoutMs = 5000;
// The delete command gives up after its rounds; starting it under load takes a few seconds more.
constexpr DWORD kFileGoneTimeoutMs = SELF_DELETE_ROUNDS * SELF_DELETE_ROUND_MS + 5000;

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
using RegValues = std::map<std::wstring, RegValue>;

RegValue Text(const std::wstring& text) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return RegValue{REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

RegValue Dword(DWORD number) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
  return RegValue{REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof number)};
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      narrow += static_cast<char>(c);
    } else {
      char escape[16];
      snprintf(escape, sizeof escape, "\\x{%x}", static_cast<unsigned>(c));
      narrow += escape;
    }
  }
  return narrow;
}

// Type, exact length and data, in one line that failures print.
std::string Describe(const RegValue& value) {
  std::string text = value.type == REG_SZ      ? "REG_SZ"
                     : value.type == REG_DWORD ? "REG_DWORD"
                                               : "type " + std::to_string(value.type);
  text += ", " + std::to_string(value.data.size()) + " bytes: ";
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number;
    memcpy(&number, value.data.data(), sizeof number);
    text += std::to_string(number);
  } else if (value.type == REG_SZ && value.data.size() % sizeof(wchar_t) == 0) {
    std::wstring characters(value.data.size() / sizeof(wchar_t), L'\0');
    memcpy(&characters[0], value.data.data(), value.data.size());
    text += "\"" + Narrow(characters) + "\"";  // the terminator shows as \x{0}
  } else {
    for (BYTE byte : value.data) {
      char hex[4];
      snprintf(hex, sizeof hex, "%02x ", byte);
      text += hex;
    }
  }
  return text;
}

HKEY OpenKey(const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

bool KeyExists(const wchar_t* path) {
  HKEY key = OpenKey(path, KEY_READ);
  if (key) RegCloseKey(key);
  return key != nullptr;
}

bool ReadValue(HKEY key, const wchar_t* name, RegValue* value) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  value->type = type;
  value->data.assign(size, 0);
  return size == 0 || (RegQueryValueExW(key, name, nullptr, &type, value->data.data(), &size) == ERROR_SUCCESS &&
                       size == value->data.size());
}

bool ReadValue(const wchar_t* keyPath, const wchar_t* name, RegValue* value) {
  HKEY key = OpenKey(keyPath, KEY_QUERY_VALUE);
  if (!key) return false;
  bool read = ReadValue(key, name, value);
  RegCloseKey(key);
  return read;
}

bool ValueExists(const wchar_t* keyPath, const wchar_t* name) {
  RegValue value;
  return ReadValue(keyPath, name, &value);
}

// Every value of the key; none when it does not exist.
RegValues ReadKey(const wchar_t* path) {
  RegValues values;
  HKEY key = OpenKey(path, KEY_READ);
  if (!key) return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = ARRAYSIZE(name);
    if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    RegValue value;
    if (ReadValue(key, name, &value)) values[name] = value;
  }
  RegCloseKey(key);
  return values;
}

bool WriteValues(const wchar_t* path, const RegValues& values) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  for (const auto& [name, value] : values) {
    written = written && RegSetValueExW(key, name.c_str(), 0, value.type, value.data.data(),
                                        static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
  }
  return RegCloseKey(key) == ERROR_SUCCESS && written;
}

// Removes Corvane's record and the neighbour's entries.
void RemoveRecords() {
  if (HKEY run = OpenKey(kRunKey, KEY_SET_VALUE)) {
    RegDeleteValueW(run, kProgramName);
    RegDeleteValueW(run, kNeighbourName);
    RegCloseKey(run);
  }
  if (HKEY parent = OpenKey(kUninstallParentKey, KEY_ALL_ACCESS)) {
    RegDeleteTreeW(parent, kProgramName);
    RegDeleteTreeW(parent, kNeighbourName);
    RegCloseKey(parent);
  }
}

// The values of VALUES against EXPECTED, one failure per missing, different or extra value.
void ExpectValues(const RegValues& values, const RegValues& expected) {
  for (const auto& [name, value] : expected) {
    auto found = values.find(name);
    if (found == values.end()) {
      ADD_FAILURE() << Narrow(name) << " is missing; expected " << Describe(value);
    } else {
      EXPECT_EQ(Describe(found->second), Describe(value)) << Narrow(name);
    }
  }
  for (const auto& [name, value] : values) {
    if (expected.count(name) == 0) ADD_FAILURE() << "unexpected value " << Narrow(name) << ": " << Describe(value);
  }
}

// The local date as the record writes it, "%d%02d%02d".
std::wstring Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  auto twoDigits = [](WORD number) { return std::wstring(number < 10 ? L"0" : L"") + std::to_wstring(number); };
  return std::to_wstring(now.wYear) + twoDigits(now.wMonth) + twoDigits(now.wDay);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA status;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &status)) return 0;
  return status.nFileSizeLow;
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\') + 1); }

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool HasBlank(const std::wstring& text) { return text.find(L' ') != std::wstring::npos; }

// The text that Windows runs as a command: quoted exactly when it has a blank.
std::wstring CommandPath(const std::wstring& path, bool quoted) { return quoted ? L"\"" + path + L"\"" : path; }

// What an earlier version left behind: other data than this one writes, and a
// value that this one does not write.
RegValues EarlierUninstallEntry() {
  return {{L"DisplayName", Text(L"Corvane")},
          {L"DisplayVersion", Text(L"1.0.0.9")},
          {L"EstimatedSize", Dword(9)},
          {L"InstallDate", Text(L"20190704")},
          {L"UninstallString", Text(L"C:\\Earlier\\Corvane.exe /uninstall")},
          {L"Comments", Text(L"written by an earlier version")}};
}

class RegistrationTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (HasFatalFailure()) return;
    RemoveRecords();
    ASSERT_FALSE(ValueExists(kRunKey, kProgramName)) << "cannot remove an earlier Run value";
    ASSERT_FALSE(KeyExists(kUninstallKey)) << "cannot remove an earlier uninstall entry";
    pendingRenames_ = ReadPendingRenames();
  }

  void TearDown() override {
    ProgramTest::TearDown();
    RemoveRecords();
    EXPECT_TRUE(RestorePendingRenames(pendingRenames_));
  }

  // After the exit of PROCESS, which started no delete command: none runs, and
  // none ran, for it would have deleted the program file first.
  void ExpectNoDeleteCommand(const Process& process) {
    EXPECT_FALSE(HasRunningChildren(process.pid)) << "a command runs";
    EXPECT_TRUE(FileExists(ProgramPath())) << "the program file was deleted";
    EXPECT_TRUE(DeletionsAtRestartSince(pendingRenames_).empty()) << "a deletion at restart was recorded";
  }

  // Moves the test's folder, and with it the program's copy, into a subfolder
  // whose name has a blank. Call before anything is written to the folder.
  void UseFolderWithBlank() {
    dir_ += L"\\Program Files";
    ASSERT_TRUE(vdev::PrepareFolder(dir_));
    ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
  }

  void RemoveKeyboard() {
    std::vector<vdev::HidInterface> others;
    for (const vdev::HidInterface& device : interfaces_) {
      if (device.vendorId != kKeyboardVendorId || device.productId != kKeyboardProductId) others.push_back(device);
    }
    interfaces_ = others;
    keyboard_.clear();
    ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
  }

  void SetAudio(bool muted, bool endpointAbsent) {
    vdev::AudioSetup setup;
    setup.muted = muted;
    setup.endpointAbsent = endpointAbsent;
    ASSERT_TRUE(vdev::WriteAudioSetup(dir_, setup));
  }

  std::wstring ProgramPath() const { return CorvaneCopyPath(dir_); }
  std::vector<wchar_t> pendingRenames_;  // as before the test
  std::wstring AppFile(const wchar_t* name) const { return Folder(ProgramPath()) + name; }

  // The record is written 200 ms after the control window exists, "VersionMinor" last.
  bool WaitForRecord() {
    return WaitUntil(kRecordTimeoutMs, [] { return ValueExists(kUninstallKey, L"VersionMinor"); });
  }

  // The record for the program's copy, with EXTRA values of an earlier record
  // that it leaves alone. InstallDate is today's, on either side of midnight.
  void ExpectRecord(const std::wstring& dateBefore, const std::wstring& dateAfter, const RegValues& extra = {}) {
    const std::wstring path = ProgramPath();
    const bool quoted = HasBlank(path);

    RegValue run;
    ASSERT_TRUE(ReadValue(kRunKey, kProgramName, &run)) << "no Run value";
    EXPECT_EQ(Describe(run), Describe(Text(CommandPath(path, quoted)))) << "Run value";

    RegValues values = ReadKey(kUninstallKey);
    std::wstring date = dateBefore;
    if (values.count(L"InstallDate") && Describe(values[L"InstallDate"]) == Describe(Text(dateAfter))) {
      date = dateAfter;
    }
    RegValues expected = {
        {L"DisplayIcon", Text(path)},
        {L"DisplayName", Text(L"Corvane")},
        {L"DisplayVersion", Text(L"1.0.0.10")},
        {L"EstimatedSize", Dword(FileSize(path) / 1024)},
        {L"InstallDate", Text(date)},
        {L"InstallLocation", Text(Folder(path))},
        {L"Language", Dword(0)},
        {L"NoModify", Dword(1)},
        {L"NoRepair", Dword(1)},
        {L"Publisher", Text(L"Zeltraan Corporation")},
        {L"UninstallString", Text(CommandPath(path, quoted) + L" /uninstall")},
        {L"VersionMajor", Dword(1)},
        {L"VersionMinor", Dword(10)},
    };
    expected.insert(extra.begin(), extra.end());
    ExpectValues(values, expected);
  }

  // Each interface that got a report from PID, with what it got.
  std::map<std::string, std::vector<std::string>> ReportsOf(DWORD pid) const {
    std::map<std::string, std::vector<std::string>> reports;
    for (const vdev::Report& report : vdev::ReadReports(dir_)) {
      if (report.pid == pid) reports[report.interfaceName].push_back(vdev::HexBytes(report.bytes) + " " + report.result);
    }
    return reports;
  }
};

// "/install" from a folder with a blank in its path and from one without.
struct InstallPlace {
  const char* name;
  bool blank;
};

void PrintTo(const InstallPlace& place, std::ostream* out) { *out << place.name; }

class RegistrationInstallTest : public RegistrationTest, public ::testing::WithParamInterface<InstallPlace> {};

TEST_P(RegistrationInstallTest, WritesTheRecordOfItsOwnFileAndStaysResident) {
  if (GetParam().blank) {
    ASSERT_NO_FATAL_FAILURE(UseFolderWithBlank());
  }
  if (!GetParam().blank && HasBlank(ProgramPath())) {
    GTEST_SKIP() << "the build tree's path has a blank: " << Narrow(ProgramPath());
  }

  const std::wstring dateBefore = Today();
  Process process = Start(L"/install");
  ASSERT_NE(WaitForControlWindow(process.pid, 10000), nullptr) << "no control window";
  ASSERT_TRUE(WaitForRecord()) << "no complete uninstall entry " << kRecordTimeoutMs << " ms after the window";
  const std::wstring dateAfter = Today();

  ASSERT_EQ(HasBlank(ProgramPath()), GetParam().blank) << Narrow(ProgramPath());
  ExpectRecord(dateBefore, dateAfter);
  EXPECT_TRUE(IsRunning(process)) << "the instance did not stay resident";
  EXPECT_NE(FindControlWindow(process.pid), nullptr);

  // The audio service restarts: the resident hears nothing until a trigger. The
  // check asks it, and its exit code holds for the next mute.
  ASSERT_TRUE(vdev::SendAudioCommand(dir_, "service-restart"));
  ASSERT_GE(WaitForAudioEvent(dir_, process.pid, "service-restart", {}, 5000), 0);
  DWORD code = 99;
  std::string text;
  ASSERT_TRUE(RunCheck(dir_, ProgramPath(), &code, &text)) << "no report within 10 s";
  const size_t beforeMute = ReportCount();
  ASSERT_TRUE(vdev::SetMute(dir_, true));
  EXPECT_EQ(WaitForReportOnEach(dir_, beforeMute, process.pid, keyboard_, MuteReport(true), 5000), code == 0) << text;
  EXPECT_EQ(code, 0u) << text;
}

INSTANTIATE_TEST_SUITE_P(Places, RegistrationInstallTest,
                         ::testing::Values(InstallPlace{"PathWithBlank", true},
                                           InstallPlace{"PathWithoutBlank", false}),
                         [](const ::testing::TestParamInfo<InstallPlace>& info) {
                           return std::string(info.param.name);
                         });

// A reinstall: the running resident hands over, and the new record replaces
// the earlier one value by value. The elevated instance of a relaunched install
// then ends with 0, leaving the resident's start to its launcher.
class RegistrationReinstallTest : public RegistrationTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RegistrationReinstallTest, InstallTakesOverFromTheResidentAndReplacesTheEarlierRecord) {
  const bool relaunched = GetParam();
  ASSERT_TRUE(WriteValues(kRunKey, {{kProgramName, Text(L"C:\\Earlier\\Corvane.exe")}}));
  ASSERT_TRUE(WriteValues(kUninstallKey, EarlierUninstallEntry()));
  Process resident = StartResident();

  const std::wstring dateBefore = Today();
  Process installing = Start(relaunched ? L"/install /relaunched" : L"/install");
  EXPECT_EQ(ExitCodeOf(resident), 0u) << "the resident did not hand over";
  if (relaunched) {
    EXPECT_EQ(ExitCodeOf(installing), 0u) << "the record was not written";
  } else {
    ASSERT_NE(WaitForControlWindow(installing.pid, 10000), nullptr) << "no control window";
  }
  ASSERT_TRUE(WaitForRecord()) << "no complete uninstall entry " << kRecordTimeoutMs << " ms after the window";
  const std::wstring dateAfter = Today();

  ExpectRecord(dateBefore, dateAfter, {{L"Comments", Text(L"written by an earlier version")}});
  EXPECT_EQ(IsRunning(installing), !relaunched) << "the new instance must stay resident unless relaunched";
}

INSTANTIATE_TEST_SUITE_P(Starts, RegistrationReinstallTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Relaunched" : "Direct");
                         });

struct UninstallCase {
  const char* name;
  bool blank;        // the program's folder has a blank in its path
  bool keyboard;     // the keyboard is plugged in
  bool installed;    // a resident started with "/install" runs and its record exists
  DWORD exitDelayMs; // the uninstaller's teardown takes this long after the delete command started
  bool audioOutput = true;     // a default render endpoint exists when the uninstall starts
  bool userStandIns = false;   // COMSPEC, and PATH with PATHEXT for ping, name batch files that must not start
};

void PrintTo(const UninstallCase& test, std::ostream* out) { *out << test.name; }

class RegistrationUninstallTest : public RegistrationTest, public ::testing::WithParamInterface<UninstallCase> {};

// The program file is renamed aside before the command starts, so that a reinstall
// right after the exit writes a file that neither the command nor the restart deletes.
TEST_P(RegistrationUninstallTest, TurnsTheIndicatorOffRemovesTheRecordAndDeletesItsFile) {
  const UninstallCase& test = GetParam();
  if (test.blank) {
    ASSERT_NO_FATAL_FAILURE(UseFolderWithBlank());
  }
  if (!test.keyboard) {
    ASSERT_NO_FATAL_FAILURE(RemoveKeyboard());
  }
  // Muted, so that "off" cannot come from the current state.
  ASSERT_NO_FATAL_FAILURE(SetAudio(true, false));
  ASSERT_TRUE(WriteValues(kRunKey, {{kNeighbourName, Text(L"C:\\Neighbour\\Neighbour.exe")}}));
  ASSERT_TRUE(WriteValues(kNeighbourKey, {{L"DisplayName", Text(L"Neighbour")}}));

  Process installed, elsewhere;
  if (test.installed) {
    installed = StartResident(L"/install");
    ASSERT_TRUE(WaitForRecord()) << "the install left no record";
    elsewhere = Start(L"", kOtherDesktop);  // another user's session's resident
    ASSERT_GE(WaitForAudioEvent(dir_, elsewhere.pid, "register-control-change-notify", {}, 10000), 0)
        << "no Corvane on the other desktop";
    // A value that the record does not write goes with the entry too.
    ASSERT_TRUE(WriteValues(kUninstallKey, {{L"Comments", Text(L"not written by the install")}}));
    // In the program's folder and in the uninstaller's current directory, its parent.
    for (const std::wstring& path : {AppFile(kCompanionFile), dir_ + L"\\" + kCompanionFile}) {
      HANDLE companion = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      ASSERT_NE(companion, INVALID_HANDLE_VALUE) << "cannot create " << Narrow(path);
      CloseHandle(companion);
    }
  }

  if (test.exitDelayMs) {
    ASSERT_TRUE(vdev::WriteExitDelay(dir_, test.exitDelayMs));
  }
  if (!test.audioOutput) {
    ASSERT_NO_FATAL_FAILURE(SetAudio(true, true));
  }

  // The elevated uninstall inherits the user's environment, which the user's own
  // programs can change: its command runs the system folder's programs only,
  // whatever COMSPEC, PATH and PATHEXT say.
  const wchar_t* const variables[] = {L"COMSPEC", L"PATH", L"PATHEXT"};
  std::wstring saved[3];
  for (int i = 0; i < 3; ++i) {
    wchar_t value[4096];
    const DWORD length = GetEnvironmentVariableW(variables[i], value, ARRAYSIZE(value));
    ASSERT_TRUE(length > 0 && length < ARRAYSIZE(value)) << Narrow(variables[i]);
    saved[i] = value;
  }
  const std::wstring standInMark = dir_ + L"\\stand-in-started.txt";
  if (test.userStandIns) {
    const std::string line = "echo started>>\"" + Narrow(standInMark) + "\"\r\n";
    for (const wchar_t* name : {L"stand-in.bat", L"ping.cmd"}) {
      HANDLE batch = CreateFileW((dir_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      ASSERT_NE(batch, INVALID_HANDLE_VALUE);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(batch, line.data(), static_cast<DWORD>(line.size()), &written, nullptr));
      CloseHandle(batch);
    }
    const std::wstring values[] = {dir_ + L"\\stand-in.bat", dir_ + L";" + saved[1], L".CMD"};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(SetEnvironmentVariableW(variables[i], values[i].c_str()));
  }
  Process uninstalling = Start(L"/uninstall");
  for (int i = 0; i < 3; ++i) SetEnvironmentVariableW(variables[i], saved[i].c_str());
  if (test.installed) {
    EXPECT_EQ(ExitCodeOf(installed), 0u) << "the resident did not hand over";
  }
  EXPECT_EQ(ExitCodeOf(uninstalling), 0u);
  const DWORD exitTick = GetTickCount();
  EXPECT_FALSE(test.installed && IsRunning(elsewhere)) << "the other desktop's Corvane still runs";
  EXPECT_TRUE(keyboard_.empty() || vdev::ReadReports(dir_).back().pid == uninstalling.pid) << "a report after the off";

  std::map<std::string, std::vector<std::string>> expectedReports;
  for (const std::string& name : keyboard_) {
    expectedReports[name] = {vdev::HexBytes(MuteReport(false)) + " ok"};
  }
  EXPECT_EQ(ReportsOf(uninstalling.pid), expectedReports) << "reports of the uninstalling instance";
  EXPECT_TRUE(AudioEventsOf(dir_, uninstalling.pid).empty()) << "the uninstall used the audio output";
  if (test.exitDelayMs) {
    // The delete command starts right after the report; the exit came that much later.
    DWORD reportTick = exitTick;
    for (const vdev::Report& report : vdev::ReadReports(dir_)) {
      if (report.pid == uninstalling.pid) reportTick = report.tick;
    }
    EXPECT_GE(exitTick - reportTick, test.exitDelayMs - 500) << "the exit was not delayed";
  }

  EXPECT_FALSE(ValueExists(kRunKey, kProgramName)) << "the Run value stays";
  EXPECT_FALSE(KeyExists(kUninstallKey)) << "the uninstall entry stays or was created";
  EXPECT_TRUE(ValueExists(kRunKey, kNeighbourName)) << "another program's Run value went too";
  EXPECT_TRUE(KeyExists(kNeighbourKey)) << "another program's uninstall entry went too";

  EXPECT_FALSE(FileExists(ProgramPath())) << "the program file kept its name";
  const std::vector<std::wstring> atRestart = DeletionsAtRestartSince(pendingRenames_);
  ASSERT_EQ(atRestart.size(), 1u) << "one file to delete at the restart";
  const std::wstring aside = atRestart[0];
  EXPECT_TRUE(SamePath(Folder(aside), Folder(ProgramPath())) && !SamePath(aside, ProgramPath())) << Narrow(aside);
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\Corvane.exe").c_str(), ProgramPath().c_str(), TRUE))
      << "cannot reinstall";

  EXPECT_TRUE(WaitUntil(kFileGoneTimeoutMs, [&] { return !FileExists(aside); }))
      << Narrow(aside) << " still exists " << kFileGoneTimeoutMs << " ms after the exit";
  EXPECT_FALSE(FileExists(standInMark)) << "a program that the user's environment names was started";
  if (test.installed) {
    EXPECT_FALSE(FileExists(AppFile(kCompanionFile))) << "the companion in the program's folder";
    EXPECT_TRUE(FileExists(dir_ + L"\\" + kCompanionFile)) << "the companion in the current directory went";
  }
  EXPECT_TRUE(FileExists(ProgramPath())) << "the reinstalled program was deleted";
  EXPECT_TRUE(FileExists(AppFile(L"setupapi.dll"))) << "setupapi.dll beside the program was deleted";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationUninstallTest,
    ::testing::Values(UninstallCase{"Installed", false, true, true, 0},
                      UninstallCase{"InstalledInPathWithBlank", true, true, true, 0},
                      UninstallCase{"KeyboardAbsent", false, false, true, 0},
                      UninstallCase{"RecordAlreadyMissing", false, true, false, 0},
                      UninstallCase{"SlowExit", false, true, true, 4000},
                      UninstallCase{"NoAudioOutput", false, true, true, 0, false},
                      // The file stays held while the rounds of the command pass.
                      UninstallCase{"UserEnvironmentNamesStandIns", false, true, true, 3000, true, true}),
    [](const ::testing::TestParamInfo<UninstallCase>& info) { return std::string(info.param.name); });

// An uninstall entry that cannot be deleted (it has a subkey, which the record
// never has and RegDeleteKeyExW refuses): the indicator still goes off, but the
// program keeps its file, so that the uninstall can be retried, and exits with 1.
TEST_F(RegistrationTest, UninstallThatCannotRemoveTheRecordKeepsItsFileAndExitsWith1) {
  ASSERT_NO_FATAL_FAILURE(SetAudio(true, false));
  Process installed = StartResident(L"/install");
  ASSERT_TRUE(WaitForRecord()) << "the install left no record";
  ASSERT_TRUE(WriteValues((std::wstring(kUninstallKey) + L"\\Parts").c_str(), {{L"Part", Dword(1)}}));

  Process uninstalling = Start(L"/uninstall");
  EXPECT_EQ(ExitCodeOf(installed), 0u) << "the resident did not hand over";
  EXPECT_EQ(ExitCodeOf(uninstalling), 1u);

  std::map<std::string, std::vector<std::string>> expectedReports;
  for (const std::string& name : keyboard_) expectedReports[name] = {vdev::HexBytes(MuteReport(false)) + " ok"};
  EXPECT_EQ(ReportsOf(uninstalling.pid), expectedReports) << "reports of the uninstalling instance";
  EXPECT_TRUE(KeyExists(kUninstallKey)) << "the entry was deleted after all";
  ExpectNoDeleteCommand(uninstalling);
}

// "/uninstall" of a second copy (a download, run with administrator rights) while
// this one is installed: the installed record and resident stay, and the copy
// keeps its file and ends with 1.
TEST_F(RegistrationTest, UninstallOfASecondCopyLeavesTheInstalledRecordAndResident) {
  Process installed = StartResident(L"/install");
  ASSERT_TRUE(WaitForRecord()) << "the install left no record";
  const RegValues entryBefore = ReadKey(kUninstallKey);
  const std::wstring second = dir_ + L"\\second";
  ASSERT_TRUE(vdev::PrepareFolder(second));

  Process copy;
  ASSERT_TRUE(StartCorvane(second, L"/uninstall", &copy));
  EXPECT_EQ(ExitCodeOf(copy), 1u);
  EXPECT_FALSE(HasRunningChildren(copy.pid)) << "a command runs";
  EndProcess(&copy);

  EXPECT_TRUE(IsRunning(installed)) << "the installed resident was closed";
  ExpectValues(ReadKey(kUninstallKey), entryBefore);
  EXPECT_TRUE(ValueExists(kRunKey, kProgramName)) << "the Run value went";
  EXPECT_TRUE(FileExists(CorvaneCopyPath(second))) << "the copy deleted itself";
  EXPECT_TRUE(DeletionsAtRestartSince(pendingRenames_).empty()) << "a deletion at restart was recorded";
}

// A keyboard that does not answer holds the resident in its report, on each of
// two interfaces, for longer than a sent WM_CLOSE waits: the uninstall waits for
// the resident to end, and no Corvane is left.
TEST_F(RegistrationTest, UninstallEndsAResidentHeldByAStalledKeyboard) {
  interfaces_ = {{L"keyboard-mi01", kKeyboardVendorId, kKeyboardProductId},
                 {L"keyboard-mi02", kKeyboardVendorId, kKeyboardProductId}};
  for (vdev::HidInterface& device : interfaces_) device.stallMs = 6000;
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
  Process installed = StartResident(L"/install");
  ASSERT_TRUE(WaitUntil(30000, [] { return ValueExists(kUninstallKey, L"VersionMinor"); })) << "no record";
  const auto stalls = [&] {
    size_t count = 0;
    for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog)) count += entry.event == "stall";
    return count;
  };
  const size_t before = stalls();
  ASSERT_TRUE(vdev::SetMute(dir_, true));
  ASSERT_TRUE(WaitUntil(30000, [&] { return stalls() > before; })) << "the report did not stall";

  Process uninstalling = Start(L"/uninstall");
  EXPECT_EQ(ExitCodeOf(installed, 40000), 0u) << "the resident did not hand over";
  EXPECT_EQ(ExitCodeOf(uninstalling, 60000), 0u);
  EXPECT_EQ(FindWindowW(kControlWindowClass, nullptr), nullptr) << "a Corvane is left";
  EXPECT_FALSE(ValueExists(kRunKey, kProgramName)) << "the Run value stays";
}

// Without an audio endpoint an install does not get past start-up: an earlier
// record is not overwritten.
TEST_F(RegistrationTest, InstallWithoutAudioOutputReportsTheFailureAndLeavesTheRecordAlone) {
  ASSERT_TRUE(WriteValues(kRunKey, {{kProgramName, Text(L"C:\\Earlier\\Corvane.exe")}}));
  ASSERT_TRUE(WriteValues(kUninstallKey, EarlierUninstallEntry()));
  RegValue runBefore;
  ASSERT_TRUE(ReadValue(kRunKey, kProgramName, &runBefore));
  const RegValues entryBefore = ReadKey(kUninstallKey);
  ASSERT_NO_FATAL_FAILURE(SetAudio(false, true));

  Process process = Start(L"/install");
  ASSERT_NO_FATAL_FAILURE(ExpectStartupFailure(process, "GetDefaultAudioEndpoint fail!"));

  RegValue run;
  ASSERT_TRUE(ReadValue(kRunKey, kProgramName, &run)) << "the Run value was removed";
  EXPECT_EQ(Describe(run), Describe(runBefore)) << "the Run value was overwritten";
  ASSERT_TRUE(KeyExists(kUninstallKey)) << "the uninstall entry was removed";
  ExpectValues(ReadKey(kUninstallKey), entryBefore);
  EXPECT_TRUE(ReportsOf(process.pid).empty()) << "a report was sent";
}

}  // namespace
}  // namespace corvane
