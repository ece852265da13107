#include "app/control_window.h"

#include "app/activity_sources.h"
#include "app/resync_timers.h"
#include "uninstall/uninstall.h"
#include "audio/endpoint_watch.h"
#include "common/app_state.h"
#include "common/control_ids.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"
#include "registration/install_record.h"
#include "res/resource.h"

AppState App;

namespace {

void StartInitialSync() {
  // Without a readable state there is nothing to keep in step: no timer at all.
  if (!ReadEndpointMute()) return;
  App.LastActivityTick = GetTickCount();
  StartLockPoll();
  StartInitialResync(WindowTimers());
}

LRESULT OnTimer(WPARAM id) {
  switch (DispatchTimer(static_cast<unsigned>(id), App.LidClosed != 0, App.Mute, WindowTimers())) {
    case TimerFollowUp::LockPoll: OnLockPoll(); break;
    case TimerFollowUp::Install: WriteInstallRecord(); break;
    case TimerFollowUp::Uninstall: RunUninstall(); break;
    case TimerFollowUp::None: break;
  }
  return 0;
}

LRESULT OnCreate(HWND window) {
  InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&App.Window), window);
  App.LidClosed = 0;
  if (App.Mode == RunMode::Uninstall) {
    // Uninstall only turns the indicator off and removes itself: no activity sources.
    SetTimer(window, TIMER_UNINSTALL, 200, nullptr);
    return 0;
  }
  if (App.Mode == RunMode::Install) SetTimer(window, TIMER_INSTALL, 200, nullptr);
  RegisterDeviceArrival();
  StartInitialSync();
  if (!RegisterRawInput()) return -1;
  RegisterLidSwitch();
  RegisterSessionChanges();
  // A resident started by the elevated installer runs elevated; the self-check of an
  // unelevated user must still reach it. The message carries nothing the window reads.
  ChangeWindowMessageFilterEx(window, WM_CHECK_QUERY, MSGFLT_ALLOW, nullptr);
  return 0;
}

LRESULT OnMuteState(WPARAM flag) {
  if (App.UninstallReportSent) return 0;
  if (!AcceptMuteState(App.Mute, App.LidClosed != 0, SessionHasTheConsole(), flag)) return 0;
  App.MuteSentAccepted = SendKeyboardFeature(FEATURE_CMD_MUTE, LOBYTE(flag));
  App.LastActivityTick = GetTickCount();
  App.MuteSent = true;
  App.MuteSentTick = App.LastActivityTick;
  return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case IDM_ABOUT:
      DialogBoxW(App.Instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDialogProc);
      return 0;
    case IDM_EXIT:
      DestroyWindow(window);
      return 0;
    default:
      return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
  }
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
  return 0;
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_CORVANE));
  windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = App.ClassName;
  RegisterClassExW(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance) {
  App.Instance = instance;
  // Never shown: the window exists only to receive messages, timers and input.
  HWND window = CreateWindowExW(0, App.ClassName, App.Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  UpdateWindow(window);
  return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY:
      ReleaseActivityRegistrations();
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: return OnPaint(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_TIMER: return OnTimer(wParam);
    case WM_INPUT:
      // The system cleans up after the input only in the default procedure.
      OnRawInput(lParam);
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_DEVICECHANGE: return OnDeviceChange(wParam, lParam);
    case WM_POWERBROADCAST: return OnPowerBroadcast(wParam, lParam);
    case WM_WTSSESSION_CHANGE: return OnSessionChange(wParam);
    case WM_MUTE_STATE: return OnMuteState(lParam == MUTE_STATE_LATEST ? TakeLatest(NotifiedMute) : wParam);
    case WM_ENDPOINT_REACQUIRE: return OnEndpointReacquire();
    case WM_CHECK_QUERY: return OnCheckQuery();
    case WM_SESSION_SERVICES_READY: return OnSessionServicesReady();
    case WM_RESYNC_REARM:
      TakeLatest(ResyncRearm);
      StartNotificationResync(WindowTimers());
      return 0;
    case WM_REACQUIRE_REARM:
      TakeLatest(ReacquireRearm);
      ArmReacquire(WindowTimers());
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

int RunMessageLoop(HINSTANCE instance, HANDLE end) {
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAIN));
  MSG message;
  for (;;) {
    const DWORD handles = end ? 1 : 0;
    const DWORD woke = MsgWaitForMultipleObjectsEx(handles, &end, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (handles && woke == WAIT_OBJECT_0) {
      // The event stays set until the one who set it has seen every resident go.
      end = nullptr;
      DestroyWindow(App.Window);
      continue;
    }
    // An error here would repeat forever; end instead of spinning.
    if (woke != WAIT_OBJECT_0 + handles) return 1;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      if (TranslateAcceleratorW(message.hwnd, accelerators, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}
