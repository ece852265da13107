#pragma once
// The three steps of the installer, run 100 ms apart from its window's timers.
#include <windows.h>

// Name of the program file in the system directory and the window class of the
// running resident program, by which the installer finds it.
constexpr const wchar_t* TARGET_FILE_NAME = L"Corvane.exe";
constexpr const wchar_t* RESIDENT_CLASS_NAME = L"CORVANE";

// How long the record step may take: its own take-over from a resident that the
// stop step could not end is bounded by the same limits.
constexpr DWORD RECORD_STEP_WAIT_MS = 60000;

// Step 1: tells a running resident to end (WM_DESTROY on its own main thread),
// then the residents of every session, and waits, bounded, for their processes to
// exit: Windows refuses to replace the file of a program that is still running.
void StopResident();

// Step 2: writes the carried program (resource BIN 129) to targetPath. The target
// is replaced only by a complete copy; on any failure it is left as it was and
// nothing else remains. A target that a running process still maps is renamed
// aside, and the renamed file is deleted at the next restart. True when the
// target then holds the carried program byte for byte.
bool ExtractEmbeddedProgram(HINSTANCE instance, const wchar_t* targetPath);

// Step 3: the installed program writes its record ("/install /relaunched", the
// one-shot record step, which takes over from the running residents only once the
// record is written), then is started as the resident, in the system directory
// systemDirectory: in this session, or from session 0 in the console user's.
// True when the record was written and the resident runs where one can run now
// (none with nobody at the console of a session-0 installer).
bool RecordAndStartInstalledProgram(const wchar_t* targetPath, const wchar_t* systemDirectory);
