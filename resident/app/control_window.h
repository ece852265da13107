#pragma once
#include <windows.h>

void RegisterMainWindowClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs until WM_QUIT (or a GetMessageW error) and returns the exit code.
int RunMessageLoop(HINSTANCE instance);
