#pragma once

enum class RunMode : unsigned char { Normal = 0, Install = 1, Uninstall = 255 };

// commandLine is the text after the program name with leading blanks removed.
// Only the exact texts "/install" and "/uninstall" select a mode.
RunMode ParseRunMode(const wchar_t* commandLine);

// "/check" in any letter case, with blanks or tabs around it: the self-check, which
// runs apart from every mode. cmd hands a program the blank before a redirection or
// a pipe ("/check > file" arrives as "/check "), and the check changes nothing, so
// a looser match cannot start anything by mistake.
bool IsSelfCheckCommand(const wchar_t* commandLine);
