#include "program_test.h"

#include <stdio.h>

namespace corvane {
namespace {

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "%08lx", value);
  return text;
}

}  // namespace

void ProgramTest::SetUp() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = RunFolder(std::wstring(name.begin(), name.end()));
  ASSERT_TRUE(vdev::PrepareFolder(dir_)) << "cannot prepare the doubles' folder";
  interfaces_ = KeyboardAndForeignDevices();
  keyboard_ = KeyboardInterfaceNames(interfaces_);
  foreign_ = ForeignInterfaceNames(interfaces_);
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, interfaces_));
}

void ProgramTest::TearDown() {
  for (Process& process : started_) EndProcess(&process);
}

Process ProgramTest::Start(const std::wstring& arguments, const wchar_t* desktop) {
  Process process;
  EXPECT_TRUE(StartCorvane(dir_, arguments, &process, L"", desktop)) << "CreateProcessW failed: " << GetLastError();
  if (process.handle) started_.push_back(process);
  return process;
}

Process ProgramTest::StartResident(const std::wstring& arguments) {
  Process process = Start(arguments);
  HWND window = WaitForControlWindow(process.pid, 20000);
  DWORD exitCode = STILL_ACTIVE;
  if (!window && process.handle) GetExitCodeProcess(process.handle, &exitCode);
  EXPECT_NE(window, nullptr) << "no control window of Corvane.exe (process " << process.pid << ", "
                             << (exitCode == STILL_ACTIVE ? std::string("still running")
                                                          : "exited with 0x" + Hex(exitCode))
                             << ")";
  if (window) {
    printf("[ timing ] control window %lu ms after CreateProcessW\n", GetTickCount() - process.startTick);
  }
  EXPECT_GE(WaitForAudioEvent(dir_, process.pid, "register-control-change-notify", {"00000000"}, 5000), 0)
      << "volume callback not registered";
  return process;
}

void ProgramTest::SendToControlWindow(const Process& process, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = FindControlWindow(process.pid);
  ASSERT_NE(window, nullptr) << "no control window of process " << process.pid;
  DWORD_PTR result;
  ASSERT_TRUE(SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result))
      << "message " << message << " not handled: " << GetLastError();
}

DWORD ProgramTest::ExitCodeOf(const Process& process, DWORD timeoutMs) {
  DWORD code = 0xDEADBEEF;
  EXPECT_TRUE(WaitForExit(process, timeoutMs, &code)) << "process " << process.pid << " still runs";
  return code;
}

void ProgramTest::ExpectStartupFailure(const Process& process, const std::string& text) {
  std::wstring shown;
  HWND box = WaitForMessageBox(process.pid, L"Error", 10000, &shown);
  ASSERT_NE(box, nullptr) << "no message box with the caption Error";
  EXPECT_EQ(std::string(shown.begin(), shown.end()), text);
  EXPECT_TRUE(IsRunning(process)) << "the message box does not wait for its answer";
  EXPECT_EQ(FindControlWindow(process.pid), nullptr);
  ASSERT_TRUE(DismissMessageBox(box));
  EXPECT_EQ(ExitCodeOf(process), 1u);
}

}  // namespace corvane
