// The text and exit code of the self-check, and the program a recorded command starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <tuple>

#include "check/check_report.h"
#include "registration/install_record_values.h"

namespace {

const wchar_t kPath[] = L"C:\\Windows\\SysWOW64\\Corvane.exe";
const wchar_t kStray[] = L"C:\\Users\\Ann\\Downloads\\Corvane.exe";
const wchar_t kUninstall[] = L"C:\\Windows\\SysWOW64\\Corvane.exe /uninstall";
const wchar_t kInterface0[] = L"\\\\?\\hid#vid_1209&pid_0001&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const wchar_t kInterface1[] = L"\\\\?\\hid#vid_1209&pid_0001&mi_01#7&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr std::uint32_t kNoText = 1784;  // a code the system has no text for

// Texts end in a line end, as FormatMessageW's do.
void Describe(std::uint32_t code, wchar_t* text, unsigned capacity) {
  if (code != kNoText) std::swprintf(text, capacity, L"Text of %u.\r\n", static_cast<unsigned>(code));
}

void SetSend(KeyboardInterfaceSend& send, const wchar_t* path, bool accepted, std::uint32_t error) {
  std::wcsncpy(send.Path, path, RECORDED_PATH_CAPACITY - 1);
  send.Accepted = accepted;
  send.Error = error;
}

// A 32-bit program under WoW64 whose two keyboard interfaces answer differently.
struct Fixture {
  CheckFacts facts{};
  FeatureSendRecord keyboard{};

  Fixture() {
    facts.Time = CheckTime{true, 2026, 12, 9, 14, 3, 5, 60};
    facts.Program = ProgramFacts{kPath, {1, 0, 0, 10}, 32, Answer::Yes, 10, 0, 19045, Answer::No};
    facts.Output = OutputFacts{true, nullptr, 0, L"Speakers (USB Audio)", 0, true};
    facts.VendorId = 0x1209;
    facts.ProductId = 0x0001;
    const unsigned char report[FEATURE_REPORT_LENGTH] = {0x00, 0xA1, 0x01};
    std::copy(report, report + FEATURE_REPORT_LENGTH, facts.Report);
    keyboard.Listed = true;
    keyboard.KeyboardInterfaces = 2;
    keyboard.Accepted = 1;
    SetSend(keyboard.Keyboard[0], kInterface0, true, 0);
    SetSend(keyboard.Keyboard[1], kInterface1, false, 23);
    keyboard.OtherInterfaces = 4;
    RecordOtherDevice(&keyboard, 0x046D, 0xC52B);
    RecordOtherDevice(&keyboard, 0x8087, 0x0A2B);
    RecordOtherDevice(&keyboard, 0x046D, 0xC52B);
    facts.Keyboard = &keyboard;
    facts.SendMicroseconds = 12345;
    facts.RunValue = RecordEntryFacts{0, kPath, NamedProgram::ThisFile};
    facts.UninstallEntry = RecordEntryFacts{0, kUninstall, NamedProgram::ThisFile};
    facts.RunProgramVersion[0] = facts.ResidentVersion[0] = 1;
    facts.RunProgramVersion[3] = facts.ResidentVersion[3] = 10;
    facts.RunProgramInSystemFolder = Answer::Yes;
    facts.ResidentRunning = true;
    facts.ResidentProcessId = 1234;
    facts.ResidentPath = kPath;
    facts.ResidentIsRunProgram = Answer::Yes;
    facts.ResidentAnswered = true;
    facts.Resident = ResidentAnswer{true, true, false, true, true, 1, 12};
    facts.LidKnown = true;
    facts.LidPresent = true;
    facts.DescribeError = Describe;
    facts.Session = SessionFacts{true, 1, 1, 0};
  }

