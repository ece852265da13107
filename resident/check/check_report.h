#pragma once
// The text and the exit code of "Corvane.exe /check" from the facts that the
// Win32 side gathered. Platform-free, so that every line is tested natively.
#include <cstdint>

#include "common/resident_answer.h"
#include "keyboard/feature_report.h"
#include "registration/record_rules.h"

enum class Answer : unsigned char { No, Yes, Unknown };

struct ProgramFacts {
  const wchar_t* Path;       // the running program's file
  std::uint16_t Version[4];  // its file version, zeros without a version block
  unsigned Bits;             // 32 or 64
  Answer Wow64;              // a 32-bit program on 64-bit Windows
  std::uint32_t WindowsMajor, WindowsMinor, WindowsBuild;
  Answer Elevated;
};

struct OutputFacts {
  bool Found;                  // the default render endpoint exists
  const wchar_t* FailedStep;   // the call that failed, null when the mute state was read
  std::uint32_t FailedResult;  // its HRESULT
  const wchar_t* Name;         // the endpoint's friendly name, null when it could not be read
  std::uint32_t NameResult;    // the HRESULT of that reading when Name is null
  bool Muted;
};

// The local date and time of the check, and that time's offset from UTC.
struct CheckTime {
  bool Known;
  std::uint16_t Year, Month, Day, Hour, Minute, Second;
  std::int32_t UtcOffsetMinutes;
};

// The Run value or the uninstall entry's "UninstallString", read from the 64-bit view.
struct RecordEntryFacts {
  std::uint32_t ReadError;  // 0: read; ERROR_FILE_NOT_FOUND (2): absent; otherwise the registry's error
  const wchar_t* Command;   // the value as read
  NamedProgram Program;     // the program that Command starts
};

// This process's session beside the one attached to the physical console.
struct SessionFacts {
  bool Known;               // ProcessIdToSessionId succeeded
  std::uint32_t Own;
  std::uint32_t Console;    // WTSGetActiveConsoleSessionId; 0xFFFFFFFF while none is attached
  std::uint32_t Error;      // the system's error code when not Known
};

struct CheckFacts {
  CheckTime Time;
  ProgramFacts Program;
  OutputFacts Output;
  std::uint16_t VendorId, ProductId;  // the keyboard this build is for
  unsigned char Report[FEATURE_REPORT_LENGTH];
  const FeatureSendRecord* Keyboard;  // null when the check sent nothing: another session is at the console
  std::uint32_t SendMicroseconds;  // the whole walk
  RecordEntryFacts RunValue, UninstallEntry;
  // The program the Run value names, when it exists: its file version, and whether it
  // lies directly in the system folder of its own bitness (Unknown: bitness unreadable).
  std::uint16_t RunProgramVersion[4];
  Answer RunProgramInSystemFolder;
  bool ResidentRunning;  // a control window of Corvane in this session
  std::uint32_t ResidentProcessId;
  const wchar_t* ResidentPath;        // its program file; null when it could not be read
  std::uint32_t ResidentPathError;    // the system's error code then
  std::uint16_t ResidentVersion[4];
  Answer ResidentIsRunProgram;        // the same file as the Run value's program
  bool ResidentAnswered;              // it answered the check's question as Corvane does
  std::uint32_t ResidentAskError;     // the system's error code when no answer came; 0: an answer not Corvane's
  ResidentAnswer Resident;            // its answer
  bool LidKnown;             // the power capabilities could be read
  bool LidPresent;
  std::uint32_t LidError;    // the system's error code when they could not
  // The system's text for an error code or HRESULT (FormatMessageW); may leave it empty.
  void (*DescribeError)(std::uint32_t code, wchar_t* text, unsigned capacity);
  SessionFacts Session;
};

constexpr unsigned CHECK_REPORT_CAPACITY = 8192;

// Lines ended by CR LF, at most about one screen.
void FormatCheckReport(const CheckFacts& facts, wchar_t (&text)[CHECK_REPORT_CAPACITY]);

// What keeps the indicator from following the mute state, the first that holds in
// this order; None when everything it needs is in place.
enum class CheckCause : unsigned char {
  None,
  NotAtConsole,      // this session, or the resident's, is not at the physical console
  NoOutput,          // no default audio output: the resident does not start
  DevicesUnlisted,   // the HID interfaces could not be listed
  KeyboardNotFound,  // no interface with this build's identifiers
  KeyboardRefused,   // every interface of the keyboard refused the report
  NotInstalled,      // no Run value, or the program it names is missing
  NotRunning,        // no resident in this session
  NoAnswer,          // the resident's window did not answer as Corvane does
  ResidentDeaf,      // the resident follows no output, even after binding afresh
  LidClosed,         // the resident holds the lid closed and stays silent
};
CheckCause FirstCause(const CheckFacts& facts);

// Whether the check runs in the session whose resident drives the keyboard; only
// then does the check itself send to it.
bool CheckSessionDrivesKeyboard(const CheckFacts& facts);

// 0 when there is no cause: the light follows the mute state. Otherwise 1.
int CheckExitCode(const CheckFacts& facts);
