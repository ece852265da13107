#include "check_report.h"

#include "app/activity_rules.h"
#include "common/text_writer.h"

namespace {

constexpr std::uint32_t FILE_NOT_FOUND = 2;  // ERROR_FILE_NOT_FOUND
constexpr unsigned ERROR_TEXT_CAPACITY = 256;

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

void AppendAnswer(TextWriter& out, Answer answer, const wchar_t* yes, const wchar_t* no, const wchar_t* unknown) {
  out.Append(answer == Answer::Yes ? yes : answer == Answer::No ? no : unknown);
}

void AppendProgram(TextWriter& out, const ProgramFacts& program) {
  out.Append(L"Program: Corvane ");
  for (unsigned i = 0; i < 4; ++i) {
    if (i > 0) out.Append(L'.');
    out.AppendNumber(program.Version[i]);
  }
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
    out.Append(L"none");
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

void AppendKeyboard(TextWriter& out, const CheckFacts& facts) {
  const FeatureSendRecord& keyboard = *facts.Keyboard;
  out.Append(L"Keyboard: VID_");
  out.AppendHex(facts.VendorId, 4);
  out.Append(L"&PID_");
  out.AppendHex(facts.ProductId, 4);
  out.Append(L", report");
  for (unsigned char byte : facts.Report) {
    out.Append(L' ');
    out.AppendHex(byte, 2);
  }
  out.Append(L", sent in ");
  out.AppendNumber(facts.SendMicroseconds / 1000);
  out.Append(L'.');
  out.AppendNumber(facts.SendMicroseconds % 1000 / 100);
  out.Append(L" ms");
  EndLine(out);
  if (!keyboard.Listed) {
    out.Append(L"  the HID interfaces could not be listed, ");
    AppendError(out, facts, keyboard.ListError);
    EndLine(out);
    return;
  }
  const unsigned recorded =
      keyboard.KeyboardInterfaces < RECORDED_KEYBOARD_INTERFACES ? keyboard.KeyboardInterfaces : RECORDED_KEYBOARD_INTERFACES;
  for (unsigned i = 0; i < recorded; ++i) {
    const KeyboardInterfaceSend& send = keyboard.Keyboard[i];
    out.Append(send.Accepted ? L"  accepted by " : L"  refused by ");
    out.Append(send.Path);
    if (!send.Accepted) {
      out.Append(L" with ");
      AppendError(out, facts, send.Error);
    }
    EndLine(out);
  }
  if (keyboard.KeyboardInterfaces == 0) {
    out.Append(L"  no interface of this keyboard found");
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
  out.Append(L"  other HID interfaces walked: ");
  out.AppendNumber(keyboard.OtherInterfaces);
  EndLine(out);
}

void AppendRecordEntry(TextWriter& out, const CheckFacts& facts, const wchar_t* label, const RecordEntryFacts& entry) {
  out.Append(label);
  if (entry.ReadError == FILE_NOT_FOUND) {
    out.Append(L"absent");
  } else if (entry.ReadError != 0) {
    out.Append(L"unreadable, ");
    AppendError(out, facts, entry.ReadError);
  } else {
    out.Append(entry.Command);
    switch (entry.Program) {
      case NamedProgram::Missing: out.Append(L" (program missing)"); break;
      case NamedProgram::ThisFile: out.Append(L" (program exists, this file)"); break;
      case NamedProgram::AnotherFile: out.Append(L" (program exists, another file)"); break;
      case NamedProgram::NotCompared: out.Append(L" (program exists, not compared)"); break;
    }
  }
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
    if (SessionDrivesKeyboard(true, session.Own, session.Console)) {
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

int CheckExitCode(const CheckFacts& facts) {
  return facts.Keyboard->Accepted > 0 && facts.Output.Found ? 0 : 1;
}

void FormatCheckReport(const CheckFacts& facts, wchar_t (&text)[CHECK_REPORT_CAPACITY]) {
  TextWriter out(text);
  out.Append(L"Corvane self-check");
  EndLine(out);
  AppendProgram(out, facts.Program);
  AppendOutput(out, facts);
  AppendKeyboard(out, facts);
  AppendRecordEntry(out, facts, L"Run value: ", facts.RunValue);
  AppendRecordEntry(out, facts, L"Uninstall entry: ", facts.UninstallEntry);
  out.Append(L"Resident: ");
  if (facts.ResidentRunning) {
    out.Append(L"running, process ");
    out.AppendNumber(facts.ResidentProcessId);
  } else {
    out.Append(L"not running");
  }
  EndLine(out);
  AppendSession(out, facts);
  out.Append(L"Lid: ");
  if (!facts.LidKnown) {
    out.Append(L"unknown, ");
    AppendError(out, facts, facts.LidError);
  } else {
    out.Append(facts.LidPresent ? L"present" : L"none reported");
  }
  EndLine(out);
  out.Append(L"Result: ");
  if (CheckExitCode(facts) == 0) {
    out.Append(L"the keyboard took the report and an output exists (exit code 0)");
  } else {
    if (facts.Keyboard->Accepted == 0) out.Append(L"no interface of the keyboard took the report");
    if (facts.Keyboard->Accepted == 0 && !facts.Output.Found) out.Append(L"; ");
    if (!facts.Output.Found) out.Append(L"no audio output");
    out.Append(L" (exit code 1)");
  }
  EndLine(out);
}

void ProgramOfCommand(const wchar_t* command, wchar_t (&path)[RECORDED_PATH_CAPACITY]) {
  TextWriter out(path);
  if (command[0] == L'"') {
    for (const wchar_t* c = command + 1; *c != L'\0' && *c != L'"'; ++c) out.Append(*c);
    return;
  }
  for (const wchar_t* c = command; *c != L'\0' && !(c[0] == L' ' && c[1] == L'/'); ++c) out.Append(*c);
}