  std::wstring Text() const {
    static wchar_t text[CHECK_REPORT_CAPACITY];
    FormatCheckReport(facts, text);
    return text;
  }
};

TEST(CheckReport, FullReport) {
  Fixture fixture;
  EXPECT_EQ(fixture.Text(),
            std::wstring(L"Corvane self-check\r\n"
                         L"Checked: 2026-12-09 14:03:05 UTC+01:00\r\n"
                         L"Program: Corvane 1.0.0.10, 32-bit under WoW64, not elevated\r\n"
                         L"  C:\\Windows\\SysWOW64\\Corvane.exe\r\n"
                         L"Windows: 10.0 build 19045\r\n"
                         L"Output: \"Speakers (USB Audio)\", muted\r\n"
                         L"Keyboard: VID_1209&PID_0001, report 00 A1 01 00 00 00 00 00 00, sent in 12.3 ms\r\n"
                         L"  accepted by ") + kInterface0 + L"\r\n" +
                L"  refused by " + kInterface1 +
                L" with error 23: Text of 23. (normal: another interface took the report)\r\n" +
                L"  other HID interfaces walked: 4\r\n"
                L"    VID_046D&PID_C52B x2, VID_8087&PID_0A2B x1\r\n"
                L"    1 whose identifiers could not be read\r\n"
                L"Run value: C:\\Windows\\SysWOW64\\Corvane.exe (program exists, this file)\r\n"
                L"  version 1.0.0.10, in the system folder of its bitness\r\n"
                L"Uninstall entry: C:\\Windows\\SysWOW64\\Corvane.exe /uninstall (program exists, this file)\r\n"
                L"Resident: running, process 1234, Corvane 1.0.0.10\r\n"
                L"  C:\\Windows\\SysWOW64\\Corvane.exe (the program the Run value names)\r\n"
                L"  answers: follows its output, at the physical console, lid open, muted\r\n"
                L"  last sent 12 s ago, taken by 1 interface\r\n"
                L"Session: 1, at the physical console\r\n"
                L"Lid: present\r\n"
                L"Result: the light follows the mute state: an output, the keyboard, the log-on entry and a "
                L"running Corvane are in place (exit code 0)\r\n");
  EXPECT_EQ(CheckExitCode(fixture.facts), 0);
}

struct Variant {
  const char* What;
  std::function<void(Fixture&)> Change;
  std::wstring Line;  // a whole line of the text that the change leads to
  int ExitCode;
};

TEST(CheckReport, EachFailureHasItsLineAndExitCode) {
  const Variant variants[] = {
      {"64-bit", [](Fixture& f) { f.facts.Program.Bits = 64; },
       L"Program: Corvane 1.0.0.10, 64-bit, not elevated", 0},
      {"token and WoW64 unreadable",
       [](Fixture& f) { f.facts.Program.Wow64 = f.facts.Program.Elevated = Answer::Unknown; },
       L"Program: Corvane 1.0.0.10, 32-bit, WoW64 unknown, elevation unknown", 0},
      {"no output",
       [](Fixture& f) { f.facts.Output = OutputFacts{false, L"GetDefaultAudioEndpoint", 0x80070490, nullptr, 0, false}; },
       L"  GetDefaultAudioEndpoint failed with 0x80070490: Text of 2147943568.", 1},
      {"no output, result", [](Fixture& f) { f.facts.Output.Found = false; },
       L"Result: no audio output: enable or plug in a playback device; until then Corvane does not start (exit code 1)",
       1},
      {"state and name unreadable",
       [](Fixture& f) { f.facts.Output = OutputFacts{true, L"GetMute", 0x80004005, nullptr, 0x80004001, false}; },
       L"Output: exists, name unreadable, mute state unknown", 0},
      {"name unreadable, its line",
       [](Fixture& f) { f.facts.Output = OutputFacts{true, nullptr, 0, nullptr, 0x80004001, false}; },
       L"  reading its name failed with 0x80004001: Text of 2147500033.", 0},
      {"no keyboard",
       [](Fixture& f) { f.keyboard.KeyboardInterfaces = f.keyboard.Accepted = 0; },
       L"  no interface of this keyboard found: plug it in, or compare VID_1209&PID_0001 with its Hardware Ids in "
       L"Device Manager; the other devices are listed",
       1},
      {"no keyboard, nothing sent", [](Fixture& f) { f.keyboard.KeyboardInterfaces = f.keyboard.Accepted = 0; },
       L"Keyboard: VID_1209&PID_0001, report 00 A1 01 00 00 00 00 00 00, not sent; the HID interfaces were walked in "
       L"12.3 ms",
       1},
      {"every interface refuses", [](Fixture& f) { f.keyboard.Accepted = 0; },
       L"Result: every interface of the keyboard refused the report: send this report to whoever supports the "
       L"keyboard (exit code 1)",
       1},
      {"every interface refuses, no longer normal", [](Fixture& f) { f.keyboard.Accepted = 0; },
       std::wstring(L"  refused by ") + kInterface1 + L" with error 23: Text of 23.", 1},
      {"neither keyboard nor output",
       [](Fixture& f) {
         f.keyboard.Accepted = 0;
         f.facts.Output.Found = false;
       },
       L"Result: no audio output: enable or plug in a playback device; until then Corvane does not start (exit code 1)",
       1},
      {"interfaces not listed",
       [](Fixture& f) { f.keyboard = FeatureSendRecord{}; f.keyboard.ListError = 13; },
       L"  the HID interfaces could not be listed (error 13: Text of 13.): send this report to whoever supports the "
       L"keyboard",
       1},
      {"more interfaces than recorded",
       [](Fixture& f) {
         for (KeyboardInterfaceSend& send : f.keyboard.Keyboard) SetSend(send, kInterface0, true, 0);
         f.keyboard.KeyboardInterfaces = 11;
         f.keyboard.Accepted = 10;
       },
       L"  and 3 more interfaces of this keyboard; 10 of all 11 took the report", 0},
      {"error without text", [](Fixture& f) { f.keyboard.Keyboard[1].Error = kNoText; },
       std::wstring(L"  refused by ") + kInterface1 + L" with error 1784 (normal: another interface took the report)", 0},
      {"not installed", [](Fixture& f) { f.facts.RunValue.ReadError = 2; },
       L"Run value: absent, Corvane is not installed: run Install_Corvane.exe", 1},
      {"not installed, result", [](Fixture& f) { f.facts.RunValue.ReadError = 2; },
       L"Result: Corvane is not installed: run Install_Corvane.exe (exit code 1)", 1},
      {"Run value unreadable", [](Fixture& f) { f.facts.RunValue.ReadError = 5; },
       L"Run value: unreadable (error 5: Text of 5.): run Install_Corvane.exe", 1},
      {"entry unreadable", [](Fixture& f) { f.facts.UninstallEntry.ReadError = 5; },
       L"Uninstall entry: unreadable (error 5: Text of 5.)", 0},
      {"program missing", [](Fixture& f) { f.facts.RunValue.Program = NamedProgram::Missing; },
       L"Run value: C:\\Windows\\SysWOW64\\Corvane.exe (program missing): run Install_Corvane.exe", 1},
      {"recorded program outside the system folder",
       [](Fixture& f) {
         f.facts.RunProgramInSystemFolder = Answer::No;
         f.facts.RunProgramVersion[3] = 9;
       },
       L"  version 1.0.0.9, not in the system folder of its bitness", 0},
      {"another program", [](Fixture& f) { f.facts.UninstallEntry.Program = NamedProgram::AnotherFile; },
       L"Uninstall entry: C:\\Windows\\SysWOW64\\Corvane.exe /uninstall (program exists, another file)", 0},
      {"not compared", [](Fixture& f) { f.facts.RunValue.Program = NamedProgram::NotCompared; },
       L"Run value: C:\\Windows\\SysWOW64\\Corvane.exe (program exists, not compared)", 0},
      {"not running", [](Fixture& f) { f.facts.ResidentRunning = false; },
       L"Resident: not running: run Install_Corvane.exe, or log off and on", 1},
      {"not running, result", [](Fixture& f) { f.facts.ResidentRunning = false; },
       L"Result: Corvane is not running: run Install_Corvane.exe, or log off and on (exit code 1)", 1},
      {"stray resident",
       [](Fixture& f) {
         f.facts.ResidentPath = kStray;
         f.facts.ResidentVersion[3] = 9;
         f.facts.ResidentIsRunProgram = Answer::No;
       },
       L"  C:\\Users\\Ann\\Downloads\\Corvane.exe (not the program the Run value names)", 0},
      {"stray resident, its version", [](Fixture& f) { f.facts.ResidentVersion[3] = 9; },
       L"Resident: running, process 1234, Corvane 1.0.0.9", 0},
      {"resident's file unreadable",
       [](Fixture& f) {
         f.facts.ResidentPath = nullptr;
         f.facts.ResidentPathError = 5;
       },
       L"  its program file unreadable, error 5: Text of 5.", 0},
      {"other devices beyond the listed ones",
       [](Fixture& f) {
         for (unsigned i = 0; i < RECORDED_OTHER_DEVICES + 2; ++i) RecordOtherDevice(&f.keyboard, 0x2000, i);
         f.keyboard.OtherInterfaces = 3 + RECORDED_OTHER_DEVICES + 2;
       },
       L"    and 4 interfaces of further devices", 0},
      {"other devices, a line holds three",
       [](Fixture& f) { RecordOtherDevice(&f.keyboard, 0x2000, 0x0001); },
       L"    VID_046D&PID_C52B x2, VID_8087&PID_0A2B x1, VID_2000&PID_0001 x1", 0},
      {"time west of UTC", [](Fixture& f) { f.facts.Time.UtcOffsetMinutes = -570; },
       L"Checked: 2026-12-09 14:03:05 UTC-09:30", 0},
      {"no lid", [](Fixture& f) { f.facts.LidPresent = false; }, L"Lid: none reported", 0},
      {"lid unknown",
       [](Fixture& f) {
         f.facts.LidKnown = false;
         f.facts.LidError = 50;
       },
       L"Lid: unknown, error 50: Text of 50.", 0},
      {"Remote Desktop session", [](Fixture& f) { f.facts.Session.Own = 2; },
       L"Session: 2, not at the physical console (session 1 is); its resident sends nothing to the keyboard", 1},
      {"console being attached", [](Fixture& f) { f.facts.Session.Console = 0xFFFFFFFF; },
       L"Session: 1, not at the physical console (no session is attached to it now); its resident sends nothing to "
       L"the keyboard", 1},
      {"another session's check sends nothing, nor counts its output",
       [](Fixture& f) {
         f.facts.Session.Own = 2;
         f.facts.Keyboard = nullptr;
         f.facts.Output.Found = false;
       },
       L"Keyboard: VID_1209&PID_0001, report 00 A1 01 00 00 00 00 00 00, not sent: this session is not at the "
       L"physical console", 1},
      {"another session's check, result",
       [](Fixture& f) {
         f.facts.Session.Own = 2;
         f.facts.Keyboard = nullptr;
       },
       L"Result: this session is not the one at the screen: the light follows the session at the physical console; "
       L"run the check there (exit code 1)", 1},
      {"resident in another session, lid closed",
       [](Fixture& f) { f.facts.Resident = ResidentAnswer{true, false, true, false, true, 1, 12}; },
       L"Result: this session is not the one at the screen: the light follows the session at the physical console; "
       L"run the check there (exit code 1)", 1},
      {"resident's answer, each flag the other way",
       [](Fixture& f) { f.facts.Resident = ResidentAnswer{false, false, true, false, true, 1, 12}; },
       L"  answers: hears no output, not at the physical console, lid closed, not muted", 1},
      {"resident hears nothing",
       [](Fixture& f) { f.facts.Resident.FollowsOutput = false; },
       L"Result: Corvane hears no audio output: run Install_Corvane.exe, or log off and on (exit code 1)", 1},
      {"lid closed", [](Fixture& f) { f.facts.Resident.LidClosed = true; },
       L"Result: the lid is closed: Corvane stays silent until it opens (exit code 1)", 1},
      {"resident hung", [](Fixture& f) { f.facts.ResidentAnswered = false; f.facts.ResidentAskError = 1460; },
       L"  no answer (error 1460: Text of 1460.): hung, or another program's window", 1},
      {"resident hung, result", [](Fixture& f) { f.facts.ResidentAnswered = false; f.facts.ResidentAskError = 1460; },
       L"Result: Corvane did not answer: end process 1234 in Task Manager, then log off and on (exit code 1)", 1},
      {"foreign window", [](Fixture& f) { f.facts.ResidentAnswered = false; },
       L"  an answer that is not Corvane's: another program's window, or an older Corvane", 1},
      {"resident never sent", [](Fixture& f) { f.facts.Resident.Sent = false; },
       L"  has sent nothing since it started", 0},
      {"sent minutes ago",
       [](Fixture& f) {
         f.facts.Resident.SentSecondsAgo = 599;
         f.facts.Resident.Accepted = 2;
       },
       L"  last sent 9 min ago, taken by 2 interfaces", 0},
      {"sent hours ago", [](Fixture& f) { f.facts.Resident.SentSecondsAgo = 7200; },
       L"  last sent 2 h ago, taken by 1 interface", 0},
      {"sent longer ago than the answer counts",
       [](Fixture& f) { f.facts.Resident.SentSecondsAgo = RESIDENT_ANSWER_AGE_LIMIT; },
       L"  last sent over 36 h ago, taken by 1 interface", 0},
      {"session unknown", [](Fixture& f) { f.facts.Session = SessionFacts{false, 0, 1, 5}; },
       L"Session: unknown, error 5: Text of 5.; its resident drives the keyboard as if at the console", 0},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.What);
    Fixture fixture;
    variant.Change(fixture);
    const std::wstring text = fixture.Text();
    EXPECT_NE(text.find(L"\n" + variant.Line + L"\r\n"), std::wstring::npos) << testing::PrintToString(text);
    EXPECT_EQ(CheckExitCode(fixture.facts), variant.ExitCode);
  }
}

