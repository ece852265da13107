// Corvane: keeps the keyboard's mute indicator in step with the audio output.
#include <windows.h>

#include "common/app_state.h"
#include "app/control_window.h"
#include "app/elevation.h"
#include "app/self_check.h"
#include "audio/endpoint_watch.h"
#include "res/resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // The self-check stands apart from every mode: no elevation, no instance rules, no window.
  if (IsSelfCheckCommand(commandLine)) return RunSelfCheck(instance);
  App.Mode = ParseRunMode(commandLine);
  // Install and uninstall change the machine: without administrator rights this
  // instance touches nothing and leaves the work to an elevated one.
  int elevatedExitCode = 1;
  if (HandOverToElevatedInstance(App.Mode, ReadTokenElevation(), &elevatedExitCode)) return elevatedExitCode;
  CoInitialize(nullptr);

  // The context must exist before any callback can compare against it.
  const wchar_t* failure = FAILED(CoCreateGuid(&App.ContextGuid)) ? L"CoCreateGuid fail!" : StartEndpointWatch();
  if (failure) {
    MessageBoxW(nullptr, failure, L"Error", MB_ICONERROR);
    return 1;
  }

  LoadStringW(instance, IDS_APP_TITLE, App.Title, ARRAYSIZE(App.Title));
  LoadStringW(instance, IDS_CLASS_NAME, App.ClassName, ARRAYSIZE(App.ClassName));
  RegisterMainWindowClass(instance);

  if (HWND running = FindWindowW(App.ClassName, nullptr)) {
    if (App.Mode == RunMode::Normal) return 0;
    // Install and uninstall take over from the running instance.
    SendMessageTimeoutW(running, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);  // 5 s at most for one that hangs
  }
  if (!CreateMainWindow(instance)) return 0;

  int exitCode = RunMessageLoop(instance);
  StopEndpointWatch();
  CoUninitialize();
  return exitCode;
}
