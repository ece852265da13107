#pragma once
// What the three doubles share: finding the test folder, reading its files and
// appending to its logs.

#include <windows.h>

// Full path of FILE in the test folder; false when the process has no test
// folder or the path does not fit.
bool DoublesPath(const wchar_t* file, wchar_t* path, DWORD capacity);

// The whole file, zero-terminated, from HeapAlloc (HeapFree it); null when the
// file is missing. *size is the byte count without the terminator.
char* ReadWholeFile(const wchar_t* path, DWORD* size);

// Appends "TICK PID " and the formatted text as one line to the log FILE.
void AppendLog(const wchar_t* file, const char* format, ...);

// Splits the next line off *cursor in place; null at the end. Lines that are
// empty or start with '#' are skipped.
char* NextConfigLine(char** cursor);
// Splits the next blank-separated word off *cursor in place; null when none.
char* NextWord(char** cursor);
