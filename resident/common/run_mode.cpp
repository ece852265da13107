#include "run_mode.h"

#include <cwchar>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

RunMode ParseRunMode(const wchar_t* commandLine) {
  if (std::wcscmp(commandLine, L"/install") == 0) return RunMode::Install;
  if (std::wcscmp(commandLine, L"/uninstall") == 0) return RunMode::Uninstall;
  return RunMode::Normal;
}

bool IsSelfCheckCommand(const wchar_t* commandLine) {
  while (IsBlank(*commandLine)) ++commandLine;
  for (const wchar_t* keyword = L"/check"; *keyword != L'\0'; ++keyword, ++commandLine) {
    if (FoldAscii(*commandLine) != *keyword) return false;
  }
  while (IsBlank(*commandLine)) ++commandLine;
  return *commandLine == L'\0';
}
