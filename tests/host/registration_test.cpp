// Administrator rights for install and uninstall, the installation record's
// values, the rights of its registry keys, the end of an uninstall, the
// self-delete command and the renaming of a program file aside.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "elevation/elevation_rules.h"
#include "registration/file_aside.h"
#include "registration/hand_over_rules.h"
#include "registration/install_record_values.h"
#include "registration/record_rules.h"
#include "registration/self_delete_command.h"

namespace {

const wchar_t kSystemPath[] = L"C:\\Windows\\system32\\Corvane.exe";

InstallRecordInputs Inputs(const wchar_t* path) {
  InstallRecordInputs inputs{};
  inputs.ProgramPath = path;
  inputs.VersionMajor = 1;
  inputs.VersionFourth = 10;
  inputs.FileSize = 15872;
  inputs.Year = 2024;
  inputs.Month = 3;
  inputs.Day = 7;
  return inputs;
}

struct ExpectedValue {
  std::wstring Name;
  RecordValueType Type;
  std::wstring Text;
  std::uint32_t Number;
};

std::vector<ExpectedValue> Table(const InstallRecord& record) {
  std::vector<ExpectedValue> values;
  for (const RecordValue& value : record.UninstallValues) {
    values.push_back({value.Name, value.Type, value.Type == RecordValueType::String ? value.Text : L"",
                      value.Type == RecordValueType::Dword ? value.Number : 0});
  }
  return values;
}

void PrintTo(const ExpectedValue& value, std::ostream* out) {
  *out << testing::PrintToString(value.Name) << " "
       << (value.Type == RecordValueType::String ? testing::PrintToString(value.Text) : std::to_string(value.Number));
}

bool operator==(const ExpectedValue& a, const ExpectedValue& b) {
  return a.Name == b.Name && a.Type == b.Type && a.Text == b.Text && a.Number == b.Number;
}

TEST(InstallRecord, WritesTheThirteenValuesInOrder) {
  InstallRecord record;
  ComputeInstallRecord(Inputs(kSystemPath), record);
  const std::vector<ExpectedValue> expected = {
      {L"DisplayIcon", RecordValueType::String, kSystemPath, 0},
      {L"DisplayName", RecordValueType::String, L"Corvane", 0},
      {L"DisplayVersion", RecordValueType::String, L"1.0.0.10", 0},
      {L"EstimatedSize", RecordValueType::Dword, L"", 15},
      {L"InstallDate", RecordValueType::String, L"20240307", 0},
      {L"InstallLocation", RecordValueType::String, L"C:\\Windows\\system32\\", 0},
      {L"Language", RecordValueType::Dword, L"", 0},
      {L"NoModify", RecordValueType::Dword, L"", 1},
      {L"NoRepair", RecordValueType::Dword, L"", 1},
      {L"Publisher", RecordValueType::String, L"Zeltraan Corporation", 0},
      {L"UninstallString", RecordValueType::String, L"C:\\Windows\\system32\\Corvane.exe /uninstall", 0},
      {L"VersionMajor", RecordValueType::Dword, L"", 1},
      {L"VersionMinor", RecordValueType::Dword, L"", 10},
  };
  EXPECT_EQ(Table(record), expected);
  EXPECT_STREQ(record.RunCommand, kSystemPath);
}

TEST(InstallRecord, QuotesCommandsOnlyForPathsWithBlanks) {
  const struct {
    const wchar_t* Path;
    const wchar_t* Run;
    const wchar_t* Uninstall;
    const wchar_t* Location;
  } cases[] = {
      {L"C:\\Program Files\\Corvane\\Corvane.exe", L"\"C:\\Program Files\\Corvane\\Corvane.exe\"",
       L"\"C:\\Program Files\\Corvane\\Corvane.exe\" /uninstall", L"C:\\Program Files\\Corvane\\"},
      {L"C:\\Tools\\My Corvane.exe", L"\"C:\\Tools\\My Corvane.exe\"", L"\"C:\\Tools\\My Corvane.exe\" /uninstall",
       L"C:\\Tools\\"},
      {L"C:\\Tools\\Corvane.exe", L"C:\\Tools\\Corvane.exe", L"C:\\Tools\\Corvane.exe /uninstall", L"C:\\Tools\\"},
      {L"Corvane.exe", L"Corvane.exe", L"Corvane.exe /uninstall", L"Corvane.exe"},
      {L"\\\\server\\share\\Corvane.exe", L"\\\\server\\share\\Corvane.exe",
       L"\\\\server\\share\\Corvane.exe /uninstall", L"\\\\server\\share\\"},
      {L"C:\\Corvane.exe", L"C:\\Corvane.exe", L"C:\\Corvane.exe /uninstall", L"C:\\"},
  };
  for (const auto& c : cases) {
    InstallRecord record;
    ComputeInstallRecord(Inputs(c.Path), record);
    EXPECT_STREQ(record.RunCommand, c.Run);
    EXPECT_STREQ(record.UninstallString, c.Uninstall);
    EXPECT_STREQ(record.InstallLocation, c.Location);
    EXPECT_STREQ(record.UninstallValues[0].Text, c.Path) << "DisplayIcon stays unquoted";
  }
}

TEST(InstallRecord, LongestPathWithBlanksFitsWhole) {
  std::wstring path = L"C:\\Program Files\\";
  path += std::wstring(PROGRAM_PATH_CAPACITY - 1 - path.size() - 12, L'd') + L"\\Corvane.exe";
  ASSERT_EQ(path.size(), PROGRAM_PATH_CAPACITY - 1);
  InstallRecord record;
  ComputeInstallRecord(Inputs(path.c_str()), record);
  EXPECT_EQ(std::wstring(record.RunCommand), L"\"" + path + L"\"");
  EXPECT_EQ(std::wstring(record.UninstallString), L"\"" + path + L"\" /uninstall");
  EXPECT_EQ(std::wstring(record.InstallLocation), path.substr(0, path.size() - 11));
}

TEST(InstallRecord, SizeIsWholeKibibytes) {
  const struct {
    std::uint64_t Bytes;
    std::uint32_t KiB;
  } cases[] = {{0, 0}, {1023, 0}, {1024, 1}, {2047, 1}, {15872, 15}, {5ull * 1024 * 1024 + 1, 5120}};
  for (const auto& c : cases) {
    InstallRecordInputs inputs = Inputs(kSystemPath);
    inputs.FileSize = c.Bytes;
    InstallRecord record;
    ComputeInstallRecord(inputs, record);
    EXPECT_EQ(std::wstring(record.UninstallValues[3].Name), L"EstimatedSize");
    EXPECT_EQ(record.UninstallValues[3].Number, c.KiB) << c.Bytes << " bytes";
  }
}

TEST(InstallRecord, VersionAndDateFormats) {
  const struct {
    std::uint16_t Major, Fourth;
    unsigned Year, Month, Day;
    const wchar_t* Version;
    const wchar_t* Date;
  } cases[] = {
      {1, 10, 2024, 3, 7, L"1.0.0.10", L"20240307"},
      {0, 0, 2024, 12, 31, L"0.0.0.0", L"20241231"},
      {65535, 65535, 9999, 10, 10, L"65535.0.0.65535", L"99991010"},
      {2, 0, 1999, 1, 1, L"2.0.0.0", L"19990101"},
      {0, 7, 999, 1, 1, L"0.0.0.7", L"9990101"},
  };
  for (const auto& c : cases) {
    InstallRecordInputs inputs = Inputs(kSystemPath);
    inputs.VersionMajor = c.Major;
    inputs.VersionFourth = c.Fourth;
    inputs.Year = c.Year;
    inputs.Month = c.Month;
    inputs.Day = c.Day;
    InstallRecord record;
    ComputeInstallRecord(inputs, record);
    EXPECT_STREQ(record.DisplayVersion, c.Version);
    EXPECT_STREQ(record.InstallDate, c.Date);
    EXPECT_EQ(record.UninstallValues[11].Number, c.Major);
    EXPECT_EQ(record.UninstallValues[12].Number, c.Fourth);
  }
}

// The places are long forms, as the Win32 side hands them over after expanding
// short names.
TEST(Elevation, OnlyTheUnelevatedInstalledProgramRelaunchesAndOnlyOnce) {
  using S = ElevationState;
  using Step = ElevationStep;
  constexpr RunMode I = RunMode::Install;
  constexpr RunMode U = RunMode::Uninstall;
  const struct {
    RunMode Mode;
    bool Relaunched;
    ElevationState Elevation;
    const wchar_t* Program;
    ElevationStep Expected;
    bool Wow64 = false;
    const wchar_t* SystemFolder = L"C:\\Windows\\System32";
    const wchar_t* Wow64Folder = L"C:\\Windows\\SysWOW64";
  } cases[] = {
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\Corvane.exe", Step::Relaunch},
      {U, false, S::NotElevated, L"C:\\Windows\\System32\\Corvane.exe", Step::Relaunch},
      {I, false, S::NotElevated, L"c:\\WINDOWS\\system32\\Corvane.exe", Step::Relaunch},
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\Corvane.exe", Step::Relaunch, false,
       L"C:\\Windows\\System32\\"},
      {I, false, S::NotElevated, L"C:\\Windows\\SysWOW64\\Corvane.exe", Step::Relaunch, true},
      // Anywhere else no prompt: a user folder, a look-alike or a subfolder of the
      // system folder, the other bitness's folder, a short form left unexpanded.
      {I, false, S::NotElevated, L"C:\\Users\\ann\\Downloads\\Corvane.exe", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\Windows\\System32x\\Corvane.exe", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\drivers\\Corvane.exe", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\drivers/Corvane.exe", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\WINDOWS~1\\SYSTEM~1\\Corvane.exe", Step::Refuse},
      {I, false, S::NotElevated, L"", Step::Refuse},
      {I, false, S::NotElevated, L"C:\\Windows\\System32\\Corvane.exe", Step::Refuse, true},
      {I, false, S::NotElevated, L"C:\\Windows\\SysWOW64\\Corvane.exe", Step::Refuse, false},
      {I, false, S::NotElevated, L"C:\\Windows\\SysWOW64\\Corvane.exe", Step::Refuse, true,
       L"C:\\Windows\\System32", L""},
      // Only ASCII letters are folded: another case of other letters is another folder.
      {I, false, S::NotElevated, L"D:\\\u00c9cran\\System32\\Corvane.exe", Step::Refuse, false,
       L"D:\\\u00e9cran\\System32"},
      // A relaunch that is still not elevated never starts another one.
      {I, true, S::NotElevated, L"C:\\Windows\\System32\\Corvane.exe", Step::Refuse},
      // Elevated (or unreadable) tokens go on wherever the program is; the elevated
      // instance of an install only writes the record.
      {I, false, S::Elevated, L"C:\\Users\\ann\\Downloads\\Corvane.exe", Step::GoOn},
      {I, true, S::Elevated, L"C:\\Windows\\System32\\Corvane.exe", Step::WriteRecord},
      {U, true, S::Elevated, L"C:\\Windows\\System32\\Corvane.exe", Step::GoOn},
      {U, false, S::Unknown, L"C:\\Users\\ann\\Downloads\\Corvane.exe", Step::GoOn},
      {RunMode::Normal, false, S::NotElevated, L"C:\\Users\\ann\\Downloads\\Corvane.exe", Step::GoOn},
  };
  for (const auto& c : cases) {
    const StartFacts facts = {c.Mode, c.Relaunched, c.Elevation, {c.Program, c.SystemFolder, c.Wow64Folder, c.Wow64}};
    EXPECT_EQ(DecideElevationStep(facts), c.Expected)
        << "mode " << static_cast<int>(c.Mode) << ", relaunched " << c.Relaunched << ", elevation "
        << static_cast<int>(c.Elevation) << ", " << testing::PrintToString(c.Program) << (c.Wow64 ? " (WoW64)" : "")
        << " in " << testing::PrintToString(c.Wow64 ? c.Wow64Folder : c.SystemFolder);
  }
  for (RunMode mode : {RunMode::Install, RunMode::Uninstall}) {
    ASSERT_NE(RelaunchParameters(mode), nullptr);
    bool relaunched = false;
    EXPECT_EQ(ParseStartCommandLine(RelaunchParameters(mode), &relaunched), mode)
        << "the elevated instance gets the same mode";
    EXPECT_TRUE(relaunched) << "and knows that it is the relaunch";
  }
  EXPECT_EQ(RelaunchParameters(RunMode::Normal), nullptr);
}

