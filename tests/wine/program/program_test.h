#pragma once
// GoogleTest fixture for whole-program tests of Corvane.exe: a fresh doubles
// folder per test (wine-runs\Suite.Test, left in place for inspection), the
// keyboard with foreign devices and an unmuted endpoint unless the test says
// otherwise, and every process it started ended afterwards.

#include <gtest/gtest.h>

#include "program_driver.h"

namespace corvane {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts Corvane.exe with ARGUMENTS on DESKTOP (null: this one); fails the test when it cannot start.
  Process Start(const std::wstring& arguments = L"", const wchar_t* desktop = nullptr);
  // Starts it and waits until its control window exists and its volume
  // callback is registered, so that changes from now on reach it.
  Process StartResident(const std::wstring& arguments = L"");
  // Sends (not posts) MESSAGE to the control window of PROCESS.
  void SendToControlWindow(const Process& process, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Waits for the exit (10 s at most) and returns the exit code; fails the test on a timeout.
  DWORD ExitCodeOf(const Process& process, DWORD timeoutMs = 10000);

  // The start-up failure message box of PROCESS (caption "Error") with TEXT, shown
  // before any window exists; dismisses it and expects exit code 1.
  void ExpectStartupFailure(const Process& process, const std::string& text);

  size_t ReportCount() const { return vdev::ReadReports(dir_).size(); }

  std::wstring dir_;
  std::vector<vdev::HidInterface> interfaces_;
  std::vector<std::string> keyboard_;  // names of the keyboard's interfaces
  std::vector<std::string> foreign_;   // names of the other devices

 private:
  std::vector<Process> started_;
};

}  // namespace corvane
