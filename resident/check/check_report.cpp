#include "check_report.h"

#include "common/session_rules.h"
#include "common/text_writer.h"

namespace {

constexpr std::uint32_t FILE_NOT_FOUND = 2;  // ERROR_FILE_NOT_FOUND
constexpr unsigned ERROR_TEXT_CAPACITY = 256;
constexpr unsigned OTHER_DEVICES_PER_LINE = 3;

// What the user does about each cause; the failure's own line and the Result line say it.
constexpr wchar_t STEP_OUTPUT[] = L"enable or plug in a playback device; until then Corvane does not start";
constexpr wchar_t STEP_SUPPORT[] = L"send this report to whoever supports the keyboard";
constexpr wchar_t STEP_INSTALL[] = L"run Install_Corvane.exe";
constexpr wchar_t STEP_START[] = L"run Install_Corvane.exe, or log off and on";
constexpr wchar_t STEP_CONSOLE[] =
    L"the light follows the session at the physical console; run the check there";
constexpr std::uint32_t SECONDS_SHOWN_UP_TO = 120;
constexpr std::uint32_t MINUTES_SHOWN_UP_TO = 120 * 60;

void EndLine(TextWriter& out) { out.Append(L"\r\n"); }

// The system's text for CODE after ": ", without the line end it comes with.
void AppendDescription(TextWriter& out, const CheckFacts& facts, std::uint32_t code) {
  wchar_t text[ERROR_TEXT_CAPACITY] = L"";
  facts.DescribeError(code, text, ERROR_TEXT_CAPACITY);
  text[ERROR_TEXT_CAPACITY - 1] = L'\0';
  unsigned length = 0;
  while (text[length] != L'\0') ++length;
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
    --length;
  if (length == 0) return;
  out.Append(L": ");
  out.Append(text, length);
}

void AppendError(TextWriter& out, const CheckFacts& facts, std::uint32_t code) {
  out.Append(L"error ");
  out.AppendNumber(code);
  AppendDescription(out, facts, code);
}

void AppendHresult(TextWriter& out, const CheckFacts& facts, std::uint32_t result) {
  out.Append(L"0x");
  out.AppendHex(result, 8);
  AppendDescription(out, facts, result);
}

void AppendVersion(TextWriter& out, const std::uint16_t (&version)[4]) {
  for (unsigned i = 0; i < 4; ++i) {
    if (i > 0) out.Append(L'.');
    out.AppendNumber(version[i]);
  }
}

void AppendIdentifiers(TextWriter& out, std::uint16_t vendorId, std::uint16_t productId) {
  out.Append(L"VID_");
  out.AppendHex(vendorId, 4);
  out.Append(L"&PID_");
  out.AppendHex(productId, 4);
}

void AppendNotFoundStep(TextWriter& out, const CheckFacts& facts) {
  out.Append(L"plug it in, or compare ");
  AppendIdentifiers(out, facts.VendorId, facts.ProductId);
  out.Append(L" with its Hardware Ids in Device Manager; the other devices are listed");
}

void AppendTime(TextWriter& out, const CheckTime& time) {
  out.Append(L"Checked: ");
  if (!time.Known) {
    out.Append(L"time unknown");
    EndLine(out);
    return;
  }
  out.AppendNumber(time.Year, 4);
  out.Append(L'-');
  out.AppendNumber(time.Month, 2);
  out.Append(L'-');
  out.AppendNumber(time.Day, 2);
  out.Append(L' ');
  out.AppendNumber(time.Hour, 2);
  out.Append(L':');
  out.AppendNumber(time.Minute, 2);
  out.Append(L':');
  out.AppendNumber(time.Second, 2);
  out.Append(time.UtcOffsetMinutes < 0 ? L" UTC-" : L" UTC+");
  const std::uint32_t offset = static_cast<std::uint32_t>(time.UtcOffsetMinutes < 0 ? -time.UtcOffsetMinutes
                                                                                    : time.UtcOffsetMinutes);
  out.AppendNumber(offset / 60, 2);
  out.Append(L':');
  out.AppendNumber(offset % 60, 2);
  EndLine(out);
}

void AppendAnswer(TextWriter& out, Answer answer, const wchar_t* yes, const wchar_t* no, const wchar_t* unknown) {
  out.Append(answer == Answer::Yes ? yes : answer == Answer::No ? no : unknown);
}

void AppendProgram(TextWriter& out, const ProgramFacts& program) {
  out.Append(L"Program: Corvane ");
  AppendVersion(out, program.Version);
  out.Append(program.Bits == 64 ? L", 64-bit" : L", 32-bit");
  if (program.Bits != 64) AppendAnswer(out, program.Wow64, L" under WoW64", L"", L", WoW64 unknown");
  AppendAnswer(out, program.Elevated, L", elevated", L", not elevated", L", elevation unknown");
  EndLine(out);
  out.Append(L"  ");
  out.Append(program.Path);
  EndLine(out);
  out.Append(L"Windows: ");
  out.AppendNumber(program.WindowsMajor);
  out.Append(L'.');
  out.AppendNumber(program.WindowsMinor);
  out.Append(L" build ");
  out.AppendNumber(program.WindowsBuild);
  EndLine(out);
}

void AppendOutput(TextWriter& out, const CheckFacts& facts) {
  const OutputFacts& output = facts.Output;
  out.Append(L"Output: ");
  if (!output.Found) {
    out.Append(L"none: ");
    out.Append(STEP_OUTPUT);
  } else {
    if (output.Name) {
      out.Append(L'"');
      out.Append(output.Name);
      out.Append(L'"');
    } else {
      out.Append(L"exists, name unreadable");
    }
    out.Append(output.FailedStep ? L", mute state unknown" : output.Muted ? L", muted" : L", not muted");
  }
  EndLine(out);
  if (output.Found && !output.Name) {
    out.Append(L"  reading its name failed with ");
    AppendHresult(out, facts, output.NameResult);
    EndLine(out);
  }
  if (output.FailedStep) {
    out.Append(L"  ");
    out.Append(output.FailedStep);
    out.Append(L" failed with ");
    AppendHresult(out, facts, output.FailedResult);
    EndLine(out);
  }
}

void AppendOtherDevices(TextWriter& out, const FeatureSendRecord& keyboard) {
  out.Append(L"  other HID interfaces walked: ");
  out.AppendNumber(keyboard.OtherInterfaces);
  EndLine(out);
  unsigned listed = 0;
  for (unsigned i = 0; i < keyboard.OtherDevices; ++i) {
    const OtherDevice& device = keyboard.Others[i];
    out.Append(i % OTHER_DEVICES_PER_LINE == 0 ? L"    " : L", ");
    AppendIdentifiers(out, device.VendorId, device.ProductId);
    out.Append(L" x");
    out.AppendNumber(device.Interfaces);
    if (i % OTHER_DEVICES_PER_LINE == OTHER_DEVICES_PER_LINE - 1 || i + 1 == keyboard.OtherDevices) EndLine(out);
    listed += device.Interfaces;
  }
  if (keyboard.UnlistedInterfaces > 0) {
    out.Append(L"    and ");
    out.AppendNumber(keyboard.UnlistedInterfaces);
    out.Append(L" interfaces of further devices");
    EndLine(out);
    listed += keyboard.UnlistedInterfaces;
  }
  if (keyboard.OtherInterfaces > listed) {
    out.Append(L"    ");
    out.AppendNumber(keyboard.OtherInterfaces - listed);
    out.Append(L" whose identifiers could not be read");
    EndLine(out);
  }
}

void AppendKeyboard(TextWriter& out, const CheckFacts& facts) {
  out.Append(L"Keyboard: ");
  AppendIdentifiers(out, facts.VendorId, facts.ProductId);
  out.Append(L", report");
  for (unsigned char byte : facts.Report) {
    out.Append(L' ');
    out.AppendHex(byte, 2);
  }
  if (!facts.Keyboard) {
    out.Append(L", not sent: this session is not at the physical console");
    EndLine(out);
    return;
  }
  const FeatureSendRecord& keyboard = *facts.Keyboard;
  if (!keyboard.Listed) {
    out.Append(L", not sent");
    EndLine(out);
    out.Append(L"  the HID interfaces could not be listed (");
    AppendError(out, facts, keyboard.ListError);
    out.Append(L"): ");
    out.Append(STEP_SUPPORT);
    EndLine(out);
    return;
  }
  out.Append(keyboard.KeyboardInterfaces > 0 ? L", sent in " : L", not sent; the HID interfaces were walked in ");
  out.AppendNumber(facts.SendMicroseconds / 1000);
  out.Append(L'.');
  out.AppendNumber(facts.SendMicroseconds % 1000 / 100);
  out.Append(L" ms");
  EndLine(out);
  const unsigned recorded =
      keyboard.KeyboardInterfaces < RECORDED_KEYBOARD_INTERFACES ? keyboard.KeyboardInterfaces : RECORDED_KEYBOARD_INTERFACES;
  for (unsigned i = 0; i < recorded; ++i) {
    const KeyboardInterfaceSend& send = keyboard.Keyboard[i];
    out.Append(send.Accepted ? L"  accepted by " : L"  refused by ");
    out.Append(send.Path);
    if (!send.Accepted) {
      out.Append(L" with ");
      AppendError(out, facts, send.Error);
      // Keyboards expose collections that take no feature report; one that does is enough.
      if (keyboard.Accepted > 0) out.Append(L" (normal: another interface took the report)");
    }
    EndLine(out);
  }
  if (keyboard.KeyboardInterfaces == 0) {
    out.Append(L"  no interface of this keyboard found: ");
    AppendNotFoundStep(out, facts);
    EndLine(out);
  } else if (keyboard.KeyboardInterfaces > recorded) {
    out.Append(L"  and ");
    out.AppendNumber(keyboard.KeyboardInterfaces - recorded);
    out.Append(L" more interfaces of this keyboard; ");
    out.AppendNumber(keyboard.Accepted);
    out.Append(L" of all ");
    out.AppendNumber(keyboard.KeyboardInterfaces);
    out.Append(L" took the report");
    EndLine(out);
  }
  if (keyboard.KeyboardInterfaces > 0 && keyboard.Accepted == 0) {
    out.Append(L"  every interface refused the report: ");
    out.Append(STEP_SUPPORT);
    EndLine(out);
  }
  AppendOtherDevices(out, keyboard);
}

// The Run value or the uninstall entry; STEP, when given, follows a value that is
// absent, unreadable or names a missing program.
void AppendRecordEntry(TextWriter& out, const CheckFacts& facts, const wchar_t* label, const RecordEntryFacts& entry,
                       const wchar_t* step) {
  out.Append(label);
  bool failed = true;
  if (entry.ReadError == FILE_NOT_FOUND) {
    out.Append(step ? L"absent, Corvane is not installed" : L"absent");
  } else if (entry.ReadError != 0) {
    out.Append(L"unreadable (");
    AppendError(out, facts, entry.ReadError);
    out.Append(L')');
  } else {
    out.Append(entry.Command);
    failed = entry.Program == NamedProgram::Missing;
    switch (entry.Program) {
      case NamedProgram::Missing: out.Append(L" (program missing)"); break;
      case NamedProgram::ThisFile: out.Append(L" (program exists, this file)"); break;
      case NamedProgram::AnotherFile: out.Append(L" (program exists, another file)"); break;
      case NamedProgram::NotCompared: out.Append(L" (program exists, not compared)"); break;
    }
  }
  if (failed && step) {
    out.Append(L": ");
    out.Append(step);
  }
  EndLine(out);
}

bool RunProgramExists(const CheckFacts& facts) {
  return facts.RunValue.ReadError == 0 && facts.RunValue.Program != NamedProgram::Missing;
}

void AppendRunProgram(TextWriter& out, const CheckFacts& facts) {
  if (!RunProgramExists(facts)) return;
  out.Append(L"  version ");
  AppendVersion(out, facts.RunProgramVersion);
  AppendAnswer(out, facts.RunProgramInSystemFolder, L", in the system folder of its bitness",
               L", not in the system folder of its bitness", L", bitness unreadable");
  EndLine(out);
}

// An age in seconds as a person reads it: seconds, then minutes, then hours.
void AppendAge(TextWriter& out, std::uint32_t seconds) {
  if (seconds >= RESIDENT_ANSWER_AGE_LIMIT) {
    out.Append(L"over ");
    out.AppendNumber(RESIDENT_ANSWER_AGE_LIMIT / 3600);
    out.Append(L" h");
  } else if (seconds < SECONDS_SHOWN_UP_TO) {
    out.AppendNumber(seconds);
    out.Append(L" s");
  } else if (seconds < MINUTES_SHOWN_UP_TO) {
    out.AppendNumber(seconds / 60);
    out.Append(L" min");
  } else {
    out.AppendNumber(seconds / 3600);
    out.Append(L" h");
  }
}

// What the resident said of itself, on two lines of their own.
void AppendResidentAnswer(TextWriter& out, const CheckFacts& facts) {
  if (!facts.ResidentAnswered) {
    if (facts.ResidentAskError != 0) {
      out.Append(L"  no answer (");
      AppendError(out, facts, facts.ResidentAskError);
      out.Append(L"): hung, or another program's window");
    } else {
      out.Append(L"  an answer that is not Corvane's: another program's window, or an older Corvane");
    }
    EndLine(out);
    return;
  }
  const ResidentAnswer& answer = facts.Resident;
  out.Append(answer.FollowsOutput ? L"  answers: follows its output" : L"  answers: hears no output");
  out.Append(answer.DrivesKeyboard ? L", at the physical console" : L", not at the physical console");
  out.Append(answer.LidClosed ? L", lid closed" : L", lid open");
  out.Append(answer.Muted ? L", muted" : L", not muted");
  EndLine(out);
  if (!answer.Sent) {
    out.Append(L"  has sent nothing since it started");
  } else {
    out.Append(L"  last sent ");
    AppendAge(out, answer.SentSecondsAgo);
    out.Append(L" ago, taken by ");
    out.AppendNumber(answer.Accepted);
    out.Append(answer.Accepted == 1 ? L" interface" : L" interfaces");
  }
  EndLine(out);
}

void AppendResident(TextWriter& out, const CheckFacts& facts) {
  out.Append(L"Resident: ");
  if (!facts.ResidentRunning) {
    out.Append(L"not running: ");
    out.Append(STEP_START);
    EndLine(out);
    return;
  }
  out.Append(L"running, process ");
  out.AppendNumber(facts.ResidentProcessId);
  if (facts.ResidentPath) {
    out.Append(L", Corvane ");
    AppendVersion(out, facts.ResidentVersion);
  }
  EndLine(out);
  out.Append(L"  ");
  if (!facts.ResidentPath) {
    out.Append(L"its program file unreadable, ");
    AppendError(out, facts, facts.ResidentPathError);
  } else {
    out.Append(facts.ResidentPath);
    AppendAnswer(out, facts.ResidentIsRunProgram, L" (the program the Run value names)",
                 L" (not the program the Run value names)", L" (not compared with the Run value)");
  }
  EndLine(out);
  AppendResidentAnswer(out, facts);
}

void AppendResult(TextWriter& out, const CheckFacts& facts) {
  out.Append(L"Result: ");
  switch (FirstCause(facts)) {
    case CheckCause::None:
      out.Append(L"the light follows the mute state: an output, the keyboard, the log-on entry and a running "
                 L"Corvane are in place");
      break;
    case CheckCause::NoOutput:
      out.Append(L"no audio output: ");
      out.Append(STEP_OUTPUT);
      break;
    case CheckCause::DevicesUnlisted:
      out.Append(L"the HID interfaces could not be listed: ");
      out.Append(STEP_SUPPORT);
      break;
    case CheckCause::KeyboardNotFound:
      out.Append(L"keyboard not found: ");
      AppendNotFoundStep(out, facts);
      break;
    case CheckCause::KeyboardRefused:
      out.Append(L"every interface of the keyboard refused the report: ");
      out.Append(STEP_SUPPORT);
      break;
    case CheckCause::NotInstalled:
      out.Append(L"Corvane is not installed: ");
      out.Append(STEP_INSTALL);
      break;
    case CheckCause::NotRunning:
      out.Append(L"Corvane is not running: ");
      out.Append(STEP_START);
      break;
    case CheckCause::NotAtConsole:
      out.Append(L"this session is not the one at the screen: ");
      out.Append(STEP_CONSOLE);
      break;
    case CheckCause::NoAnswer:
      out.Append(L"Corvane did not answer: end process ");
      out.AppendNumber(facts.ResidentProcessId);
      out.Append(L" in Task Manager, then log off and on");
      break;
    case CheckCause::ResidentDeaf:
      out.Append(L"Corvane hears no audio output: ");
      out.Append(STEP_START);
      break;
    case CheckCause::LidClosed:
      out.Append(L"the lid is closed: Corvane stays silent until it opens");
      break;
  }
  out.Append(CheckExitCode(facts) == 0 ? L" (exit code 0)" : L" (exit code 1)");
  EndLine(out);
}

// Only the resident of the session at the physical console drives the keyboard.
void AppendSession(TextWriter& out, const CheckFacts& facts) {
  const SessionFacts& session = facts.Session;
  out.Append(L"Session: ");
  if (!session.Known) {
    out.Append(L"unknown, ");
    AppendError(out, facts, session.Error);
    out.Append(L"; its resident drives the keyboard as if at the console");
  } else {
    out.AppendNumber(session.Own);
    if (CheckSessionDrivesKeyboard(facts)) {
      out.Append(L", at the physical console");
    } else {
      out.Append(L", not at the physical console (");
      if (session.Console == 0xFFFFFFFF) {
        out.Append(L"no session is attached to it now");
      } else {
        out.Append(L"session ");
        out.AppendNumber(session.Console);
        out.Append(L" is");
      }
      out.Append(L"); its resident sends nothing to the keyboard");
    }
  }
  EndLine(out);
}

}  // namespace

