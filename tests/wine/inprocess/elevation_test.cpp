// The elevation step of start-up in the test process, with the token's answer
// given: under Wine every process is elevated and "runas" starts a program like
// "open", so only this seam reaches the relaunch; what the relaunch asks the
// shell for is checked where it is built.

#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "elevation/elevation.h"
#include "import_slot.h"
#include "install_steps.h"
#include "installer_functions.h"
#include "program_driver.h"

namespace {

// In a process started with these set, this program is a stand-in for Corvane:
// it appends its parameters to the log and ends, the elevated instance with the
// given code, the resident (no parameter) with 0.
constexpr wchar_t kStandInLog[] = L"CORVANE_STAND_IN_LOG";
constexpr wchar_t kStandInExitCode[] = L"CORVANE_STAND_IN_EXIT_CODE";

// The text after the program name, as wWinMain gets it.
const wchar_t* Parameters(const wchar_t* commandLine) {
  bool quoted = false;
  for (; *commandLine != L'\0' && (quoted || *commandLine != L' '); ++commandLine) {
    if (*commandLine == L'"') quoted = !quoted;
  }
  while (*commandLine == L' ') ++commandLine;
  return commandLine;
}

[[maybe_unused]] const bool kStandIn = [] {
  wchar_t log[MAX_PATH];
  const DWORD logLength = GetEnvironmentVariableW(kStandInLog, log, MAX_PATH);
  if (logLength == 0 || logLength >= MAX_PATH) return false;
  const wchar_t* parameters = Parameters(GetCommandLineW());
  // Each start happens in the program's own folder; any other is named.
  wchar_t folder[MAX_PATH];
  wchar_t current[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !GetCurrentDirectoryW(MAX_PATH, current)) ExitProcess(98);
  *wcsrchr(folder, L'\\') = L'\0';
  FILE* file = _wfopen(log, L"a");
  const bool logged = file && fwprintf(file, L"[%ls]%ls\n", parameters,
                                       lstrcmpiW(folder, current) == 0 ? L"" : L" elsewhere") > 0;
  if (file) fclose(file);
  wchar_t code[16] = L"";
  GetEnvironmentVariableW(kStandInExitCode, code, ARRAYSIZE(code));
  ExitProcess(!logged ? 99 : *parameters == L'\0' ? 0 : static_cast<UINT>(_wtoi(code)));
}();

// Waits until no process that this one started still runs: each stand-in has
// then logged its start.
bool EveryStartedProcessEnded() {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 10000) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    bool running = false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ParentProcessID != GetCurrentProcessId()) continue;
      if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
        running = running || WaitForSingleObject(child, 0) == WAIT_TIMEOUT;
        WaitForSingleObject(child, 10000);
        CloseHandle(child);
      }
    }
    CloseHandle(snapshot);
    if (!running) return true;
  }
  return false;
}

// The parameters of each stand-in start, in the order they were logged.
std::vector<std::string> Starts(const std::wstring& log) {
  std::vector<std::string> starts;
  FILE* file = _wfopen(log.c_str(), L"r");
  if (!file) return starts;
  for (char line[256]; fgets(line, sizeof line, file);) starts.push_back(std::string(line, strcspn(line, "\n")));
  fclose(file);
  return starts;
}

TEST(Elevation, TheRelaunchAsksForTheRightsForTheSameProgramInItsFolder) {
  ElevatedStart start;
  ASSERT_TRUE(DescribeElevatedStart(L"C:\\windows\\system32\\Corvane.exe", RunMode::Install, &start));
  const SHELLEXECUTEINFOW& execute = start.Execute;
  EXPECT_STREQ(execute.lpVerb, L"runas");
  EXPECT_STREQ(execute.lpFile, L"C:\\windows\\system32\\Corvane.exe");
  EXPECT_STREQ(execute.lpParameters, L"/install /relaunched");
  EXPECT_STREQ(execute.lpDirectory, L"C:\\windows\\system32\\");
  EXPECT_EQ(execute.nShow, SW_SHOWNORMAL);
  EXPECT_EQ(execute.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS)) << "the launcher waits for the process";
  EXPECT_FALSE(DescribeElevatedStart(L"Corvane.exe", RunMode::Install, &start));
}

