// Corvane: keeps the keyboard's mute indicator in step with the audio output.
#include <windows.h>

#include "common/app_state.h"
#include "common/dll_search.h"
#include "common/system_functions.h"
#include "app/activity_sources.h"
#include "app/control_window.h"
#include "elevation/elevation.h"
#include "check/self_check.h"
#include "uninstall/uninstall.h"
#include "audio/endpoint_watch.h"
#include "registration/file_aside.h"
#include "registration/hand_over.h"
#include "registration/install_record.h"
#include "res/resource.h"

namespace {

// Install and uninstall take over from a running instance. One that does not end
// within the bounded wait (hung for good, or not a Corvane) is left behind.
void TakeOverFrom(HWND running) { EndRunningResident(running, WM_CLOSE); }

// The residents of every session and desktop end before a record changes or the
// program goes: the one of this desktop through its window, which a Corvane of
// an earlier version also heeds, the others through the machine-wide event.
void TakeOverFromEveryResident() {
  if (HWND running = FindWindowW(App.ClassName, nullptr)) TakeOverFrom(running);
  EndEveryResident();
}

// The program may run elevated, started from any folder: nothing it loads or
// opens by a relative name comes from the folder it was started in. Its own
// folder stays the current directory, so that no folder is held open elsewhere.
void SettleIntoOwnFolder() {
  RestrictDllSearchToSystemDirectory();
  LoadSystemFunctions();
  WCHAR folder[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  folder[FileNameOf(folder) - folder] = L'\0';
  SetCurrentDirectoryW(folder);
}

// A caller that reads this program's output (a deployment tool, a script with a
// pipe) sees its end only once every process holding the pipe has ended. The
// shell starts what it is given with the handles that may be inherited: none of
// the standard handles stays such a handle here.
void KeepStandardHandlesFromChildren() {
  const DWORD standard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (const DWORD which : standard) {
    HANDLE handle = GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  SettleIntoOwnFolder();
  KeepStandardHandlesFromChildren();
  // The self-check stands apart from every mode: no elevation, no instance rules, no window.
  if (IsSelfCheckCommand(commandLine)) return RunSelfCheck(instance);
  bool relaunched = false;
  App.Mode = ParseStartCommandLine(commandLine, &relaunched);
  LoadStringW(instance, IDS_APP_TITLE, App.Title, ARRAYSIZE(App.Title));
  LoadStringW(instance, IDS_CLASS_NAME, App.ClassName, ARRAYSIZE(App.ClassName));

  // Install and uninstall change the machine: without administrator rights this
  // instance touches nothing and leaves the work to an elevated one.
  ProgramPlaceText place;
  ReadProgramPlace(nullptr, &place);
  int elevationExitCode = 1;
  const ElevationStep step =
      TakeElevationStep({App.Mode, relaunched, ReadTokenElevation(), place.Place}, &elevationExitCode);
  if (step == ElevationStep::Relaunch || step == ElevationStep::Refuse) return elevationExitCode;
  // In session 0 (a deployment tool's SYSTEM) nobody sees a resident or its boxes:
  // a start ends with 1, an install only records itself like the elevated copy of
  // a relaunch, and the installer or the next log-on starts the resident.
  const bool servicesSession = RunsInServicesSession();
  if (servicesSession && App.Mode == RunMode::Normal) return 1;
  if (step == ElevationStep::WriteRecord || (servicesSession && App.Mode == RunMode::Install)) {
    // The launcher starts the resident with the user's own token. A record that
    // was not written leaves the running residents in place.
    const int written = WriteInstallRecord();
    if (written != 0) return written;
    TakeOverFromEveryResident();
    return 0;
  }
  // A copy that finds another program's record leaves it, and its resident, alone.
  if (App.Mode == RunMode::Uninstall && !RecordIsThisProgramsOwn()) return 1;
  CoInitialize(nullptr);

  // Uninstall only turns the indicator off and removes the program: it needs no
  // audio output, and works where there is none.
  if (App.Mode != RunMode::Uninstall) {
    // The context must exist before any callback can compare against it.
    const wchar_t* failure = FAILED(CoCreateGuid(&App.ContextGuid)) ? L"CoCreateGuid fail!" : StartEndpointWatch();
    if (failure) {
      MessageBoxW(nullptr, failure, L"Error", MB_ICONERROR);
      return 1;
    }
  }

  RegisterMainWindowClass(instance);

  if (App.Mode == RunMode::Normal) {
    if (FindWindowW(App.ClassName, nullptr)) return 0;
  } else {
    TakeOverFromEveryResident();
  }
  HANDLE end = WatchEndOfEveryResident();
  if (!CreateMainWindow(instance)) return 0;

  int exitCode = RunMessageLoop(instance, end);
  if (end) CloseHandle(end);
  StopEndpointWatch();
  CoUninitialize();
  return exitCode;
}
