#include "app/uninstall.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/app_state.h"
#include "common/control_ids.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"
#include "registration/install_record_values.h"
#include "registration/record_rules.h"
#include "registration/self_delete_command.h"

static_assert(RIGHT_QUERY_VALUE == KEY_QUERY_VALUE && RIGHT_SET_VALUE == KEY_SET_VALUE &&
                  RIGHT_CREATE_SUB_KEY == KEY_CREATE_SUB_KEY && RIGHT_READ_CONTROL == READ_CONTROL &&
                  RIGHTS_KEY_WRITE == KEY_WRITE && VIEW_64 == KEY_WOW64_64KEY && VIEW_32 == KEY_WOW64_32KEY,
              "the platform-free access rights are those of winnt.h");

namespace {

// The three texts of the command; a result of 0 or one that does not fit is a failure.
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

}  // namespace

void RunUninstall() {
  KillTimer(App.Window, TIMER_UNINSTALL);
  App.Mute = 0;
  SendKeyboardFeature(FEATURE_CMD_MUTE, 0);
  App.UninstallReportSent = true;
  const UninstallEnd end = EndOfUninstall(RemoveInstallRecord());
  // Without the delete command the program stays: quitting would leave its file behind.
  if (!end.SelfDelete || LaunchSelfDelete()) PostQuitMessage(end.ExitCode);
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

bool LaunchSelfDelete() {
  WCHAR path[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetModuleFileNameW(nullptr, path, PROGRAM_PATH_CAPACITY))) return false;
  if (!Fits(GetShortPathNameW(path, path, PROGRAM_PATH_CAPACITY))) return false;
  WCHAR interpreter[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetEnvironmentVariableW(L"COMSPEC", interpreter, PROGRAM_PATH_CAPACITY))) return false;
  WCHAR parameters[SELF_DELETE_PARAMETERS_CAPACITY];
  if (!BuildSelfDeleteParameters(path, parameters, ARRAYSIZE(parameters))) return false;

  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS;
  execute.lpVerb = L"Open";
  execute.lpFile = interpreter;
  execute.lpParameters = parameters;
  execute.nShow = SW_HIDE;
  if (!ShellExecuteExW(&execute)) return false;

  // The command retries until this process has exited and released its file;
  // the handle goes with the process.
  if (execute.hProcess) SetPriorityClass(execute.hProcess, IDLE_PRIORITY_CLASS);
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path, nullptr);
  return true;
}
