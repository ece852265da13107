// Test hook DLL: loaded into a running Corvane by a WH_CALLWNDPROC hook that the
// installer tests set on its main thread. It logs every WM_DESTROY and WM_CLOSE sent
// to a window of class CORVANE, so a test can count what the installer sent. Placed
// beside a program under a system library's name, it logs being loaded there.
//
// messages.log in the test folder: "TICK PID destroy", "TICK PID close" or "TICK PID attach".
#include <windows.h>

#include "double_support.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) AppendLog(L"messages.log", "attach");
  return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK RecordSentMessage(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    wchar_t className[16];
    if ((sent->message == WM_DESTROY || sent->message == WM_CLOSE) &&
        GetClassNameW(sent->hwnd, className, 16) && lstrcmpW(className, L"CORVANE") == 0) {
      AppendLog(L"messages.log", sent->message == WM_DESTROY ? "destroy" : "close");
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
