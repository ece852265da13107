// The elevation step of start-up in the test process, with the token's answer
// given: under Wine every process is elevated and "runas" starts a program like
// "open", so only this seam reaches the relaunch.

#include <windows.h>

#include <gtest/gtest.h>

#include "app/elevation.h"

namespace {

constexpr DWORD kStandInLifeMs = 1000;

// The text after the program name, as wWinMain gets it.
const wchar_t* Parameters(const wchar_t* commandLine) {
  bool quoted = false;
  for (; *commandLine != L'\0' && (quoted || *commandLine != L' '); ++commandLine) {
    if (*commandLine == L'"') quoted = !quoted;
  }
  while (*commandLine == L' ') ++commandLine;
  return commandLine;
}

// Started again by the relaunch under test, this program stands in for the
// elevated instance: it lives long enough that the launcher must wait for it, and
// its exit code tells the parameter it got (41 "/install", 42 "/uninstall") plus
// 10 when it was marked as a relaunch.
[[maybe_unused]] const bool kStandIn = [] {
  const RunMode mode = ParseRunMode(Parameters(GetCommandLineW()));
  if (mode == RunMode::Normal) return false;
  Sleep(kStandInLifeMs);
  const bool marked = GetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, nullptr, 0) != 0;
  ExitProcess((mode == RunMode::Install ? 41 : 42) + (marked ? 10 : 0));
}();

TEST(Elevation, UnelevatedInstallAndUninstallWaitForTheElevatedInstanceAndTakeItsExitCode) {
  EXPECT_EQ(ReadTokenElevation(), ElevationState::Elevated) << "Wine's token, which lets every start go on";

  const struct {
    const char* name;
    RunMode mode;
    ElevationState elevation;
    bool marked;      // this process is itself a relaunch
    bool handedOver;  // the process must end with exitCode
    int exitCode;
    bool waited;      // an instance was started and waited for
  } cases[] = {
      {"unelevated install", RunMode::Install, ElevationState::NotElevated, false, true, 51, true},
      {"unelevated uninstall", RunMode::Uninstall, ElevationState::NotElevated, false, true, 52, true},
      {"a relaunch still unelevated", RunMode::Uninstall, ElevationState::NotElevated, true, true, 1, false},
      {"elevated install", RunMode::Install, ElevationState::Elevated, false, false, -1, false},
  };
  for (const auto& c : cases) {
    if (c.marked) {
      ASSERT_TRUE(SetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, L"1"));
    } else {
      SetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, nullptr);
    }
    int exitCode = -1;
    const DWORD start = GetTickCount();
    EXPECT_EQ(HandOverToElevatedInstance(c.mode, c.elevation, &exitCode), c.handedOver) << c.name;
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    if (c.waited) {
      EXPECT_GE(elapsed, kStandInLifeMs) << c.name << ": returned before the elevated instance ended";
    } else {
      EXPECT_LT(elapsed, kStandInLifeMs) << c.name << ": an instance was started";
    }
  }
  SetEnvironmentVariableW(RELAUNCH_MARKER_VARIABLE, nullptr);
}

}  // namespace
