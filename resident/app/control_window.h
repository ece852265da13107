#pragma once
#include <windows.h>

void RegisterMainWindowClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs until WM_QUIT (or an error of the wait) and returns the exit code. Once
// END (null: none) is set, the control window is destroyed, which ends the loop.
int RunMessageLoop(HINSTANCE instance, HANDLE end);
