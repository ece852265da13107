// Corvane: keeps the keyboard's mute indicator in step with the audio output.
#include <windows.h>

#include "common/app_state.h"
#include "app/control_window.h"
#include "app/elevation.h"
#include "app/self_check.h"
#include "audio/endpoint_watch.h"
#include "registration/install_record.h"
#include "res/resource.h"

namespace {

// Install and uninstall take over from a running instance.
void TakeOverFrom(HWND running) {
  SendMessageTimeoutW(running, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);  // 5 s at most for one that hangs
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
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
    case ElevationStep::WriteRecord:
      // The launcher starts the resident with the user's own token.
      if (HWND running = FindWindowW(App.ClassName, nullptr)) TakeOverFrom(running);
      return WriteInstallRecord();
  }
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
