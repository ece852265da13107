// Install_Corvane: a hidden window whose one-shot timers stop a running Corvane,
// write the carried Corvane.exe into the system directory and start it there with
// "/install", 100 ms apart; then the installer quits.
#include <windows.h>

#include "install_steps.h"
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
  HANDLE ResidentProcess;  // from the stop step until the extract step has waited for it
  wchar_t ClassName[TEXT_CAPACITY];
  wchar_t Title[TEXT_CAPACITY];
  wchar_t TargetPath[TARGET_PATH_CAPACITY];
};

InstallerState g_installer;

// The system folder of the installer's own bitness, named as it is: a 32-bit
// installer on 64-bit Windows writes to and starts SysWOW64\Corvane.exe by that
// name, so that the program's path (and the record made from it) never depends on
// the redirection of System32.
bool ComputeTargetPath() {
  wchar_t systemDirectory[MAX_PATH];
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
      g_installer.ResidentProcess = StopResident();
      SetTimer(window, TIMER_EXTRACT, STEP_DELAY_MS, nullptr);
      break;
    case TIMER_EXTRACT:
      ExtractEmbeddedProgram(g_installer.Instance, g_installer.ResidentProcess, g_installer.TargetPath);
      g_installer.ResidentProcess = nullptr;
      SetTimer(window, TIMER_LAUNCH, STEP_DELAY_MS, nullptr);
      break;
    case TIMER_LAUNCH:
      LaunchInstalledProgram(g_installer.TargetPath);
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
      // Without a system directory there is nowhere to install: no window, exit 0.
      if (!ComputeTargetPath()) return -1;
      SetTimer(window, TIMER_STOP, STEP_DELAY_MS, nullptr);
      return 0;
    case WM_TIMER:
      OnStepTimer(window, wParam);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
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

// The installer runs elevated from wherever it was downloaded to: DLLs that the
// system libraries load later come from the system directory only, never from
// beside the installer. Looked up at run time: Windows 7 has the function only with
// update KB2533623, and an import would stop the loader there before any code
// runs. Without it the installer goes on with the standard search order.
void RestrictDllSearchToSystemDirectory() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (!found) return;
  auto setDefaultDirectories = reinterpret_cast<decltype(&SetDefaultDllDirectories)>(reinterpret_cast<void*>(found));
  setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearchToSystemDirectory();
  LoadStringW(instance, IDS_TITLE, g_installer.Title, TEXT_CAPACITY);
  LoadStringW(instance, IDS_CLASS_NAME, g_installer.ClassName, TEXT_CAPACITY);
  RegisterInstallerWindowClass(instance);

  // One installer at a time.
  if (FindWindowW(g_installer.ClassName, nullptr)) return 0;

  g_installer.Instance = instance;
  HWND window = CreateWindowExW(0, g_installer.ClassName, g_installer.Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (!window) return 0;
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
  // A GetMessageW error ends the loop instead of spinning, and is not reported as success.
  return got == 0 ? static_cast<int>(message.wParam) : 1;
}