// What each call made through the handle needs, as Microsoft documents it
// (RegSetValueExW, RegDeleteValueW: KEY_SET_VALUE; RegEnumValueW: KEY_QUERY_VALUE),
// and the 64-bit view named by every open and by the entry's deletion.
TEST(RecordAccess, EveryHandleHasTheRightsOfItsCallsInThe64BitView) {
  const struct {
    const char* Use;
    std::uint32_t Mask;
    std::uint32_t Needed;
  } cases[] = {
      {"write the Run value and the entry's values", RECORD_WRITE_ACCESS, RIGHT_SET_VALUE},
      {"delete the Run value", RUN_VALUE_REMOVE_ACCESS, RIGHT_SET_VALUE},
      {"enumerate and delete the entry's values", ENTRY_VALUES_REMOVE_ACCESS, RIGHT_QUERY_VALUE | RIGHT_SET_VALUE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Mask & c.Needed, c.Needed) << c.Use;
    EXPECT_EQ(c.Mask & (VIEW_64 | VIEW_32), VIEW_64) << c.Use;
  }
}

// How an uninstall that kept its record ends is checked on the control window.
TEST(UninstallEnd, OnlyDoneOrNothingToRemoveCountsAsRemoved) {
  const struct {
    long Status;
    bool Removed;
  } statuses[] = {{0, true}, {2, true}, {3, false}, {5, false}, {1018, false}};  // 5 access denied, 1018 key deleted
  for (const auto& c : statuses) EXPECT_EQ(CountsAsRemoved(c.Status), c.Removed) << "status " << c.Status;
}

