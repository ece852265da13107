#include "elevation_rules.h"

#include <cwchar>

namespace {

constexpr wchar_t kInstallRelaunched[] = L"/install /relaunched";
constexpr wchar_t kUninstallRelaunched[] = L"/uninstall /relaunched";

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameNameIgnoringCase(const wchar_t* a, const wchar_t* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::size_t FolderLength(const wchar_t* path) {
  const wchar_t* last = std::wcsrchr(path, L'\\');
  return last ? static_cast<std::size_t>(last - path) + 1 : 0;
}

bool IsInstalledProgram(const ProgramPlace& place) {
  const wchar_t* folder = place.Wow64 ? place.Wow64Folder : place.SystemFolder;
  if (!place.ProgramPath || !folder) return false;
  std::size_t folderLength = std::wcslen(folder);
  if (folderLength > 0 && folder[folderLength - 1] == L'\\') --folderLength;
  if (folderLength == 0) return false;
  // The program's folder is exactly the system folder: the name that follows is
  // one file name, with no separator of either kind.
  const wchar_t* path = place.ProgramPath;
  if (std::wcslen(path) <= folderLength + 1 || path[folderLength] != L'\\') return false;
  const wchar_t* name = path + folderLength + 1;
  return SameNameIgnoringCase(path, folder, folderLength) && !std::wcschr(name, L'\\') && !std::wcschr(name, L'/');
}

ElevationStep DecideElevationStep(const StartFacts& facts) {
  if (facts.Mode == RunMode::Normal) return ElevationStep::GoOn;
  if (facts.Elevation != ElevationState::NotElevated) {
    return facts.Relaunched && facts.Mode == RunMode::Install ? ElevationStep::WriteRecord : ElevationStep::GoOn;
  }
  if (facts.Relaunched || !IsInstalledProgram(facts.Place)) return ElevationStep::Refuse;
  return ElevationStep::Relaunch;
}

RunMode ParseStartCommandLine(const wchar_t* commandLine, bool* relaunched) {
  *relaunched = true;
  if (std::wcscmp(commandLine, kInstallRelaunched) == 0) return RunMode::Install;
  if (std::wcscmp(commandLine, kUninstallRelaunched) == 0) return RunMode::Uninstall;
  *relaunched = false;
  return ParseRunMode(commandLine);
}

const wchar_t* RelaunchParameters(RunMode mode) {
  switch (mode) {
    case RunMode::Install: return kInstallRelaunched;
    case RunMode::Uninstall: return kUninstallRelaunched;
    default: return nullptr;
  }
}
