// The command that deletes the program file after an uninstall, started from the
// test process on files of its own: what Wine's cmd does with the program's actual
// command line.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "program_driver.h"
#include "virtual_devices.h"
#include "registration/self_delete_command.h"
#include "uninstall/uninstall.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The file in a folder whose path has a blank and would expand under cmd (%i is
// the command's loop variable): the command deletes it and the companion library
// beside it, nothing else, with the system folder's interpreter whatever COMSPEC
// names.
TEST(SelfDelete, DeletesTheFileAndTheCompanionInTheFileFolderOnly) {
  wchar_t comspec[MAX_PATH];
  const DWORD comspecLength = GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
  ASSERT_TRUE(comspecLength > 0 && comspecLength < MAX_PATH) << "Wine sets COMSPEC";
  std::wstring folder = corvane::RunFolder(L"SelfDelete\\self delete 100%i %PATH%");
  ASSERT_TRUE(vdev::PrepareFolder(folder));
  folder += L"\\";
  const std::wstring file = folder + L"Corvane-0000ABCD.old";
  const wchar_t* neighbours[] = {L"Corvane.exe", L"Corvane-0000ABCE.old", L"hid.dll"};
  const std::wstring tooLong(300, L'x');

  const struct {
    const char* name;
    const wchar_t* comspec;  // null: unset
  } cases[] = {
      {"COMSPEC as Wine sets it", comspec},
      {"COMSPEC unset", nullptr},
      {"COMSPEC too long", tooLong.c_str()},
      {"COMSPEC names a missing program", L"C:\\missing\\cmd.exe"},
  };
  for (const auto& c : cases) {
    for (const wchar_t* name : {L"Corvane-0000ABCD.old", L"Corvane_WMI_DLL.dll", L"Corvane.exe",
                                L"Corvane-0000ABCE.old", L"hid.dll"}) {
      HANDLE created = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(created, INVALID_HANDLE_VALUE) << c.name;
      CloseHandle(created);
    }
    ASSERT_TRUE(SetEnvironmentVariableW(L"COMSPEC", c.comspec));

    HANDLE command = nullptr;
    EXPECT_TRUE(StartSelfDelete(file.c_str(), &command)) << c.name;
    SetEnvironmentVariableW(L"COMSPEC", comspec);
    if (command) {
      // The rounds after the deletion pass at once.
      EXPECT_EQ(WaitForSingleObject(command, SELF_DELETE_ROUNDS * SELF_DELETE_ROUND_MS + 30000), WAIT_OBJECT_0)
          << c.name;
      CloseHandle(command);
    }
    EXPECT_FALSE(Exists(file)) << c.name;
    EXPECT_FALSE(Exists(folder + L"Corvane_WMI_DLL.dll")) << c.name;
    for (const wchar_t* name : neighbours) EXPECT_TRUE(Exists(folder + name)) << c.name;
  }
}

// A taken name is another uninstall's file waiting for its deletion: the rename
// aside leaves it alone and reports the name as taken, so that the next is tried.
TEST(SelfDelete, RenameAsideNeverReplacesATakenName) {
  const std::wstring folder = corvane::RunFolder(L"SelfDelete\\aside") + L"\\";
  ASSERT_TRUE(vdev::PrepareFolder(folder.substr(0, folder.size() - 1)));
  const std::wstring program = folder + L"Corvane.exe";
  const std::wstring taken = folder + L"Corvane-0000ABCD.old";
  for (const std::wstring& path : {program, taken}) {
    HANDLE created = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
  }
  unsigned long error = 0;
  EXPECT_FALSE(MoveWithoutReplacing(program.c_str(), taken.c_str(), &error));
  EXPECT_TRUE(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) << error;
  EXPECT_TRUE(Exists(program));
  EXPECT_TRUE(Exists(taken));
  EXPECT_TRUE(MoveWithoutReplacing(program.c_str(), (folder + L"Corvane-0000ABCE.old").c_str(), &error));
  EXPECT_FALSE(Exists(program));
}

}  // namespace