// Each field in its own bits, the counts cut to what they hold; nothing without the mark passes.
TEST(CheckReport, ResidentAnswerPackedAndRead) {
  auto fields = [](const ResidentAnswer& a) {
    return std::make_tuple(a.FollowsOutput, a.DrivesKeyboard, a.LidClosed, a.Muted, a.Sent, a.Accepted,
                           a.SentSecondsAgo);
  };
  const ResidentAnswer answers[] = {{true, false, true, false, true, 40, RESIDENT_ANSWER_AGE_LIMIT + 5},
                                    {false, true, false, true, false, 3, 77}};
  const ResidentAnswer expected[] = {{true, false, true, false, true, 31, RESIDENT_ANSWER_AGE_LIMIT},
                                     {false, true, false, true, false, 3, 77}};
  for (int i = 0; i < 2; ++i) {
    ResidentAnswer read{};
    ASSERT_TRUE(UnpackResidentAnswer(PackResidentAnswer(answers[i]), &read));
    EXPECT_EQ(fields(read), fields(expected[i]));
  }
  ResidentAnswer read{};
  EXPECT_FALSE(UnpackResidentAnswer(0, &read));  // DefWindowProcW of another program's window
  EXPECT_FALSE(UnpackResidentAnswer(PackResidentAnswer(answers[1]) | 1ull << 32, &read));
}

