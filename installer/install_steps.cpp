#include "install_steps.h"

#include "common/session_rules.h"
#include "installer_functions.h"
#include "registration/file_aside.h"
#include "registration/hand_over.h"
#include "res/resource.h"

namespace {

// Target path plus ".new": the copy is written beside the target, on the same
// volume, so that moving it into place is a rename. The old target, when it cannot
// be replaced, goes aside in the same folder under a name of ASIDE_NAME_LENGTH.
constexpr unsigned TEMPORARY_PATH_CAPACITY = 320;
// The command line of a start of the target: the quoted path and the parameters.
constexpr unsigned COMMAND_LINE_CAPACITY = TEMPORARY_PATH_CAPACITY + 32;

// How long the started resident may take to reach its message loop: its first
// report to a keyboard that stalls takes seconds per interface.
constexpr DWORD RESIDENT_START_WAIT_MS = 30000;
constexpr DWORD RESIDENT_POLL_MS = 50;

bool MoveWithoutReplacing(const wchar_t* from, const wchar_t* to, unsigned long* error) {
  if (MoveFileExW(from, to, 0)) return true;
  *error = GetLastError();
  return false;
}

// Moves from over to, trying again while the error is a passing one.
bool MoveIntoPlace(const wchar_t* from, const wchar_t* to, DWORD flags, MoveFailure* failure) {
  for (unsigned attempt = 1;; ++attempt) {
    if (MoveFileExW(from, to, flags)) return true;
    *failure = ClassifyMoveFailure(GetLastError());
    if (*failure != MoveFailure::Retry || attempt == MOVE_ATTEMPTS) return false;
    Sleep(MOVE_RETRY_MS);
  }
}

bool WriteWholeFile(HANDLE file, const void* bytes, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file);
}

void ReplaceTarget(const wchar_t* targetPath, const void* bytes, DWORD size) {
  wchar_t temporaryPath[TEMPORARY_PATH_CAPACITY];
  wsprintfW(temporaryPath, L"%s.new", targetPath);

  // Readers (a scanner) may look at the new file while it is written.
  HANDLE file =
      CreateFileW(temporaryPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  bool complete = WriteWholeFile(file, bytes, size);
  if (!CloseHandle(file)) complete = false;
  if (!complete) {
    DeleteFileW(temporaryPath);
    return;
  }
  MoveFailure failure = MoveFailure::GiveUp;
  if (MoveIntoPlace(temporaryPath, targetPath, MOVEFILE_REPLACE_EXISTING, &failure)) return;

  // A process that the stop step cannot reach (a resident of another session)
  // still maps the old program: Windows lets it be renamed, not replaced.
  wchar_t aside[TEMPORARY_PATH_CAPACITY];
  if (failure == MoveFailure::RenameTargetAside &&
      RenameAside(targetPath, GetTickCount() ^ (GetCurrentProcessId() << 16), MoveWithoutReplacing, aside,
                  TEMPORARY_PATH_CAPACITY)) {
    if (MoveIntoPlace(temporaryPath, targetPath, 0, &failure)) {
      MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      return;
    }
    // The record names the target: the old program goes back under its name.
    MoveIntoPlace(aside, targetPath, 0, &failure);
  }
  DeleteFileW(temporaryPath);
}

// Whether the file at path holds exactly the size bytes at bytes.
bool FileHolds(const wchar_t* path, const void* bytes, DWORD size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER fileSize;
  bool same = GetFileSizeEx(file, &fileSize) && fileSize.QuadPart == size;
  const unsigned char* expected = static_cast<const unsigned char*>(bytes);
  unsigned char chunk[4096];
  for (DWORD offset = 0; same && offset < size;) {
    DWORD wanted = size - offset < sizeof chunk ? size - offset : static_cast<DWORD>(sizeof chunk);
    DWORD got = 0;
    same = ReadFile(file, chunk, wanted, &got, nullptr) && got == wanted;
    for (DWORD i = 0; same && i < got; ++i) same = chunk[i] == expected[offset + i];
    offset += got;
  }
  CloseHandle(file);
  return same;
}

// Starts the target with parameters (none when empty) in the system directory,
// so that nothing it loads or opens by a relative name comes from the folder the
// installer was started in. Null when it did not start.
HANDLE StartTarget(const wchar_t* targetPath, const wchar_t* parameters, const wchar_t* systemDirectory,
                   DWORD* processId) {
  wchar_t commandLine[COMMAND_LINE_CAPACITY];  // CreateProcessW may write to it
  wsprintfW(commandLine, parameters[0] ? L"\"%s\" %s" : L"\"%s\"", targetPath, parameters);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // No standard handles (Wine passes the installer's on even without inheritance):
  // a caller reading the installer's output sees its end when the installer ends.
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(targetPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, systemDirectory, &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  *processId = process.dwProcessId;
  return process.hProcess;
}

// The started resident, out of sight in another session, has reached its message
// loop: it waited for input once and still runs.
bool ReachedItsLoop(HANDLE process) {
  return WaitForInputIdle(process, RESIDENT_START_WAIT_MS) == 0 && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// The resident of an installer in session 0 (run as SYSTEM by a deployment tool)
// belongs to the user at the console CONSOLE: started there with that user's
// token and environment, on the interactive desktop. True also when nobody is
// signed in there, for the Run value starts it at that user's log-on.
bool StartAtConsole(const wchar_t* targetPath, const wchar_t* systemDirectory, DWORD console) {
  HANDLE token = nullptr;
  if (!InstallerSys.WTSQueryUserToken) return false;
  if (!InstallerSys.WTSQueryUserToken(console, &token)) return GetLastError() == ERROR_NO_TOKEN;
  void* environment = nullptr;
  bool running = false;
  // Without the user's own environment the resident would get SYSTEM's.
  if (InstallerSys.CreateEnvironmentBlock && InstallerSys.DestroyEnvironmentBlock &&
      InstallerSys.CreateEnvironmentBlock(&environment, token, FALSE)) {
    wchar_t commandLine[COMMAND_LINE_CAPACITY];  // CreateProcessAsUserW may write to it
    wsprintfW(commandLine, L"\"%s\"", targetPath);
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process;
    if (CreateProcessAsUserW(token, targetPath, commandLine, nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             environment, systemDirectory, &startup, &process)) {
      CloseHandle(process.hThread);
      running = ReachedItsLoop(process.hProcess);
      CloseHandle(process.hProcess);
    }
    InstallerSys.DestroyEnvironmentBlock(environment);
  }
  CloseHandle(token);
  return running;
}

bool HasResidentWindow(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, RESIDENT_CLASS_NAME, nullptr)) != nullptr) {
    DWORD owner = 0;
    if (GetWindowThreadProcessId(window, &owner) && owner == processId) return true;
  }
  return false;
}

}  // namespace

