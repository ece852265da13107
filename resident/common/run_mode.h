#pragma once

enum class RunMode : unsigned char { Normal = 0, Install = 1, Uninstall = 255 };

// commandLine is the text after the program name with leading blanks removed.
// Only the exact texts "/install" and "/uninstall" select a mode.
RunMode ParseRunMode(const wchar_t* commandLine);

// "/check", compared the same way: the self-check, which runs apart from every mode.
bool IsSelfCheckCommand(const wchar_t* commandLine);
