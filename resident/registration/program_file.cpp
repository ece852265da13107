#include "registration/program_file.h"

namespace {

bool IdentifyFile(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* identity) {
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool read = GetFileInformationByHandle(file, identity) != FALSE;
  CloseHandle(file);
  return read;
}

}  // namespace

NamedProgram CompareWithSelf(const WCHAR* path, const WCHAR* self) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return NamedProgram::Missing;
  BY_HANDLE_FILE_INFORMATION named, running;
  if (!IdentifyFile(path, &named) || !IdentifyFile(self, &running)) return NamedProgram::NotCompared;
  const bool same = named.dwVolumeSerialNumber == running.dwVolumeSerialNumber &&
                    named.nFileIndexHigh == running.nFileIndexHigh && named.nFileIndexLow == running.nFileIndexLow;
  return same ? NamedProgram::ThisFile : NamedProgram::AnotherFile;
}