// The rule compares long forms: a short form of a file in the system folder
// (Wine's own program with a long name) is read as the installed place.
TEST(Elevation, TheProgramPlaceIsReadInLongForms) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring longName = std::wstring(system) + L"\\winemenubuilder.exe";
  wchar_t shortName[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(longName.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_STRNE(shortName, longName.c_str()) << "no short name to expand";
  ProgramPlaceText place;
  ReadProgramPlace(shortName, &place);
  EXPECT_STREQ(place.Place.ProgramPath, longName.c_str());
  EXPECT_STREQ(place.Place.SystemFolder, system);
  EXPECT_FALSE(place.Place.Wow64) << "a 64-bit test program";
  EXPECT_TRUE(IsInstalledProgram(place.Place));
}

TEST(Elevation, TheUnelevatedInstalledProgramRelaunchesAndTheLauncherStartsTheResident) {
  EXPECT_EQ(ReadTokenElevation(), ElevationState::Elevated) << "Wine's token, which lets every start go on";
  const std::wstring dir = corvane::RunFolder(L"Elevation");
  ASSERT_TRUE(vdev::PrepareFolder(dir));
  const std::wstring log = dir + L"\\starts.log";

  // This test program as the installed one: its folder stands for the system folder.
  ProgramPlaceText real;
  ReadProgramPlace(nullptr, &real);
  const std::wstring folder(real.Program, FolderLength(real.Program) - 1);
  const ProgramPlace installed = {real.Program, folder.c_str(), L"", false};
  ASSERT_TRUE(IsInstalledProgram(installed));

  using S = ElevationState;
  using Step = ElevationStep;
  const struct {
    const char* name;
    RunMode mode;
    bool relaunched;
    ElevationState elevation;
    const ProgramPlace& place;
    int standInExitCode;  // of the elevated instance
    ElevationStep step;
    int exitCode;  // -1: the process goes on
    std::vector<std::string> starts;
  } cases[] = {
      {"install, record written", RunMode::Install, false, S::NotElevated, installed, 0, Step::Relaunch, 0,
       {"[/install /relaunched]", "[]"}},
      {"install, record not written", RunMode::Install, false, S::NotElevated, installed, 1, Step::Relaunch, 1,
       {"[/install /relaunched]"}},
      {"uninstall", RunMode::Uninstall, false, S::NotElevated, installed, 0, Step::Relaunch, 0,
       {"[/uninstall /relaunched]"}},
      {"uninstall that failed", RunMode::Uninstall, false, S::NotElevated, installed, 3, Step::Relaunch, 3,
       {"[/uninstall /relaunched]"}},
      {"install outside the system folder", RunMode::Install, false, S::NotElevated, real.Place, 0, Step::Refuse, 1,
       {}},
      {"a relaunch still unelevated", RunMode::Install, true, S::NotElevated, installed, 0, Step::Refuse, 1,
       {}},
      {"elevated install", RunMode::Install, false, S::Elevated, real.Place, 0, Step::GoOn, -1, {}},
      {"elevated relaunched install", RunMode::Install, true, S::Elevated, installed, 0, Step::WriteRecord, -1,
       {}},
  };
  for (const auto& c : cases) {
    DeleteFileW(log.c_str());
    ASSERT_TRUE(SetEnvironmentVariableW(kStandInLog, log.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(kStandInExitCode, std::to_wstring(c.standInExitCode).c_str()));
    int exitCode = -1;
    EXPECT_EQ(TakeElevationStep({c.mode, c.relaunched, c.elevation, c.place}, &exitCode), c.step) << c.name;
    SetEnvironmentVariableW(kStandInLog, nullptr);
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    ASSERT_TRUE(EveryStartedProcessEnded()) << c.name;
    EXPECT_EQ(Starts(log), c.starts) << c.name;
  }
}

// Sessions, token and start as the installer meets them: Wine has one session and lets each call succeed.
struct {
  DWORD Own, Console, TokenError;  // WTSQueryUserToken fails with TokenError, unless 0
  bool StartFails;
  HANDLE Token;
  std::wstring AsUser;  // what the start in the user's session was given
} g_seams;

BOOL WINAPI SeamSessionOf(DWORD, DWORD* session) { return (*session = g_seams.Own), TRUE; }
DWORD WINAPI SeamConsoleSession() { return g_seams.Console; }
BOOL WINAPI SeamUserToken(ULONG, HANDLE* token) {
  SetLastError(g_seams.TokenError);
  if (g_seams.TokenError || !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token)) return FALSE;
  g_seams.Token = *token;
  return TRUE;
}
BOOL WINAPI SeamStartAsUser(HANDLE token, const wchar_t* application, wchar_t* commandLine, SECURITY_ATTRIBUTES*,
                            SECURITY_ATTRIBUTES*, BOOL inherit, DWORD flags, void* environment, const wchar_t* folder,
                            STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
  const bool userEnvironment = environment && (flags & CREATE_UNICODE_ENVIRONMENT);
  g_seams.AsUser = std::wstring(token == g_seams.Token ? L"user's token" : L"another token") +
                   (inherit ? L", inheriting" : L"") + (userEnvironment ? L", user's environment" : L"") + L", on " +
                   (startup->lpDesktop ? startup->lpDesktop : L"no desktop");
  SetLastError(ERROR_ACCESS_DENIED);
  // With the test's environment, which names the stand-in's log; the user's would not.
  return !g_seams.StartFails &&
         CreateProcessW(application, commandLine, nullptr, nullptr, inherit, flags, nullptr, folder, startup, process);
}

// The installer's last step with this program as the installed one, its folder as the system folder:
// the resident is started only after a record step that ended with 0, in this session or, from session
// 0, in the console user's with that user's token, environment and desktop; every start in the folder
// given. The result is the installer's exit code that a deployment tool sees (true: 0).
TEST(Elevation, TheInstallerStartsTheResidentOnlyAfterARecordStepThatEndedWith0) {
  const std::wstring dir = corvane::RunFolder(L"InstallSteps");
  ASSERT_TRUE(vdev::PrepareFolder(dir));
  const std::wstring log = dir + L"\\starts.log";
  ProgramPlaceText real;
  ReadProgramPlace(nullptr, &real);
  const std::wstring folder(real.Program, FolderLength(real.Program) - 1);
  LoadInstallerFunctions();
  InstallerSys.WTSQueryUserToken = SeamUserToken;
  const struct { const char *module, *function; void* seam; } seams[] = {
      {"kernel32.dll", "ProcessIdToSessionId", reinterpret_cast<void*>(&SeamSessionOf)},
      {"kernel32.dll", "WTSGetActiveConsoleSessionId", reinterpret_cast<void*>(&SeamConsoleSession)},
      {"advapi32.dll", "CreateProcessAsUserW", reinterpret_cast<void*>(&SeamStartAsUser)}};
  void* realFunctions[3];
  for (int i = 0; i < 3; ++i) {
    void** slot = ImportSlot(seams[i].module, seams[i].function);
    ASSERT_NE(slot, nullptr) << seams[i].function;
    realFunctions[i] = *slot;
    WriteSlot(slot, seams[i].seam);
  }
  const std::vector<std::string> record = {"[/install /relaunched]"}, resident = {"[/install /relaunched]", "[]"};
  const std::wstring asUser = L"user's token, user's environment, on winsta0\\default";
  const struct {
    const char* name;
    int recordStepExitCode;  // 1: a refused registry write
    DWORD own, console, tokenError;
    bool startFails, result;  // the stand-in of the resident ends at once: never running
    const std::vector<std::string>& starts;
    std::wstring asUser;
  } cases[] = {
      {"this session", 0, 1, 1, 0, false, false, resident, L""},
      {"a refused record", 1, 1, 1, 0, false, false, record, L""},
      {"SYSTEM, a user at the console", 0, 0, 1, 0, false, false, resident, asUser},
      {"SYSTEM, nobody at the console", 0, 0, 0xFFFFFFFF, 0, false, true, record, L""},
      {"SYSTEM, nobody signed in there", 0, 0, 1, ERROR_NO_TOKEN, false, true, record, L""},
      {"SYSTEM, no token to be had", 0, 0, 1, ERROR_ACCESS_DENIED, false, false, record, L""},
      {"SYSTEM, a start that fails", 0, 0, 1, 0, true, false, record, asUser},
  };
  for (const auto& c : cases) {
    g_seams = {c.own, c.console, c.tokenError, c.startFails, nullptr, L""};
    DeleteFileW(log.c_str());
    ASSERT_TRUE(SetEnvironmentVariableW(kStandInLog, log.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(kStandInExitCode, std::to_wstring(c.recordStepExitCode).c_str()));
    EXPECT_EQ(RecordAndStartInstalledProgram(real.Program, folder.c_str()), c.result) << c.name;
    SetEnvironmentVariableW(kStandInLog, nullptr);
    ASSERT_TRUE(EveryStartedProcessEnded()) << c.name;
    EXPECT_EQ(Starts(log), c.starts) << c.name;
    EXPECT_EQ(g_seams.AsUser, c.asUser) << c.name;
  }
  for (int i = 0; i < 3; ++i) WriteSlot(ImportSlot(seams[i].module, seams[i].function), realFunctions[i]);
}

}  // namespace