// A copy elsewhere must not remove the installed program's record: only values
// that name this file or nothing that exists are its own.
TEST(UninstallEnd, OnlyARecordOfThisFileOrOfNoExistingFileIsRemoved) {
  using N = NamedProgram;
  const struct {
    const char* Case;
    N Run, Command;
    bool Ours;
  } records[] = {
      {"this file's record", N::ThisFile, N::ThisFile, true},
      {"no record", N::Missing, N::Missing, true},
      {"half a record", N::ThisFile, N::Missing, true},
      {"the installed program's record", N::AnotherFile, N::AnotherFile, false},
      {"a Run value of another program", N::AnotherFile, N::ThisFile, false},
      {"an uninstall command of another program", N::Missing, N::AnotherFile, false},
      {"a program that cannot be compared", N::ThisFile, N::NotCompared, false},
  };
  for (const auto& c : records) EXPECT_EQ(RecordIsOurs(c.Run, c.Command), c.Ours) << c.Case;
}

// A scanner's handle on the new file passes; a mapped target goes aside; anything
// else (no such folder, a full disk) leaves the target alone.
TEST(RenameAside, OnlyASharingViolationIsRetriedAndOnlyAccessDeniedGoesAside) {
  const struct {
    unsigned long Error;
    MoveFailure Means;
  } errors[] = {{32, MoveFailure::Retry},  {5, MoveFailure::RenameTargetAside}, {2, MoveFailure::GiveUp},
                {3, MoveFailure::GiveUp},  {33, MoveFailure::GiveUp},            {112, MoveFailure::GiveUp},
                {183, MoveFailure::GiveUp}};
  for (const auto& c : errors) EXPECT_EQ(ClassifyMoveFailure(c.Error), c.Means) << "error " << c.Error;
}