bool CheckSessionDrivesKeyboard(const CheckFacts& facts) {
  return SessionDrivesKeyboard(facts.Session.Known, facts.Session.Own, facts.Session.Console);
}

CheckCause FirstCause(const CheckFacts& facts) {
  // Another session's output and resident say nothing about the light.
  if (!CheckSessionDrivesKeyboard(facts) || !facts.Keyboard) return CheckCause::NotAtConsole;
  const FeatureSendRecord& keyboard = *facts.Keyboard;
  if (!facts.Output.Found) return CheckCause::NoOutput;
  if (!keyboard.Listed) return CheckCause::DevicesUnlisted;
  if (keyboard.KeyboardInterfaces == 0) return CheckCause::KeyboardNotFound;
  if (keyboard.Accepted == 0) return CheckCause::KeyboardRefused;
  if (!RunProgramExists(facts)) return CheckCause::NotInstalled;
  if (!facts.ResidentRunning) return CheckCause::NotRunning;
  if (!facts.ResidentAnswered) return CheckCause::NoAnswer;
  if (!facts.Resident.DrivesKeyboard) return CheckCause::NotAtConsole;
  if (!facts.Resident.FollowsOutput) return CheckCause::ResidentDeaf;
  if (facts.Resident.LidClosed) return CheckCause::LidClosed;
  return CheckCause::None;
}

int CheckExitCode(const CheckFacts& facts) { return FirstCause(facts) == CheckCause::None ? 0 : 1; }

void FormatCheckReport(const CheckFacts& facts, wchar_t (&text)[CHECK_REPORT_CAPACITY]) {
  TextWriter out(text);
  out.Append(L"Corvane self-check");
  EndLine(out);
  AppendTime(out, facts.Time);
  AppendProgram(out, facts.Program);
  AppendOutput(out, facts);
  AppendKeyboard(out, facts);
  AppendRecordEntry(out, facts, L"Run value: ", facts.RunValue, STEP_INSTALL);
  AppendRunProgram(out, facts);
  AppendRecordEntry(out, facts, L"Uninstall entry: ", facts.UninstallEntry, nullptr);
  AppendResident(out, facts);
  AppendSession(out, facts);
  out.Append(L"Lid: ");
  if (!facts.LidKnown) {
    out.Append(L"unknown, ");
    AppendError(out, facts, facts.LidError);
  } else {
    out.Append(facts.LidPresent ? L"present" : L"none reported");
  }
  EndLine(out);
  AppendResult(out, facts);
}
