#include "app/elevation.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// Starts this program elevated with PARAMETERS and returns its exit code once it
// ended; 1 when it did not start (ERROR_CANCELLED: the prompt was refused).
int RunElevated(const wchar_t* parameters) {
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  if (!SetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, L"1")) return 1;

  // The shell may hand the start to COM-based extensions.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS;
  execute.lpVerb = L"runas";
  execute.lpFile = path;
  execute.lpParameters = parameters;
  execute.nShow = SW_SHOWNORMAL;
  const bool started = ShellExecuteExW(&execute) && execute.hProcess;
  if (com) CoUninitialize();
  if (!started) return 1;

  DWORD code = 1;
  if (WaitForSingleObject(execute.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(execute.hProcess, &code))
    code = 1;
  CloseHandle(execute.hProcess);
  return static_cast<int>(code);
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

bool HandOverToElevatedInstance(RunMode mode, ElevationState elevation, int* exitCode) {
  const bool relaunched = GetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, nullptr, 0) != 0;
  switch (DecideElevationStep(mode, elevation, relaunched)) {
    case ElevationStep::GoOn: return false;
    case ElevationStep::Refuse: *exitCode = 1; return true;
    case ElevationStep::Relaunch: *exitCode = RunElevated(RelaunchParameters(mode)); return true;
  }
  return false;
}
