#include "run_mode.h"

#include <cwchar>

RunMode ParseRunMode(const wchar_t* commandLine) {
  if (std::wcscmp(commandLine, L"/install") == 0) return RunMode::Install;
  if (std::wcscmp(commandLine, L"/uninstall") == 0) return RunMode::Uninstall;
  return RunMode::Normal;
}

bool IsSelfCheckCommand(const wchar_t* commandLine) { return std::wcscmp(commandLine, L"/check") == 0; }
