// Install_Corvane: a hidden window whose one-shot timers stop a running Corvane,
// write the carried Corvane.exe into the system directory, have it record itself
// and start it there as the resident, 100 ms apart; then the installer quits with
// 0 when all of that was done, 1 otherwise.
#include <windows.h>

#include "common/dll_search.h"
#include "install_steps.h"
#include "installer_functions.h"
#include "registration/hand_over.h"
#include "res/resource.h"

namespace {

constexpr unsigned TEXT_CAPACITY = 100;         // title and class name, as the resident's
constexpr unsigned TARGET_PATH_CAPACITY = 300;  // "<system directory>\Corvane.exe"

constexpr UINT_PTR TIMER_STOP = 1;
constexpr UINT_PTR TIMER_EXTRACT = 2;
constexpr UINT_PTR TIMER_LAUNCH = 3;
constexpr UINT_PTR STEP_TIMERS_BELOW = 100;  // every step timer is one-shot
constexpr UINT STEP_DELAY_MS = 100;

struct InstallerState {
  HINSTANCE Instance;
  bool Installed;  // the target holds the carried program
  int ExitCode;    // 1 until the last step succeeded
  wchar_t ClassName[TEXT_CAPACITY];
  wchar_t Title[TEXT_CAPACITY];
  wchar_t SystemDirectory[MAX_PATH];
  wchar_t TargetPath[TARGET_PATH_CAPACITY];
};

InstallerState g_installer;

// The system folder of the installer's own bitness, named as it is: a 32-bit
// installer on 64-bit Windows writes to and starts SysWOW64\Corvane.exe by that
// name, so that the program's path (and the record made from it) never depends on
// the redirection of System32.
bool ComputeTargetPath() {
  wchar_t* systemDirectory = g_installer.SystemDirectory;
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) return false;
  UINT length =
      wow64 ? GetSystemWow64DirectoryW(systemDirectory, MAX_PATH) : GetSystemDirectoryW(systemDirectory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wsprintfW(g_installer.TargetPath, L"%s\\%s", systemDirectory, TARGET_FILE_NAME);
  return true;
}

void OnStepTimer(HWND window, UINT_PTR id) {
  if (id < STEP_TIMERS_BELOW) KillTimer(window, id);
  switch (id) {
    case TIMER_STOP:
      StopResident();
      SetTimer(window, TIMER_EXTRACT, STEP_DELAY_MS, nullptr);
      break;
    case TIMER_EXTRACT:
      g_installer.Installed = ExtractEmbeddedProgram(g_installer.Instance, g_installer.TargetPath);
      SetTimer(window, TIMER_LAUNCH, STEP_DELAY_MS, nullptr);
      break;
    case TIMER_LAUNCH:
      // Without the carried program at the target nothing is recorded or started:
      // the record and what starts at log-on stay as they were.
      if (g_installer.Installed &&
          RecordAndStartInstalledProgram(g_installer.TargetPath, g_installer.SystemDirectory))
        g_installer.ExitCode = 0;
      PostMessageW(window, WM_DESTROY, 0, 0);
      break;
  }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // Without a system directory there is nowhere to install: no window, exit 1.
      if (!ComputeTargetPath()) return -1;
      SetTimer(window, TIMER_STOP, STEP_DELAY_MS, nullptr);
      return 0;
    case WM_TIMER:
      OnStepTimer(window, wParam);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(g_installer.ExitCode);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_ABOUT:
          DialogBoxW(g_installer.Instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc);
          return 0;
        case IDM_EXIT:
          DestroyWindow(window);
          return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterInstallerWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = InstallerWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = g_installer.ClassName;
  windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
  RegisterClassExW(&windowClass);
}

// The machine-wide mutex of the installer, owned by this process until it ends;
// null when another process holds it, or has made it so that an administrator
// cannot have it (no other user may have it at all).
HANDLE OpenInstallerMutex() {
  SECURITY_ATTRIBUTES attributes;
  if (!DescribeSecurity(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", &attributes)) return nullptr;
  HANDLE mutex = CreateMutexExW(&attributes, L"Global\\Install_Corvane", 0, SYNCHRONIZE);
  LocalFree(attributes.lpSecurityDescriptor);
  if (!mutex) return nullptr;
  // Held by whoever created it; this process owns it only when it is free.
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
  CloseHandle(mutex);
  return nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The installer runs elevated from wherever it was downloaded to.
  RestrictDllSearchToSystemDirectory();
  LoadInstallerFunctions();
  g_installer.ExitCode = 1;
  LoadStringW(instance, IDS_TITLE, g_installer.Title, TEXT_CAPACITY);
  LoadStringW(instance, IDS_CLASS_NAME, g_installer.ClassName, TEXT_CAPACITY);
  RegisterInstallerWindowClass(instance);

  // One installer at a time on the whole machine, whichever session or desktop it
  // runs in: the second installs nothing itself.
  HANDLE oneInstaller = OpenInstallerMutex();
  if (!oneInstaller) return 1;

  g_installer.Instance = instance;
  HWND window = CreateWindowExW(0, g_installer.ClassName, g_installer.Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  UpdateWindow(window);

  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAIN));
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  ReleaseMutex(oneInstaller);
  CloseHandle(oneInstaller);
  // A GetMessageW error ends the loop instead of spinning, and is not reported as success.
  return got == 0 ? static_cast<int>(message.wParam) : 1;
}
