#include "uninstall/uninstall.h"

#include <shlobj.h>

#include "common/app_state.h"
#include "common/control_ids.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"
#include "registration/file_aside.h"
#include "registration/install_record.h"
#include "registration/install_record_values.h"
#include "registration/program_file.h"
#include "registration/record_rules.h"
#include "registration/self_delete_command.h"

static_assert(RIGHT_QUERY_VALUE == KEY_QUERY_VALUE && RIGHT_SET_VALUE == KEY_SET_VALUE &&
                  RIGHT_CREATE_SUB_KEY == KEY_CREATE_SUB_KEY && RIGHT_READ_CONTROL == READ_CONTROL &&
                  RIGHTS_KEY_WRITE == KEY_WRITE && VIEW_64 == KEY_WOW64_64KEY && VIEW_32 == KEY_WOW64_32KEY,
              "the platform-free access rights are those of winnt.h");

namespace {

// A path or text of at most PROGRAM_PATH_CAPACITY characters; a result of 0 or one that does not fit is a failure.
bool Fits(DWORD length) { return length != 0 && length < PROGRAM_PATH_CAPACITY; }

// Deletes every value of the entry through a handle of the 64-bit view.
bool RemoveEntryValues(HKEY entry) {
  for (;;) {
    WCHAR name[16384];  // the longest value name, terminator included
    DWORD length = ARRAYSIZE(name);
    LSTATUS status = RegEnumValueW(entry, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS || RegDeleteValueW(entry, name) != ERROR_SUCCESS) return false;
  }
}

// The program that a value of the record names, compared with SELF; an absent
// value names none (Missing), one that cannot be read cannot be compared.
NamedProgram RecordedProgram(const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* self) {
  WCHAR command[2 * PROGRAM_PATH_CAPACITY];
  LSTATUS status = ReadRecordText(keyPath, valueName, command, sizeof(command));
  if (status == ERROR_FILE_NOT_FOUND) return NamedProgram::Missing;
  if (status != ERROR_SUCCESS) return NamedProgram::NotCompared;
  WCHAR program[PROGRAM_PATH_CAPACITY];
  ProgramOfCommand(command, program);
  return CompareWithSelf(program, self);
}

// A scanner may hold the program file for a moment without delete sharing.
bool RenameProgramAside(const WCHAR* path, WCHAR* aside) {
  for (unsigned attempt = 1;; ++attempt) {
    if (RenameAside(path, GetTickCount() ^ (GetCurrentProcessId() << 16), MoveWithoutReplacing, aside,
                    PROGRAM_PATH_CAPACITY))
      return true;
    if (attempt == MOVE_ATTEMPTS) return false;
    Sleep(MOVE_RETRY_MS);
  }
}

// Renames the program's file aside, so that a reinstall before the next restart
// writes a new file under its name that nothing here deletes, and starts the
// command that deletes the renamed file once this process has exited. Whatever the
// command leaves goes at the restart. True when the command started; false when
// the file waits for the restart.
bool RemoveProgramFile() {
  WCHAR path[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetModuleFileNameW(nullptr, path, PROGRAM_PATH_CAPACITY))) return false;
  WCHAR aside[PROGRAM_PATH_CAPACITY];
  const bool renamed = RenameProgramAside(path, aside);
  const wchar_t* file = renamed ? aside : path;
  const bool scheduled = renamed && MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);

  HANDLE command = nullptr;
  if (!StartSelfDelete(file, &command)) {
    // The program's own name is given to the restart only when nothing else is left.
    if (!scheduled) MoveFileExW(file, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
  }
  // The command retries until this process has exited and released its file;
  // the handle goes with the process.
  if (command) SetPriorityClass(command, IDLE_PRIORITY_CLASS);
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path, nullptr);
  return true;
}

}  // namespace

bool MoveWithoutReplacing(const wchar_t* from, const wchar_t* to, unsigned long* error) {
  if (MoveFileExW(from, to, 0)) return true;
  *error = GetLastError();
  return false;
}

bool RecordIsThisProgramsOwn() {
  WCHAR self[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetModuleFileNameW(nullptr, self, PROGRAM_PATH_CAPACITY))) return false;
  return RecordIsOurs(RecordedProgram(RUN_KEY, PROGRAM_VALUE_NAME, self),
                      RecordedProgram(UNINSTALL_KEY, L"UninstallString", self));
}

void RunUninstall() {
  KillTimer(App.Window, TIMER_UNINSTALL);
  App.Mute = 0;
  SendKeyboardFeature(FEATURE_CMD_MUTE, 0);
  App.UninstallReportSent = true;
  const UninstallEnd end = EndOfUninstall(RemoveInstallRecord());
  // An uninstall always ends; 1 says that the file is still there until the restart.
  PostQuitMessage(!end.SelfDelete || RemoveProgramFile() ? end.ExitCode : 1);
}

int RemoveInstallRecord() {
  HKEY runKey;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_KEY, 0, RUN_VALUE_REMOVE_ACCESS, &runKey);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(runKey, PROGRAM_VALUE_NAME);
    RegCloseKey(runKey);
  }
  if (!CountsAsRemoved(status)) return 1;

  HKEY entry;
  status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, ENTRY_VALUES_REMOVE_ACCESS, &entry);
  if (status == ERROR_FILE_NOT_FOUND) return 0;
  if (status != ERROR_SUCCESS) return 2;
  const bool valuesRemoved = RemoveEntryValues(entry);
  RegCloseKey(entry);
  // RegDeleteTreeW cannot name the view of the key it deletes; this call does.
  if (!valuesRemoved ||
      !CountsAsRemoved(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, ENTRY_DELETE_VIEW, 0)))
    return 2;
  return 0;
}

bool StartSelfDelete(const wchar_t* path, HANDLE* command) {
  *command = nullptr;
  // The command names the file within its folder, its working directory: the
  // folder's path, whatever it holds, never passes through the interpreter.
  const wchar_t* name = FileNameOf(path);
  const int folderLength = static_cast<int>(name - path);
  WCHAR folder[PROGRAM_PATH_CAPACITY];
  if (folderLength == 0 || folderLength >= static_cast<int>(PROGRAM_PATH_CAPACITY)) return false;
  lstrcpynW(folder, path, folderLength + 1);

  // The shared Windows folder: GetWindowsDirectoryW may name a folder of the user's.
  WCHAR system[PROGRAM_PATH_CAPACITY];
  WCHAR windows[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetSystemDirectoryW(system, PROGRAM_PATH_CAPACITY)) ||
      !Fits(GetSystemWindowsDirectoryW(windows, PROGRAM_PATH_CAPACITY)))
    return false;
  WCHAR interpreter[PROGRAM_PATH_CAPACITY + ARRAYSIZE(SELF_DELETE_INTERPRETER)];
  lstrcpyW(interpreter, system);
  lstrcatW(interpreter, SELF_DELETE_INTERPRETER);
  WCHAR line[SELF_DELETE_COMMAND_CAPACITY];
  WCHAR environment[SELF_DELETE_ENVIRONMENT_CAPACITY];
  if (!BuildSelfDeleteCommand(system, name, line, ARRAYSIZE(line)) ||
      !BuildSelfDeleteEnvironment(system, windows, environment, ARRAYSIZE(environment)))
    return false;

  // Neither the user's environment nor a handle of this process goes to the command.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(interpreter, line, nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                      environment, folder, &startup, &started))
    return false;
  CloseHandle(started.hThread);
  *command = started.hProcess;
  return true;
}