// The command runs under Wine in the in-process tests; here: which names it takes,
// and that a command that does not fit leaves the buffer alone.
TEST(SelfDelete, NamesOnlyPlainFileNamesAndWritesNothingThatDoesNotFit) {
  const struct {
    const wchar_t* Name;
    bool Taken;
    const wchar_t* System = L"C:\\Windows\\system32";
  } names[] = {
      {L"Corvane-0000ABCD.old", true}, {L"My Corvane~2.exe", true}, {L"", false},      {L"100%i.exe", false},
      {L"%PATH%.exe", false},          {L"a&b.exe", false},         {L"a)b.exe", false}, {L"a!b.exe", false},
      {L"a^b.exe", false},             {L"C\\x.exe", false},        {L"x.old", true, L"D:\\My Windows\\system32"},
      {L"x.old", false, L""},          {L"x.old", false, L"C:\\Win%i\\system32"}, {L"x.old", false, L"C:\\Win\"dows"},
  };
  for (const auto& c : names) {
    wchar_t command[SELF_DELETE_COMMAND_CAPACITY];
    EXPECT_EQ(BuildSelfDeleteCommand(c.System, c.Name, command, SELF_DELETE_COMMAND_CAPACITY), c.Taken)
        << testing::PrintToString(std::wstring(c.System) + L" " + c.Name);
  }

  // Wine's cmd reads no AutoRun commands nor cmd's settings from the registry, so
  // only the text can show that the switches keep them out.
  wchar_t command[SELF_DELETE_COMMAND_CAPACITY];
  ASSERT_TRUE(BuildSelfDeleteCommand(L"C:\\Windows\\system32", L"x.old", command, SELF_DELETE_COMMAND_CAPACITY));
  EXPECT_EQ(std::wstring(command).rfind(L"\"C:\\Windows\\system32\\cmd.exe\" /d /e:on /v:off /c ", 0), 0u);

  const std::wstring longest(PROGRAM_PATH_CAPACITY - 1, L'D');
  std::vector<wchar_t> whole(SELF_DELETE_COMMAND_CAPACITY);
  ASSERT_TRUE(BuildSelfDeleteCommand(longest.c_str(), longest.c_str(), whole.data(), SELF_DELETE_COMMAND_CAPACITY))
      << "the longest names fit";
  const unsigned exact = static_cast<unsigned>(std::wcslen(whole.data()) + 1);
  std::vector<wchar_t> tooSmall(exact - 1, L'#');
  EXPECT_FALSE(BuildSelfDeleteCommand(longest.c_str(), longest.c_str(), tooSmall.data(), exact - 1));
  EXPECT_EQ(std::wstring(tooSmall.begin(), tooSmall.end()), std::wstring(exact - 1, L'#'));

  std::vector<wchar_t> block(SELF_DELETE_ENVIRONMENT_CAPACITY);
  const unsigned room = SELF_DELETE_ENVIRONMENT_CAPACITY;
  ASSERT_TRUE(BuildSelfDeleteEnvironment(longest.c_str(), longest.c_str(), block.data(), room));
  ASSERT_TRUE(BuildSelfDeleteEnvironment(L"C:\\W\\system32", L"C:\\W", block.data(), room));
  const wchar_t expected[] =
      L"ComSpec=C:\\W\\system32\\cmd.exe\0PATH=C:\\W\\system32\0PATHEXT=.COM;.EXE\0SystemRoot=C:\\W\0";
  EXPECT_EQ(std::wstring(block.data(), std::size(expected)), std::wstring(expected, std::size(expected)));
}

