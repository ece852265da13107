#pragma once
// The three steps of the installer, run 100 ms apart from its window's timers.
#include <windows.h>

// Name of the program file in the system directory and the window class of the
// running resident program, by which the installer finds it.
constexpr const wchar_t* TARGET_FILE_NAME = L"Corvane.exe";
constexpr const wchar_t* RESIDENT_CLASS_NAME = L"CORVANE";

// How long the stop step waits for the resident to take its WM_DESTROY: a hung
// resident, or another program's window of that class, must not hold the installer.
constexpr UINT RESIDENT_ANSWER_WAIT_MS = 5000;

// How long the extract step waits for a stopped resident to exit: Windows refuses to
// replace the file of a program that is still running.
constexpr DWORD RESIDENT_EXIT_WAIT_MS = 5000;

// Step 1: tells a running resident to end (WM_DESTROY on its own main thread) and
// returns its process, opened for waiting only, or null when none runs or its
// process cannot be opened. A resident that does not answer in time is waited for
// all the same.
HANDLE StopResident();

// Step 2: waits for the stopped resident (if any) to exit, then writes the carried
// program (resource BIN 129) to targetPath. The target is replaced only by a
// complete copy; on any failure it is left as it was and nothing else remains. A
// target that a running process still maps is renamed aside, and the renamed file
// is deleted at the next restart.
void ExtractEmbeddedProgram(HINSTANCE instance, HANDLE residentProcess, const wchar_t* targetPath);

// Step 3: starts whatever is at targetPath in install mode.
void LaunchInstalledProgram(const wchar_t* targetPath);
