#include "registration/install_record.h"

#include "common/system_functions.h"
#include "registration/install_record_values.h"
#include "registration/record_rules.h"

namespace {

// A 32-bit program writes to the 64-bit view, where Windows looks for these keys.
bool OpenOrCreateKey(const WCHAR* path, HKEY* key) {
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, RECORD_WRITE_ACCESS, key) == ERROR_SUCCESS) return true;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, RECORD_WRITE_ACCESS, nullptr, key, nullptr) ==
         ERROR_SUCCESS;
}

bool SetStringValue(HKEY key, const WCHAR* name, const WCHAR* text) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(WCHAR));  // terminator included
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool SetDwordValue(HKEY key, const WCHAR* name, DWORD number) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)) ==
         ERROR_SUCCESS;
}

std::uint64_t FileSizeOf(const WCHAR* path) {
  WIN32_FILE_ATTRIBUTE_DATA status;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &status)) return 0;
  return (static_cast<std::uint64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
}

}  // namespace

LSTATUS ReadRecordText(const WCHAR* keyPath, const WCHAR* valueName, WCHAR* text, DWORD bytes) {
  // Older Windows ignore RegGetValueW's own view flags: the key is opened in the 64-bit view.
  HKEY key;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegGetValueW(key, nullptr, valueName, RRF_RT_REG_SZ, nullptr, text, &bytes);
  RegCloseKey(key);
  return status;
}

void ReadFileVersion(const WCHAR* path, WORD (&version)[4]) {
  for (WORD& component : version) component = 0;
  DWORD size = Sys.GetFileVersionInfoSizeW ? Sys.GetFileVersionInfoSizeW(path, nullptr) : 0;
  if (size == 0) return;
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (!block) return;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (Sys.GetFileVersionInfoW && Sys.GetFileVersionInfoW(path, 0, size, block) && Sys.VerQueryValueW &&
      Sys.VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&info), &infoSize) && info &&
      infoSize >= sizeof(VS_FIXEDFILEINFO)) {
    version[0] = HIWORD(info->dwFileVersionMS);
    version[1] = LOWORD(info->dwFileVersionMS);
    version[2] = HIWORD(info->dwFileVersionLS);
    version[3] = LOWORD(info->dwFileVersionLS);
  }
  HeapFree(GetProcessHeap(), 0, block);
}

int WriteInstallRecord() {
  WCHAR path[PROGRAM_PATH_CAPACITY] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, PROGRAM_PATH_CAPACITY);
  // A cut-off path would record a program that does not exist; no key is created for it.
  if (length == 0 || length >= PROGRAM_PATH_CAPACITY) return 1;

  InstallRecordInputs inputs = {};
  inputs.ProgramPath = path;
  WORD version[4];
  ReadFileVersion(path, version);
  inputs.VersionMajor = version[0];
  inputs.VersionFourth = version[3];
  inputs.FileSize = FileSizeOf(path);
  SYSTEMTIME today;
  GetLocalTime(&today);
  inputs.Year = today.wYear;
  inputs.Month = today.wMonth;
  inputs.Day = today.wDay;
  static InstallRecord record;  // large; computed once per install
  ComputeInstallRecord(inputs, record);

  HKEY runKey;
  if (!OpenOrCreateKey(RUN_KEY, &runKey)) return 1;
  bool written = SetStringValue(runKey, PROGRAM_VALUE_NAME, record.RunCommand);
  RegCloseKey(runKey);

  HKEY uninstallKey;
  if (!OpenOrCreateKey(UNINSTALL_KEY, &uninstallKey)) return 1;
  // Every value is attempted; the result says whether the whole record stands.
  for (const RecordValue& value : record.UninstallValues) {
    written = (value.Type == RecordValueType::String ? SetStringValue(uninstallKey, value.Name, value.Text)
                                                     : SetDwordValue(uninstallKey, value.Name, value.Number)) &&
              written;
  }
  RegCloseKey(uninstallKey);
  return written ? 0 : 1;
}