// A rename that reports the first g_namesTaken names as existing, then g_error (0: success).
unsigned g_namesTaken;
unsigned long g_error;
std::vector<std::wstring> g_tried;
bool FakeRename(const wchar_t* from, const wchar_t* to, unsigned long* error) {
  EXPECT_STREQ(from, L"C:\\Windows\\SysWOW64\\Corvane.exe");
  g_tried.push_back(to);
  *error = g_tried.size() <= g_namesTaken ? 183 : g_error;  // 183 ERROR_ALREADY_EXISTS
  return *error == 0;
}

TEST(RenameAside, TriesTheNextNameOnlyWhileTheNameIsTaken) {
  const struct {
    const char* Case;
    unsigned NamesTaken;
    unsigned long Error;
    bool Renamed;
    size_t Tries;
  } cases[] = {
      {"free name", 0, 0, true, 1},
      {"two names taken", 2, 0, true, 3},
      {"every name taken", ASIDE_ATTEMPTS, 0, false, ASIDE_ATTEMPTS},
      {"access denied", 0, 5, false, 1},
      {"file exists (80) counts as taken", 0, 80, false, ASIDE_ATTEMPTS},
  };
  for (const auto& c : cases) {
    g_namesTaken = c.NamesTaken;
    g_error = c.Error;
    g_tried.clear();
    wchar_t aside[PROGRAM_PATH_CAPACITY];
    EXPECT_EQ(RenameAside(L"C:\\Windows\\SysWOW64\\Corvane.exe", 0xFFFFFFFE, FakeRename, aside, PROGRAM_PATH_CAPACITY),
              c.Renamed)
        << c.Case;
    ASSERT_EQ(g_tried.size(), c.Tries) << c.Case;
    EXPECT_EQ(g_tried[0], L"C:\\Windows\\SysWOW64\\Corvane-FFFFFFFE.old") << c.Case;
    if (c.Tries > 2) EXPECT_EQ(g_tried[2], L"C:\\Windows\\SysWOW64\\Corvane-00000000.old") << c.Case;
    if (c.Renamed) EXPECT_EQ(std::wstring(aside), g_tried.back()) << c.Case;
  }

  g_tried.clear();
  const wchar_t path[] = L"C:\\Windows\\SysWOW64\\Corvane.exe";
  const unsigned fits = static_cast<unsigned>(FileNameOf(path) - path) + ASIDE_NAME_LENGTH + 1;
  wchar_t aside[PROGRAM_PATH_CAPACITY];
  EXPECT_FALSE(RenameAside(path, 0, FakeRename, aside, fits - 1));
  EXPECT_TRUE(g_tried.empty()) << "a name that does not fit is not tried";
  g_namesTaken = 0;
  g_error = 0;
  EXPECT_TRUE(RenameAside(path, 0, FakeRename, aside, fits));
}

// --- Hand-over ------------------------------------------------------------------

TEST(HandOver, WaitsOnlyForOtherProcessesOfCorvaneExe) {
  // 10 the caller, 20 its launcher (which waits for it), 30 another session's resident.
  for (const wchar_t* image : {L"Corvane.exe", L"CORVANE.EXE"}) EXPECT_TRUE(IsAnotherCorvane(image, 30, 10, 20));
  for (std::uint32_t pid : {10u, 20u}) EXPECT_FALSE(IsAnotherCorvane(L"Corvane.exe", pid, 10, 20)) << pid;
  for (const wchar_t* image : {L"Corvane.exe.new", L"Corvane.ex", L"Install_Corvane.exe"})
    EXPECT_FALSE(IsAnotherCorvane(image, 30, 10, 20));
}

}  // namespace