void StopResident() {
  // A resident that does not end in time keeps its file; the rename then fails
  // and the old program stays in place. The window of this desktop's resident
  // also reaches one of an earlier version; the event reaches every session's.
  if (HWND resident = FindWindowW(RESIDENT_CLASS_NAME, nullptr)) EndRunningResident(resident, WM_DESTROY);
  EndEveryResident();
}

bool ExtractEmbeddedProgram(HINSTANCE instance, const wchar_t* targetPath) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_RESIDENT_PROGRAM), L"BIN");
  if (!found) return false;
  DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return false;
  const void* bytes = LockResource(loaded);
  bool installed = false;
  if (bytes && size != 0) {
    ReplaceTarget(targetPath, bytes, size);
    // Read back: also true when the target already held this program and stayed.
    installed = FileHolds(targetPath, bytes, size);
  }
  FreeResource(loaded);
  return installed;
}

bool RecordAndStartInstalledProgram(const wchar_t* targetPath, const wchar_t* systemDirectory) {
  DWORD processId = 0;
  HANDLE recording = StartTarget(targetPath, L"/install /relaunched", systemDirectory, &processId);
  if (!recording) return false;
  DWORD code = 1;
  if (WaitForSingleObject(recording, RECORD_STEP_WAIT_MS) != WAIT_OBJECT_0 || !GetExitCodeProcess(recording, &code))
    code = 1;
  CloseHandle(recording);
  if (code != 0) return false;

  DWORD own = 0;
  const bool known = ProcessIdToSessionId(GetCurrentProcessId(), &own) != FALSE;
  const DWORD console = WTSGetActiveConsoleSessionId();
  switch (ResidentPlaceFor(known, own, console)) {
    case ResidentPlace::Here: break;
    case ResidentPlace::ConsoleSession: return StartAtConsole(targetPath, systemDirectory, console);
    case ResidentPlace::Nowhere: return true;
  }
  // The resident stays only where no window of its class remains (one that would
  // not end, for example): it is resident once it has a window of its own.
  HANDLE resident = StartTarget(targetPath, L"", systemDirectory, &processId);
  if (!resident) return false;
  const DWORD start = GetTickCount();
  bool running = false;
  while (!(running = HasResidentWindow(processId)) && GetTickCount() - start < RESIDENT_START_WAIT_MS &&
         WaitForSingleObject(resident, RESIDENT_POLL_MS) == WAIT_TIMEOUT) {
  }
  CloseHandle(resident);
  return running;
}
