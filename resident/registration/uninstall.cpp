#include "registration/uninstall.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/app_state.h"
#include "app/control_ids.h"
#include "keyboard/feature_channel.h"
#include "keyboard/feature_report.h"
#include "registration/install_record_values.h"
#include "registration/self_delete_command.h"

namespace {

constexpr REGSAM RECORD_ACCESS = KEY_WRITE | KEY_WOW64_64KEY;
// RegDeleteTreeW enumerates and queries the subtree and deletes keys through this handle.
constexpr REGSAM TREE_DELETE_ACCESS = RECORD_ACCESS | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

// The three texts of the command; a result of 0 or one that does not fit is a failure.
bool Fits(DWORD length) { return length != 0 && length < PROGRAM_PATH_CAPACITY; }

}  // namespace

void RunUninstall() {
  KillTimer(App.Window, TIMER_UNINSTALL);
  App.Mute = 0;
  SendKeyboardFeature(FEATURE_CMD_MUTE, 0);
  RemoveInstallRecord();
  // Without the delete command the program stays: quitting would leave its file behind.
  if (LaunchSelfDelete()) PostQuitMessage(0);
}

int RemoveInstallRecord() {
  HKEY runKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RUN_KEY, 0, RECORD_ACCESS, &runKey) != ERROR_SUCCESS) return 1;
  RegDeleteValueW(runKey, PROGRAM_VALUE_NAME);
  RegCloseKey(runKey);

  HKEY uninstallKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_PARENT_KEY, 0, TREE_DELETE_ACCESS, &uninstallKey) !=
      ERROR_SUCCESS)
    return 2;
  RegDeleteTreeW(uninstallKey, PROGRAM_VALUE_NAME);
  RegCloseKey(uninstallKey);
  return 0;
}

bool LaunchSelfDelete() {
  WCHAR path[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetModuleFileNameW(nullptr, path, PROGRAM_PATH_CAPACITY))) return false;
  if (!Fits(GetShortPathNameW(path, path, PROGRAM_PATH_CAPACITY))) return false;
  WCHAR interpreter[PROGRAM_PATH_CAPACITY];
  if (!Fits(GetEnvironmentVariableW(L"COMSPEC", interpreter, PROGRAM_PATH_CAPACITY))) return false;
  WCHAR parameters[PROGRAM_PATH_CAPACITY + 64];
  if (!BuildSelfDeleteParameters(path, parameters, ARRAYSIZE(parameters))) return false;

  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS;
  execute.lpVerb = L"Open";
  execute.lpFile = interpreter;
  execute.lpParameters = parameters;
  execute.nShow = SW_HIDE;
  if (!ShellExecuteExW(&execute)) return false;

  // The command waits at idle priority while this process hurries to exit and
  // release its file; the handle goes with the process.
  if (execute.hProcess) SetPriorityClass(execute.hProcess, IDLE_PRIORITY_CLASS);
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path, nullptr);
  return true;
}