TEST(CheckReport, ProgramOfARecordedCommand) {
  const struct {
    const wchar_t* Command;
    const wchar_t* Program;
  } cases[] = {
      {L"C:\\Windows\\SysWOW64\\Corvane.exe", L"C:\\Windows\\SysWOW64\\Corvane.exe"},
      {L"C:\\Windows\\SysWOW64\\Corvane.exe /uninstall", L"C:\\Windows\\SysWOW64\\Corvane.exe"},
      {L"\"C:\\Program Files\\Corvane.exe\"", L"C:\\Program Files\\Corvane.exe"},
      {L"\"C:\\Program Files\\Corvane.exe\" /uninstall", L"C:\\Program Files\\Corvane.exe"},
      {L"C:\\Program Files\\Corvane.exe /uninstall", L"C:\\Program Files\\Corvane.exe"},
      {L"\"C:\\Program Files\\Corvane.exe", L"C:\\Program Files\\Corvane.exe"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    wchar_t program[RECORDED_PATH_CAPACITY];
    ProgramOfCommand(c.Command, program);
    EXPECT_EQ(std::wstring(program), c.Program) << testing::PrintToString(c.Command);
  }
  // A longer command is cut to the capacity, terminated.
  const std::wstring longCommand(400, L'x');
  wchar_t program[RECORDED_PATH_CAPACITY];
  ProgramOfCommand(longCommand.c_str(), program);
  EXPECT_EQ(std::wstring(program), std::wstring(RECORDED_PATH_CAPACITY - 1, L'x'));
}

}  // namespace
