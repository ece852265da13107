#include "elevation/elevation.h"

#include <objbase.h>

namespace {

// PATH in its long form in place; empty when it cannot be expanded (it does not
// exist) or does not fit.
void ExpandInPlace(WCHAR* path) {
  const DWORD length = GetLongPathNameW(path, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) path[0] = L'\0';
}

// LENGTH is what a Get...W call returned into a MAX_PATH buffer: 0 on failure,
// MAX_PATH or more when the text did not fit.
void KeepIfRead(UINT length, WCHAR* path) {
  if (length == 0 || length >= MAX_PATH) path[0] = L'\0';
}

// Starts PROGRAM_PATH without parameter, with this process's token, in its own folder.
bool StartResident(const wchar_t* programPath, const wchar_t* folder) {
  WCHAR commandLine[MAX_PATH + 2];  // the path in quotes; CreateProcessW may write to it
  if (lstrlenW(programPath) >= MAX_PATH) return false;
  wsprintfW(commandLine, L"\"%s\"", programPath);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  // No standard handles: a caller reading this program's output sees its end.
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(programPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Starts PROGRAM_PATH elevated for MODE and returns its exit code once it ended;
// 1 when it did not start (ERROR_CANCELLED: the prompt was declined). An install
// whose record was written is followed by the start of the resident.
int RelaunchElevated(const wchar_t* programPath, RunMode mode) {
  ElevatedStart start;
  if (!DescribeElevatedStart(programPath, mode, &start)) return 1;
  // The shell may hand the start to COM-based extensions.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  const bool started = ShellExecuteExW(&start.Execute) && start.Execute.hProcess;
  if (com) CoUninitialize();
  if (!started) return 1;

  DWORD code = 1;
  if (WaitForSingleObject(start.Execute.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(start.Execute.hProcess, &code))
    code = 1;
  CloseHandle(start.Execute.hProcess);
  if (mode != RunMode::Install || code != 0) return static_cast<int>(code);
  // The resident runs as the user who started the install, not as the
  // administrator who approved it.
  return StartResident(programPath, start.Folder) ? 0 : 1;
}

}  // namespace

ElevationState ReadTokenElevation() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return ElevationState::Unknown;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  if (!read) return ElevationState::Unknown;
  return elevation.TokenIsElevated ? ElevationState::Elevated : ElevationState::NotElevated;
}

void ReadProgramPlace(const wchar_t* programPath, ProgramPlaceText* text) {
  text->Program[0] = text->System[0] = text->Wow64[0] = L'\0';
  if (programPath) {
    if (lstrlenW(programPath) < MAX_PATH) lstrcpyW(text->Program, programPath);
  } else {
    KeepIfRead(GetModuleFileNameW(nullptr, text->Program, MAX_PATH), text->Program);
  }
  BOOL wow64 = FALSE;
  // Without the bitness neither folder is known to be this program's: both stay empty.
  if (IsWow64Process(GetCurrentProcess(), &wow64)) {
    KeepIfRead(GetSystemDirectoryW(text->System, MAX_PATH), text->System);
    if (wow64) KeepIfRead(GetSystemWow64DirectoryW(text->Wow64, MAX_PATH), text->Wow64);
  }
  // Windows accepts short and long names alike; only the long forms compare.
  WCHAR* const paths[] = {text->Program, text->System, text->Wow64};
  for (WCHAR* path : paths) {
    if (path[0] != L'\0') ExpandInPlace(path);
  }
  text->Place = {text->Program, text->System, text->Wow64, wow64 != FALSE};
}

bool DescribeElevatedStart(const wchar_t* programPath, RunMode mode, ElevatedStart* start) {
  const size_t folderLength = FolderLength(programPath);
  const wchar_t* parameters = RelaunchParameters(mode);
  if (folderLength == 0 || folderLength >= MAX_PATH || !parameters) return false;
  lstrcpynW(start->Folder, programPath, static_cast<int>(folderLength) + 1);
  start->Execute = {};
  start->Execute.cbSize = sizeof(start->Execute);
  start->Execute.fMask = SEE_MASK_NOCLOSEPROCESS;
  start->Execute.lpVerb = L"runas";
  start->Execute.lpFile = programPath;
  start->Execute.lpParameters = parameters;
  // The program's own folder, not whatever folder the caller was in.
  start->Execute.lpDirectory = start->Folder;
  start->Execute.nShow = SW_SHOWNORMAL;
  return true;
}

ElevationStep TakeElevationStep(const StartFacts& facts, int* exitCode) {
  const ElevationStep step = DecideElevationStep(facts);
  if (step == ElevationStep::Refuse) *exitCode = 1;
  if (step == ElevationStep::Relaunch) *exitCode = RelaunchElevated(facts.Place.ProgramPath, facts.Mode);
  return step;
}
