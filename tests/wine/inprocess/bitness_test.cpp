// The glue whose branches depend on the process's bitness, run in process by both
// builds: the i686 one as a WoW64 process, where a wrong folder or registry view
// shows, and the 64-bit one, where the same calls must take the native branch.

#include <windows.h>

#include <gtest/gtest.h>

#include "import_slot.h"
#include "elevation/elevation.h"
#include "uninstall/uninstall.h"
#include "registration/install_record.h"
#include "registration/install_record_values.h"

namespace {

constexpr bool kWow64Build = sizeof(void*) == 4;

std::wstring LongForm(UINT (WINAPI *read)(LPWSTR, UINT)) {
  wchar_t path[MAX_PATH];
  const UINT length = read(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || GetLongPathNameW(path, path, MAX_PATH) == 0) return L"";
  return path;
}

TEST(Bitness, OnlyAWow64ProcessReadsTheWow64SystemFolder) {
  ProgramPlaceText text;
  ReadProgramPlace(nullptr, &text);
  EXPECT_EQ(text.Place.Wow64, kWow64Build);
  EXPECT_EQ(text.Place.SystemFolder, LongForm(GetSystemDirectoryW));
  EXPECT_EQ(text.Place.Wow64Folder, kWow64Build ? LongForm(GetSystemWow64DirectoryW) : L"");
  EXPECT_NE(text.Place.SystemFolder, std::wstring(text.Place.Wow64Folder));
}

// The key is absent in both views first, so that the record's writer creates it.
bool KeyIn(REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool RunValueIn(DWORD view) {
  DWORD size = 0;
  return RegGetValueW(HKEY_LOCAL_MACHINE, RUN_KEY, PROGRAM_VALUE_NAME, RRF_RT_REG_SZ | view, nullptr, nullptr,
                      &size) == ERROR_SUCCESS;
}

// Windows wants the terminator counted in a text's size; Wine adds a missing one.
unsigned UncountedTerminators;
using SetValue = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
SetValue RealSetValue;
LSTATUS WINAPI CheckedSetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (type == REG_SZ && size != (lstrlenW(reinterpret_cast<const wchar_t*>(data)) + 1) * sizeof(wchar_t))
    ++UncountedTerminators;
  return RealSetValue(key, name, reserved, type, data, size);
}

TEST(Bitness, TheRecordIsWrittenAndRemovedInThe64BitView) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, view, 0);
  ASSERT_FALSE(KeyIn(KEY_WOW64_64KEY) || KeyIn(KEY_WOW64_32KEY));

  void** slot = ImportSlot("advapi32.dll", "RegSetValueExW");
  ASSERT_NE(slot, nullptr);
  RealSetValue = reinterpret_cast<SetValue>(*slot);
  WriteSlot(slot, reinterpret_cast<void*>(&CheckedSetValue));
  UncountedTerminators = 0;
  const int written = WriteInstallRecord();
  WriteSlot(slot, reinterpret_cast<void*>(RealSetValue));
  EXPECT_EQ(written, 0);
  EXPECT_EQ(UncountedTerminators, 0u) << "texts written without their terminator";
  EXPECT_TRUE(KeyIn(KEY_WOW64_64KEY));
  EXPECT_TRUE(RunValueIn(RRF_SUBKEY_WOW6464KEY));
  if (kWow64Build) {
    EXPECT_FALSE(KeyIn(KEY_WOW64_32KEY));
    EXPECT_FALSE(RunValueIn(RRF_SUBKEY_WOW6432KEY));
  }

  // Another program's value in the 32-bit view is not the record: this program's stays its own.
  wchar_t other[MAX_PATH];
  const UINT length = GetSystemDirectoryW(other, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH - 20);
  lstrcatW(other, L"\\cmd.exe");
  HKEY run32;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, RUN_KEY, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                            &run32, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(run32, PROGRAM_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(other),
                           (lstrlenW(other) + 1) * sizeof(wchar_t)),
            ERROR_SUCCESS);
  EXPECT_TRUE(RecordIsThisProgramsOwn());
  EXPECT_EQ(RegDeleteValueW(run32, PROGRAM_VALUE_NAME), ERROR_SUCCESS);
  RegCloseKey(run32);

  EXPECT_EQ(RemoveInstallRecord(), 0);
  EXPECT_FALSE(KeyIn(KEY_WOW64_64KEY));
  EXPECT_FALSE(RunValueIn(RRF_SUBKEY_WOW6464KEY));
}

}  // namespace
