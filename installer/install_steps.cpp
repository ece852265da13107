#include "install_steps.h"

#include <shellapi.h>

#include "registration/file_aside.h"
#include "res/resource.h"

namespace {

// Target path plus ".new": the copy is written beside the target, on the same
// volume, so that moving it into place is a rename. The old target, when it cannot
// be replaced, goes aside in the same folder under a name of ASIDE_NAME_LENGTH.
constexpr unsigned TEMPORARY_PATH_CAPACITY = 320;

bool MoveWithoutReplacing(const wchar_t* from, const wchar_t* to, unsigned long* error) {
  if (MoveFileExW(from, to, 0)) return true;
  *error = GetLastError();
  return false;
}

bool WriteWholeFile(HANDLE file, const void* bytes, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file);
}

void ReplaceTarget(const wchar_t* targetPath, const void* bytes, DWORD size) {
  wchar_t temporaryPath[TEMPORARY_PATH_CAPACITY];
  wsprintfW(temporaryPath, L"%s.new", targetPath);

  HANDLE file = CreateFileW(temporaryPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  bool complete = WriteWholeFile(file, bytes, size);
  if (!CloseHandle(file)) complete = false;
  if (!complete) {
    DeleteFileW(temporaryPath);
    return;
  }
  if (MoveFileExW(temporaryPath, targetPath, MOVEFILE_REPLACE_EXISTING)) return;

  // A process that the stop step cannot reach (a resident of another session, a
  // scanner) still maps the old program: Windows lets it be renamed, not replaced.
  wchar_t aside[TEMPORARY_PATH_CAPACITY];
  if (RenameAside(targetPath, GetTickCount() ^ (GetCurrentProcessId() << 16), MoveWithoutReplacing, aside,
                  TEMPORARY_PATH_CAPACITY)) {
    if (MoveFileExW(temporaryPath, targetPath, 0)) {
      MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      return;
    }
    MoveFileExW(aside, targetPath, 0);
  }
  DeleteFileW(temporaryPath);
}

}  // namespace

HANDLE StopResident() {
  HWND resident = FindWindowW(RESIDENT_CLASS_NAME, nullptr);
  if (!resident) return nullptr;
  // Taken before WM_DESTROY: once the resident has gone, its window no longer leads to it.
  HANDLE process = nullptr;
  DWORD processId = 0;
  if (GetWindowThreadProcessId(resident, &processId)) process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  SendMessageTimeoutW(resident, WM_DESTROY, 0, 0, SMTO_ABORTIFHUNG, RESIDENT_ANSWER_WAIT_MS, nullptr);
  return process;
}

void ExtractEmbeddedProgram(HINSTANCE instance, HANDLE residentProcess, const wchar_t* targetPath) {
  if (residentProcess) {
    // A resident still running after the wait keeps its file; the rename then fails
    // and the old program stays in place.
    WaitForSingleObject(residentProcess, RESIDENT_EXIT_WAIT_MS);
    CloseHandle(residentProcess);
  }

  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_RESIDENT_PROGRAM), L"BIN");
  if (!found) return;
  DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return;
  const void* bytes = LockResource(loaded);
  if (bytes && size != 0) ReplaceTarget(targetPath, bytes, size);
  FreeResource(loaded);
}

void LaunchInstalledProgram(const wchar_t* targetPath) {
  // The resident removes leading blanks before it reads its mode, so it sees exactly "/install".
  ShellExecuteW(nullptr, L"open", targetPath, L" /install", nullptr, SW_HIDE);
}
