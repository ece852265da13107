// The least program of Corvane's shape, for scripts/bench: a hidden window whose
// 200 ms timer reads a lock key. Its size and idle cost are the floor that
// Corvane's figures are set beside.

#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"CORVANE_FLOOR";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMs = 200;

SHORT g_capsLock;  // stored so that the read stays in the program

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      g_capsLock = GetKeyState(VK_CAPITAL);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = FloorWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassExW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr, instance,
                                nullptr);
  if (!window || !SetTimer(window, kTimerId, kTimerMs, nullptr)) return 1;
  MSG message;
  BOOL result;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (result == -1) return 1;
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
