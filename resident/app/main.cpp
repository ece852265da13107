// Corvane: keeps the keyboard's mute indicator in step with the audio output.
#include <windows.h>

#include "common/app_state.h"
#include "common/dll_search.h"
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

// The program may run elevated, started from any folder: nothing it loads or
// opens by a relative name comes from the folder it was started in. Its own
// folder stays the current directory, so that no folder is held open elsewhere.
void SettleIntoOwnFolder() {
  RestrictDllSearchToSystemDirectory();
  WCHAR folder[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  folder[FileNameOf(folder) - folder] = L'\0';
  SetCurrentDirectoryW(folder);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  SettleIntoOwnFolder();
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
  switch (TakeElevationStep({App.Mode, relaunched, ReadTokenElevation(), place.Place}, &elevationExitCode)) {
    case ElevationStep::GoOn: break;
    case ElevationStep::Relaunch:
    case ElevationStep::Refuse: return elevationExitCode;
    case ElevationStep::WriteRecord: {
      // The launcher starts the resident with the user's own token. A record that
      // was not written leaves the running resident in place.
      const int written = WriteInstallRecord();
      if (written != 0) return written;
      if (HWND running = FindWindowW(App.ClassName, nullptr)) TakeOverFrom(running);
      return 0;
    }
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

  if (HWND running = FindWindowW(App.ClassName, nullptr)) {
    if (App.Mode == RunMode::Normal) return 0;
    TakeOverFrom(running);
  }
  if (!CreateMainWindow(instance)) return 0;

  int exitCode = RunMessageLoop(instance);
  StopEndpointWatch();
  CoUninitialize();
  return exitCode;
}
